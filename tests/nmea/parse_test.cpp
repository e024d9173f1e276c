#include "nmea/parse.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>

#include "nmea/parser.h"
#include "nmea_support.h"

namespace vgps {
namespace {

using test::fresh_info;
using test::NmeaReports;
using test::Strings;

// Feeds "$" + body + checksum to a fresh parser; returns the packs applied.
int decode(const std::string& body, nmeaINFO* info) {
    nmeaPARSER parser;
    EXPECT_EQ(1, nmea_parser_init(&parser));
    const std::string s = test::nmea_sentence(body);
    const int applied = nmea_parse(&parser, s.data(), static_cast<int>(s.size()), info);
    nmea_parser_destroy(&parser);
    return applied;
}

// The record's fields before the satellite table, in its order.
std::string fields(const nmeaINFO& i) {
    char s[512];
    std::snprintf(s, sizeof s,
                  "mask %d utc %d-%d-%d %d:%d:%d+%d sig %d fix %d dop %.9g %.9g %.9g pos %.9g %.9g "
                  "%.9g speed %.9g dir %.9g decl %.9g",
                  i.smask, i.utc.year, i.utc.mon, i.utc.day, i.utc.hour, i.utc.min, i.utc.sec,
                  i.utc.hsec, i.sig, i.fix, i.PDOP, i.HDOP, i.VDOP, i.lat, i.lon, i.elv, i.speed,
                  i.direction, i.declination);
    return s;
}

// One sentence of a GSV cycle carrying satellites first_id .. first_id+sats-1.
std::string gsv(int count, int index, int inview, int first_id, int sats) {
    char s[160];
    int n = std::snprintf(s, sizeof s, "GPGSV,%d,%d,%d", count, index, inview);
    for (int id = first_id; id < first_id + sats; ++id)
        n += std::snprintf(s + n, sizeof s - n, ",%d,%d,%d,%d", id, 10 + id, 100 + id, 30 + id % 10);
    return s;
}

TEST(NmeaDecoders, AcceptedSentencesWriteTheirFields) {
    const std::pair<const char*, const char*> cases[] = {
        // GGA moves the time but not the date; the digits after the point are
        // kept as one whole number. South; nonsense numbers are 0 and still
        // count; an empty longitude with an empty letter is -0.
        {"GPGGA,123519.250,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,0000",
         "mask 1 utc 110-11-6 12:35:19+250 sig 1 fix 1 dop 0 0.9 0 pos 4807.038 1131 545.4 speed 0 dir 0 decl 0"},
        {"GPGGA,123519,2712.5,S,,,x,y,z,w,M,v,M,u,t",
         "mask 1 utc 110-11-6 12:35:19+0 sig 0 fix 1 dop 0 0 0 pos -2712.5 -0 0 speed 0 dir 0 decl 0"},
        // A further field after the VDOP is accepted.
        {"GPGSA,A,3,01,,,,,,,,,,,,1.5,0.8,1.2,x",
         "mask 2 utc 110-11-6 0:0:0+0 sig 0 fix 3 dop 1.5 0.8 1.2 pos 0 0 0 speed 0 dir 0 decl 0"},
        // RMC: knots to km/h; the magnetic variation is not applied.
        {"GPRMC,123519,A,4807.038,N,01131.000,W,010.0,084.4,230394,003.1,W,A",
         "mask 8 utc 94-2-23 12:35:19+0 sig 2 fix 2 dop 0 0 0 pos 4807.038 -1131 0 speed 18.52 dir 84.4 decl 0"},
        // No mode field (13 fields); empty hemisphere letters give -0.
        {"GPRMC,000000.5,V,,,,,,,010111,,",
         "mask 8 utc 111-0-1 0:0:0+5 sig 0 fix 1 dop 0 0 0 pos -0 -0 0 speed 0 dir 0 decl 0"},
        {"GPVTG,054.7,T,034.4,M,005.5,N,010.2,K,A",
         "mask 16 utc 110-11-6 0:0:0+0 sig 0 fix 1 dop 0 0 0 pos 0 0 0 speed 10.2 dir 54.7 decl 34.4"},
    };
    for (const auto& [body, want] : cases) {
        nmeaINFO info = fresh_info();
        EXPECT_EQ(1, decode(body, &info)) << body;
        EXPECT_EQ(want, fields(info));
    }
    // Years 00 to 89 are 2000 to 2089.
    for (auto [date, year, mon] : {std::tuple{"010190", 90, 0}, {"311289", 189, 11}, {"150600", 100, 5}}) {
        nmeaINFO info = fresh_info();
        EXPECT_EQ(1, decode(std::string("GPRMC,000000,A,1,N,2,E,0,0,") + date + ",,", &info));
        EXPECT_EQ(year, info.utc.year) << date;
        EXPECT_EQ(mon, info.utc.mon) << date;
    }
}

TEST(NmeaDecoders, RejectedSentencesReportAndChangeNothing) {
    const std::string gga = ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";
    const std::string time_error = "Parse of time error (format error)!";
    const std::pair<std::string, Strings> cases[] = {
        {"GPGGA,1,2", {"GPGGA parse error!"}},
        {"GPGGA," + gga, {time_error, "GPGGA time parse error!"}},
        // Times of 6 or 8 to 10 characters only.
        {"GPGGA,123519." + gga, {time_error, "GPGGA time parse error!"}},
        {"GPGGA,12351" + gga, {time_error, "GPGGA time parse error!"}},
        {"GPGGA,123519.2500" + gga, {time_error, "GPGGA time parse error!"}},
        // Far longer than the time buffer: refused without writing past it.
        {"GPGGA," + std::string(700, '1') + gga, {time_error, "GPGGA time parse error!"}},
        {"GPGSA,A,3,01,02", {"GPGSA parse error!"}},
        // The last sentence of a cycle carries exactly the rest, the others four.
        {gsv(3, 3, 11, 9, 2), {"GPGSV parse error!"}},
        {gsv(3, 1, 11, 1, 3), {"GPGSV parse error!"}},
        // An empty date shifts the fields; an empty time fails the time parse.
        {"GPRMC,123519,A,4807.038,N,01131.000,W,010.0,084.4,,003.1,W", {"GPRMC parse error!"}},
        {"GPRMC,,V,,,,,,,010111,,,N", {time_error, "GPRMC time parse error!"}},
        {"GPVTG,054.7,,034.4,,005.5,,010.2,", {"GPVTG parse error (format error)!"}},
        {"GPVTG,054.7,T,034.4,M", {"GPVTG parse error!"}},
    };
    for (const auto& [body, errors] : cases) {
        NmeaReports reports;
        nmeaINFO info = fresh_info();
        const nmeaINFO before = info;
        EXPECT_EQ(0, decode(body, &info)) << body.substr(0, 40);
        EXPECT_EQ(errors, reports.errors) << body.substr(0, 40);
        EXPECT_EQ(0, std::memcmp(&before, &info, sizeof info));
    }
}

TEST(NmeaGPGSV, FourteenSatellitesFillTheTwelveEntriesAndGsaMatchesThem) {
    nmeaINFO info = fresh_info();
    for (int k = 1; k <= 3; ++k) ASSERT_EQ(1, decode(gsv(4, k, 14, 4 * k - 3, 4), &info)) << k;
    EXPECT_EQ(14, info.satinfo.inview);
    for (int i = 0; i < NMEA_MAXSAT; ++i) {
        const nmeaSATELLITE want = {i + 1, 0, 11 + i, 101 + i, 30 + (i + 1) % 10};
        EXPECT_EQ(0, std::memcmp(&want, &info.satinfo.sat[i], sizeof want)) << i;
    }
    // The fourth sentence carries the last two: accepted, but it changes nothing.
    info.smask = 0;
    const nmeaINFO before = info;
    ASSERT_EQ(1, decode(gsv(4, 4, 14, 13, 2), &info));
    EXPECT_EQ(0, std::memcmp(&before, &info, sizeof info));

    // GSA matching looks at the 12 entries only and never clears a flag; an
    // empty fix type gives 0.
    ASSERT_EQ(1, decode("GPGSA,A,3,01,12,13,14,,,,,,,,,1.5,0.8,1.2", &info));
    EXPECT_EQ(2, info.satinfo.inuse);
    ASSERT_EQ(1, decode("GPGSA,A,,02,,,,,,,,,,,,,,", &info));
    EXPECT_EQ(1, info.satinfo.inuse);
    EXPECT_EQ(0, info.fix);
    std::string flags;
    for (const nmeaSATELLITE& sat : info.satinfo.sat) flags += static_cast<char>('0' + sat.in_use);
    EXPECT_EQ("110000000001", flags);
    // Only the entries in view count: after a cycle of one, entry 12 is stale.
    ASSERT_EQ(1, decode(gsv(1, 1, 1, 5, 1), &info));
    ASSERT_EQ(1, decode("GPGSA,A,3,12,,,,,,,,,,,,1,1,1", &info));
    EXPECT_EQ(0, info.satinfo.inuse);

    // Indices out of range change nothing, without arithmetic overflow; an
    // index of 0 counts as 1.
    nmeaGPGSV odd = {2147483647, 2147483647, -2147483647, {}};
    info = fresh_info();
    nmea_GPGSV2info(&odd, &info);
    EXPECT_EQ(0, info.smask);
    odd = {1, 0, 4, {{77, 0, 0, 0, 0}}};
    nmea_GPGSV2info(&odd, &info);
    EXPECT_EQ(77, info.satinfo.sat[0].id);
}

TEST(NmeaGPRMC, StatusSetsTheFixOnlyWhereGsaDidNot) {
    const std::string valid = "GPRMC,123519,A,1,N,2,E,0,0,230394,,,A";
    const std::string gsa = "GPGSA,A,3,,,,,,,,,,,,,1,1,1";
    const struct { std::string body; int sig, fix; } steps[] = {
        {valid, 2, 2}, {gsa, 2, 3},
        {"GPGGA,123519,1,N,2,E,1,08,0.9,545.4,M,46.9,M,,", 1, 3},  // sig 1 from GGA
        {valid, 1, 3}, {"GPRMC,123519,X,1,N,2,E,0,0,230394,,,N", 1, 3},
        {"GPRMC,123519,V,1,N,2,E,0,0,230394,,,N", 0, 1}, {gsa, 0, 3}};
    nmeaINFO info = fresh_info();
    for (const auto& step : steps) {
        ASSERT_EQ(1, decode(step.body, &info)) << step.body;
        EXPECT_EQ(std::make_pair(step.sig, step.fix), std::make_pair(info.sig, info.fix)) << step.body;
    }
}

}  // namespace
}  // namespace vgps
