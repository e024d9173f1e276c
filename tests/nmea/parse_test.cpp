#include "nmea/parse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "nmea/info.h"
#include "nmea_support.h"

namespace vgps {
namespace {

using test::nmea_sentence;
using test::NmeaReports;
using Strings = std::vector<std::string>;

int size_of(const std::string& s) { return static_cast<int>(s.size()); }

nmeaINFO fresh_info() {
    std::time_t t = 1291593600;  // 2010-12-06 00:00:00 UTC
    nmea_time_set_clock(&t);
    nmeaINFO info;
    nmea_zero_INFO(&info);
    nmea_time_set_clock(nullptr);
    return info;
}

template <typename Pack>
int decode(int (*decoder)(const char*, int, Pack*), const std::string& s, Pack* pack) {
    return decoder(s.data(), size_of(s), pack);
}

TEST(NmeaFindTail, CutsOneSentenceAndChecksIt) {
    const std::string good = nmea_sentence("GPRMC,1,2");
    int crc = 7;
    EXPECT_EQ(size_of(good), nmea_find_tail(good.data(), size_of(good), &crc));
    EXPECT_GE(crc, 0);

    std::string bad = good;
    bad[bad.size() - 3] = bad[bad.size() - 3] == '0' ? '1' : '0';
    EXPECT_EQ(size_of(bad), nmea_find_tail(bad.data(), size_of(bad), &crc));
    EXPECT_EQ(-1, crc);

    // Lower-case checksum digits.
    const std::string lower = "$GPRMC,205150.00,V,,,,,,,,,,,V*4a\r\n";
    EXPECT_EQ(size_of(lower), nmea_find_tail(lower.data(), size_of(lower), &crc));
    EXPECT_EQ(0x4a, crc);

    // Noise before a "$" is skipped; a "$" at the start does not end the scan.
    const std::string noisy = "xy" + good;
    EXPECT_EQ(2, nmea_find_tail(noisy.data(), size_of(noisy), &crc));
    EXPECT_EQ(-1, crc);
    const std::string unterminated = "$GPGGA,12,3$GPRMC";
    EXPECT_EQ(11, nmea_find_tail(unterminated.data(), size_of(unterminated), &crc));
    EXPECT_EQ(-1, crc);
}

TEST(NmeaFindTail, WaitsForTheLineEndAfterTheChecksum) {
    const std::string good = nmea_sentence("GPGGA,1");
    int crc;
    for (int n = 0; n < size_of(good); ++n) {
        EXPECT_EQ(0, nmea_find_tail(good.data(), n, &crc)) << n;
    }
    const std::string lf_only = nmea_sentence("GPGGA,1", "\n") + "$GPGGA";
    EXPECT_EQ(0, nmea_find_tail(lf_only.data(), size_of(lf_only), &crc));
    const std::string run_together = nmea_sentence("GPGSA,1", "") + "$GPRMC,1*00\r\n";
    EXPECT_EQ(0, nmea_find_tail(run_together.data(), size_of(run_together), &crc));
}

TEST(NmeaFindTail, HighBytesEnterTheChecksumSignExtended) {
    int crc;
    // One byte of 0xE9: a plain exclusive-or checksum never matches.
    const std::string one = nmea_sentence("GPTXT,caf\xE9");
    EXPECT_EQ(size_of(one), nmea_find_tail(one.data(), size_of(one), &crc));
    EXPECT_EQ(-1, crc);
    // Two of them: the widened bits cancel out and it matches.
    const std::string two = nmea_sentence("GPTXT,\xE9\xE9");
    EXPECT_EQ(size_of(two), nmea_find_tail(two.data(), size_of(two), &crc));
    EXPECT_GE(crc, 0);
}

TEST(NmeaPackType, ComparesFiveBytesOfTheGpTalker) {
    EXPECT_EQ(NMEA_GPGGA, nmea_pack_type("GPGGA,", 6));
    EXPECT_EQ(NMEA_GPGSA, nmea_pack_type("GPGSAX", 6));
    EXPECT_EQ(NMEA_GPGSV, nmea_pack_type("GPGSV", 5));
    EXPECT_EQ(NMEA_GPRMC, nmea_pack_type("GPRMC", 5));
    EXPECT_EQ(NMEA_GPVTG, nmea_pack_type("GPVTG", 5));
    EXPECT_EQ(NMEA_NOPACK, nmea_pack_type("GPVT", 4));
    EXPECT_EQ(NMEA_NOPACK, nmea_pack_type("GNGGA", 5));
    EXPECT_EQ(NMEA_NOPACK, nmea_pack_type("gpgga", 5));
}

TEST(NmeaParseTime, AcceptsSixOrEightToTenCharacters) {
    NmeaReports reports;
    nmeaTIME t{};
    t.hsec = 99;
    EXPECT_EQ(0, _nmea_parse_time("123519", 6, &t));
    EXPECT_EQ(12, t.hour);
    EXPECT_EQ(35, t.min);
    EXPECT_EQ(19, t.sec);
    EXPECT_EQ(99, t.hsec);  // not reached by the scan
    const std::pair<const char*, int> fractions[] = {{"123519.5", 5}, {"123519.25", 25}, {"123519.250", 250}};
    for (auto [text, hsec] : fractions) {
        EXPECT_EQ(0, _nmea_parse_time(text, size_of(text), &t)) << text;
        EXPECT_EQ(hsec, t.hsec) << text;
    }
    EXPECT_TRUE(reports.errors.empty());

    for (const char* text : {"123519.", "12351", "", "123519.2500"}) {
        EXPECT_EQ(-1, _nmea_parse_time(text, size_of(text), &t)) << text;
    }
    EXPECT_EQ(Strings(4, "Parse of time error (format error)!"), reports.errors);
    // Right length, wrong shape: the scan falls short.
    EXPECT_EQ(-1, _nmea_parse_time("12:35:19", 8, &t));
}

TEST(NmeaGPGGA, DecodesAndAppliesAFix) {
    NmeaReports reports;
    const std::string s =
        nmea_sentence("GPGGA,123519.25,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,0000");
    nmeaGPGGA pack;
    ASSERT_EQ(1, decode(nmea_parse_GPGGA, s, &pack));
    EXPECT_EQ(Strings{s}, reports.traces);
    EXPECT_EQ(12, pack.utc.hour);
    EXPECT_EQ(25, pack.utc.hsec);
    EXPECT_EQ(4807.038, pack.lat);
    EXPECT_EQ('N', pack.lat_hemi);
    EXPECT_EQ(1131.0, pack.lon);
    EXPECT_EQ(8, pack.sats_used);
    EXPECT_EQ(0.9, pack.HDOP);
    EXPECT_EQ(545.4, pack.elv);
    EXPECT_EQ('M', pack.geoid_sep_unit);
    EXPECT_EQ(0.0, pack.dgps_age);

    nmeaINFO info = fresh_info();
    nmea_GPGGA2info(&pack, &info);
    EXPECT_EQ(NMEA_GPGGA, info.smask);
    EXPECT_EQ(1, info.sig);
    EXPECT_EQ(1, info.fix);  // GGA does not touch the fix type
    EXPECT_EQ(4807.038, info.lat);
    EXPECT_EQ(1131.0, info.lon);
    EXPECT_EQ(0.9, info.HDOP);
    EXPECT_EQ(545.4, info.elv);
    // The time moves on, the date of the reset stays.
    EXPECT_EQ(110, info.utc.year);
    EXPECT_EQ(11, info.utc.mon);
    EXPECT_EQ(6, info.utc.day);
    EXPECT_EQ(12, info.utc.hour);
    EXPECT_EQ(35, info.utc.min);
    EXPECT_EQ(19, info.utc.sec);
    EXPECT_EQ(25, info.utc.hsec);

    // South and west; an empty coordinate with an empty letter becomes -0.
    const std::string sw = nmea_sentence("GPGGA,123519,2712.5,S,,,1,08,0.9,545.4,M,46.9,M,,");
    ASSERT_EQ(1, decode(nmea_parse_GPGGA, sw, &pack));
    nmea_GPGGA2info(&pack, &info);
    EXPECT_EQ(-2712.5, info.lat);
    EXPECT_EQ(0.0, info.lon);
    EXPECT_TRUE(std::signbit(info.lon));
}

TEST(NmeaGPGGA, RejectsWrongShapesAndTimes) {
    NmeaReports reports;
    nmeaGPGGA pack;
    EXPECT_EQ(0, decode(nmea_parse_GPGGA, nmea_sentence("GPGGA,123519,4807.038,N"), &pack));
    EXPECT_EQ(0, decode(nmea_parse_GPGGA,
                        nmea_sentence("GPGGA,,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"),
                        &pack));
    EXPECT_EQ(0, decode(nmea_parse_GPGGA,
                        nmea_sentence("GPGGA,123519.,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"),
                        &pack));
    EXPECT_EQ((Strings{"GPGGA parse error!", "Parse of time error (format error)!",
                       "GPGGA time parse error!", "Parse of time error (format error)!",
                       "GPGGA time parse error!"}),
              reports.errors);

    // A first field far longer than the time buffer is refused like any
    // time text of a wrong length, without writing past the buffer.
    reports.errors.clear();
    const std::string long_time = nmea_sentence(
        "GPGGA," + std::string(700, '1') + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
    EXPECT_EQ(0, decode(nmea_parse_GPGGA, long_time, &pack));
    EXPECT_EQ((Strings{"Parse of time error (format error)!", "GPGGA time parse error!"}),
              reports.errors);

    // Nonsense numbers convert to 0 and still count.
    const std::string nonsense =
        nmea_sentence("GPGGA,123519,north,N,east,E,x,y,z,w,M,v,M,u,t");
    ASSERT_EQ(1, decode(nmea_parse_GPGGA, nonsense, &pack));
    EXPECT_EQ(0.0, pack.lat);
    EXPECT_EQ(0, pack.sig);
}

TEST(NmeaGPGSA, DecodesMatchesSatellitesAndSetsTheFix) {
    NmeaReports reports;
    nmeaINFO info = fresh_info();
    info.satinfo.inview = 4;
    const int ids[] = {5, 9, 14, 22};
    for (int i = 0; i < 4; ++i) info.satinfo.sat[i].id = ids[i];
    info.satinfo.sat[4].id = 7;  // beyond inview: never matched

    nmeaGPGSA pack;
    // A further field after the VDOP is accepted.
    ASSERT_EQ(1, decode(nmea_parse_GPGSA,
                        nmea_sentence("GPGSA,A,3,14,09,7,22,,,,,,,,,1.58,0.87,1.31,1"), &pack));
    EXPECT_EQ('A', pack.fix_select);
    EXPECT_EQ(3, pack.fix);
    EXPECT_EQ(9, pack.sat_ids[1]);
    EXPECT_EQ(0, pack.sat_ids[4]);
    EXPECT_EQ(1.31, pack.VDOP);
    nmea_GPGSA2info(&pack, &info);
    EXPECT_EQ(3, info.fix);
    EXPECT_EQ(1.58, info.PDOP);
    EXPECT_EQ(0.87, info.HDOP);
    EXPECT_EQ(1.31, info.VDOP);
    EXPECT_EQ(3, info.satinfo.inuse);
    EXPECT_EQ((std::vector<int>{0, 1, 1, 1, 0}),
              (std::vector<int>{info.satinfo.sat[0].in_use, info.satinfo.sat[1].in_use,
                                info.satinfo.sat[2].in_use, info.satinfo.sat[3].in_use,
                                info.satinfo.sat[4].in_use}));
    EXPECT_EQ(NMEA_GPGSA, info.smask);

    // Flags are never cleared; the count is of this sentence's matches only.
    ASSERT_EQ(1, decode(nmea_parse_GPGSA, nmea_sentence("GPGSA,A,,05,,,,,,,,,,,,,,"), &pack));
    nmea_GPGSA2info(&pack, &info);
    EXPECT_EQ(0, info.fix);  // empty fix type
    EXPECT_EQ(1, info.satinfo.inuse);
    EXPECT_EQ(1, info.satinfo.sat[0].in_use);
    EXPECT_EQ(1, info.satinfo.sat[1].in_use);

    // The malformed no-fix GSA of a real receiver.
    EXPECT_EQ(0, decode(nmea_parse_GPGSA, std::string("$GPGSA,A,1,,,,*32\r\n"), &pack));
    EXPECT_EQ(Strings{"GPGSA parse error!"}, reports.errors);
}

std::string gsv(int count, int index, int inview, int first_id, int sats) {
    std::string body = "GPGSV," + std::to_string(count) + "," + std::to_string(index) + "," +
                       std::to_string(inview);
    for (int i = 0; i < sats; ++i) {
        const int id = first_id + i;
        body += "," + std::to_string(id) + "," + std::to_string(10 + id) + "," +
                std::to_string(100 + id) + "," + std::to_string(30 + id % 10);
    }
    return nmea_sentence(body);
}

TEST(NmeaGPGSV, FourteenSatellitesFillTheTwelveEntries) {
    NmeaReports reports;
    nmeaINFO info = fresh_info();
    nmeaGPGSV pack;
    for (int k = 1; k <= 3; ++k) {
        ASSERT_EQ(1, decode(nmea_parse_GPGSV, gsv(4, k, 14, 4 * (k - 1) + 1, 4), &pack)) << k;
        nmea_GPGSV2info(&pack, &info);
    }
    EXPECT_EQ(NMEA_GPGSV, info.smask);
    EXPECT_EQ(14, info.satinfo.inview);
    for (int i = 0; i < NMEA_MAXSAT; ++i) {
        EXPECT_EQ(i + 1, info.satinfo.sat[i].id);
        EXPECT_EQ(11 + i, info.satinfo.sat[i].elv);
        EXPECT_EQ(101 + i, info.satinfo.sat[i].azimuth);
        EXPECT_EQ(0, info.satinfo.sat[i].in_use);
    }
    EXPECT_EQ(31, info.satinfo.sat[0].sig);

    // The fourth sentence carries the last two: accepted, but it changes nothing.
    ASSERT_EQ(1, decode(nmea_parse_GPGSV, gsv(4, 4, 14, 13, 2), &pack));
    info.smask = 0;
    const nmeaINFO before = info;
    nmea_GPGSV2info(&pack, &info);
    EXPECT_EQ(0, std::memcmp(&before, &info, sizeof info));

    // GSA matching looks at the 12 entries only.
    nmeaGPGSA gsa;
    ASSERT_EQ(1, decode(nmea_parse_GPGSA, nmea_sentence("GPGSA,A,3,01,12,13,14,,,,,,,,,1,1,1"), &gsa));
    nmea_GPGSA2info(&gsa, &info);
    EXPECT_EQ(2, info.satinfo.inuse);
    EXPECT_TRUE(reports.errors.empty());
}

TEST(NmeaGPGSV, TheLastSentenceCarriesExactlyTheRest) {
    NmeaReports reports;
    nmeaGPGSV pack;
    EXPECT_EQ(1, decode(nmea_parse_GPGSV, gsv(3, 3, 11, 9, 3), &pack));
    EXPECT_EQ(0, decode(nmea_parse_GPGSV, gsv(3, 3, 11, 9, 2), &pack));
    EXPECT_EQ(0, decode(nmea_parse_GPGSV, gsv(3, 1, 11, 1, 3), &pack));
    EXPECT_EQ(1, decode(nmea_parse_GPGSV, gsv(1, 1, 0, 1, 0), &pack));
    EXPECT_EQ(Strings(2, "GPGSV parse error!"), reports.errors);

    nmeaINFO info = fresh_info();
    ASSERT_EQ(1, decode(nmea_parse_GPGSV, gsv(3, 3, 11, 9, 3), &pack));
    nmea_GPGSV2info(&pack, &info);
    EXPECT_EQ(11, info.satinfo.inview);
    EXPECT_EQ(9, info.satinfo.sat[8].id);
    EXPECT_EQ(11, info.satinfo.sat[10].id);
    EXPECT_EQ(0, info.satinfo.sat[11].id);

    // An index past the count changes nothing; an index of 0 counts as 1.
    nmeaGPGSV odd{};
    odd.msg_count = 1;
    odd.msg_index = 2;
    odd.inview = 4;
    odd.sat[0].id = 77;
    info = fresh_info();
    nmea_GPGSV2info(&odd, &info);
    EXPECT_EQ(0, info.smask);
    odd.msg_index = 0;
    nmea_GPGSV2info(&odd, &info);
    EXPECT_EQ(77, info.satinfo.sat[0].id);
    EXPECT_EQ(NMEA_GPGSV, info.smask);
    // Indices far out of range are refused without arithmetic overflow.
    odd.msg_count = 2147483647;
    odd.msg_index = 2147483647;
    odd.inview = -2147483647;
    info = fresh_info();
    nmea_GPGSV2info(&odd, &info);
    EXPECT_EQ(0, info.smask);
    odd.msg_index = -2147483647;
    nmea_GPGSV2info(&odd, &info);
    EXPECT_EQ(-2147483647, info.satinfo.inview);
}

TEST(NmeaGPRMC, DecodesDatesAndTimes) {
    NmeaReports reports;
    nmeaGPRMC pack;
    ASSERT_EQ(1, decode(nmea_parse_GPRMC,
                        nmea_sentence("GPRMC,123519,A,4807.038,N,01131.000,W,010.0,084.4,230394,003.1,W,A"),
                        &pack));
    EXPECT_EQ(94, pack.utc.year);
    EXPECT_EQ(2, pack.utc.mon);
    EXPECT_EQ(23, pack.utc.day);
    EXPECT_EQ(12, pack.utc.hour);
    EXPECT_EQ(19, pack.utc.sec);
    EXPECT_EQ('A', pack.status);
    EXPECT_EQ(3.1, pack.declination);
    EXPECT_EQ('W', pack.declination_ew);
    EXPECT_EQ('A', pack.mode);

    nmeaINFO info = fresh_info();
    info.declination = 5;
    nmea_GPRMC2info(&pack, &info);
    EXPECT_EQ(NMEA_GPRMC, info.smask);
    EXPECT_EQ(94, info.utc.year);
    EXPECT_EQ(2, info.utc.mon);
    EXPECT_EQ(23, info.utc.day);
    EXPECT_EQ(4807.038, info.lat);
    EXPECT_EQ(-1131.0, info.lon);
    EXPECT_DOUBLE_EQ(18.52, info.speed);
    EXPECT_EQ(84.4, info.direction);
    EXPECT_EQ(5, info.declination);  // the magnetic variation is not applied

    // 2011; no mode field (count 13) is accepted.
    ASSERT_EQ(1, decode(nmea_parse_GPRMC,
                        nmea_sentence("GPRMC,000000.5,V,,,,,,,010111,,"), &pack));
    EXPECT_EQ(111, pack.utc.year);
    EXPECT_EQ(0, pack.utc.mon);
    EXPECT_EQ(5, pack.utc.hsec);
    EXPECT_EQ(0, pack.mode);
    EXPECT_TRUE(reports.errors.empty());

    // An empty date shifts the fields; an empty time fails the time parse.
    EXPECT_EQ(0, decode(nmea_parse_GPRMC, nmea_sentence("GPRMC,123519,A,4807.038,N,01131.000,W,010.0,084.4,,003.1,W"), &pack));
    EXPECT_EQ(0, decode(nmea_parse_GPRMC, nmea_sentence("GPRMC,,V,,,,,,,010111,,,N"), &pack));
    EXPECT_EQ((Strings{"GPRMC parse error!", "Parse of time error (format error)!",
                       "GPRMC time parse error!"}),
              reports.errors);
}

TEST(NmeaGPRMC, StatusDecidesTheFixOnlyWhereGsaDidNot) {
    nmeaGPRMC valid, warning, other;
    ASSERT_EQ(1, decode(nmea_parse_GPRMC, nmea_sentence("GPRMC,123519,A,1,N,2,E,0,0,230394,,,A"), &valid));
    ASSERT_EQ(1, decode(nmea_parse_GPRMC, nmea_sentence("GPRMC,123519,V,1,N,2,E,0,0,230394,,,N"), &warning));
    ASSERT_EQ(1, decode(nmea_parse_GPRMC, nmea_sentence("GPRMC,123519,X,1,N,2,E,0,0,230394,,,N"), &other));
    nmeaGPGSA gsa;
    ASSERT_EQ(1, decode(nmea_parse_GPGSA, nmea_sentence("GPGSA,A,3,,,,,,,,,,,,,1,1,1"), &gsa));

    nmeaINFO info = fresh_info();
    nmea_GPRMC2info(&valid, &info);
    EXPECT_EQ(2, info.sig);
    EXPECT_EQ(2, info.fix);
    nmea_GPGSA2info(&gsa, &info);
    info.sig = 1;
    nmea_GPRMC2info(&valid, &info);
    EXPECT_EQ(1, info.sig);
    EXPECT_EQ(3, info.fix);
    nmea_GPRMC2info(&other, &info);
    EXPECT_EQ(1, info.sig);
    EXPECT_EQ(3, info.fix);
    nmea_GPRMC2info(&warning, &info);
    EXPECT_EQ(0, info.sig);
    EXPECT_EQ(1, info.fix);
    nmea_GPGSA2info(&gsa, &info);
    EXPECT_EQ(3, info.fix);
}

TEST(NmeaGPVTG, NeedsItsUnitLetters) {
    NmeaReports reports;
    nmeaGPVTG pack;
    ASSERT_EQ(1, decode(nmea_parse_GPVTG, nmea_sentence("GPVTG,054.7,T,034.4,M,005.5,N,010.2,K,A"), &pack));
    nmeaINFO info = fresh_info();
    nmea_GPVTG2info(&pack, &info);
    EXPECT_EQ(NMEA_GPVTG, info.smask);
    EXPECT_EQ(54.7, info.direction);
    EXPECT_EQ(34.4, info.declination);
    EXPECT_EQ(10.2, info.speed);

    EXPECT_EQ(0, decode(nmea_parse_GPVTG, nmea_sentence("GPVTG,054.7,,034.4,,005.5,,010.2,"), &pack));
    EXPECT_EQ(0, decode(nmea_parse_GPVTG, nmea_sentence("GPVTG,0.00,T,,,0.00,N,0.00,K,A"), &pack));
    EXPECT_EQ(0, decode(nmea_parse_GPVTG, nmea_sentence("GPVTG,054.7,T,034.4,M"), &pack));
    EXPECT_EQ((Strings{"GPVTG parse error (format error)!", "GPVTG parse error (format error)!",
                       "GPVTG parse error!"}),
              reports.errors);
}

}  // namespace
}  // namespace vgps
