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

// A record reset at 2010-12-06 00:00:00 UTC.
nmeaINFO fresh_info() {
    const std::time_t t = 1291593600;
    nmea_time_set_clock(&t);
    nmeaINFO info;
    nmea_zero_INFO(&info);
    nmea_time_set_clock(nullptr);
    return info;
}

// Decodes one sentence with the decoder of its type and, when accepted,
// applies it. Returns the decoder's result.
int decode_apply(const std::string& s, nmeaINFO* info) {
    union {
        nmeaGPGGA gga;
        nmeaGPGSA gsa;
        nmeaGPGSV gsv;
        nmeaGPRMC rmc;
        nmeaGPVTG vtg;
    } pack;
    const int n = size_of(s);
    switch (nmea_pack_type(s.data() + 1, n - 1)) {
    case NMEA_GPGGA:
        return nmea_parse_GPGGA(s.data(), n, &pack.gga) ? nmea_GPGGA2info(&pack.gga, info), 1 : 0;
    case NMEA_GPGSA:
        return nmea_parse_GPGSA(s.data(), n, &pack.gsa) ? nmea_GPGSA2info(&pack.gsa, info), 1 : 0;
    case NMEA_GPGSV:
        return nmea_parse_GPGSV(s.data(), n, &pack.gsv) ? nmea_GPGSV2info(&pack.gsv, info), 1 : 0;
    case NMEA_GPRMC:
        return nmea_parse_GPRMC(s.data(), n, &pack.rmc) ? nmea_GPRMC2info(&pack.rmc, info), 1 : 0;
    case NMEA_GPVTG:
        return nmea_parse_GPVTG(s.data(), n, &pack.vtg) ? nmea_GPVTG2info(&pack.vtg, info), 1 : 0;
    default:
        return -1;
    }
}

TEST(NmeaFindTail, CutsOneSentenceAndChecksIt) {
    int crc;
    const std::string good = nmea_sentence("GPRMC,1,2");
    EXPECT_EQ(size_of(good), nmea_find_tail(good.data(), size_of(good), &crc));
    EXPECT_GE(crc, 0);
    const std::string lower = "$GPRMC,205150.00,V,,,,,,,,,,,V*4a\r\n";
    EXPECT_EQ(size_of(lower), nmea_find_tail(lower.data(), size_of(lower), &crc));
    EXPECT_EQ(0x4a, crc);
    std::string bad = good;
    bad[bad.size() - 3] ^= 1;
    EXPECT_EQ(size_of(bad), nmea_find_tail(bad.data(), size_of(bad), &crc));
    EXPECT_EQ(-1, crc);
    // Bytes before a "$" are skipped; so is an unterminated sentence at the next "$".
    const std::string noisy = "xy" + good;
    EXPECT_EQ(2, nmea_find_tail(noisy.data(), size_of(noisy), &crc));
    EXPECT_EQ(-1, crc);
    EXPECT_EQ(11, nmea_find_tail("$GPGGA,12,3$GPRMC", 17, &crc));
    // Incomplete, LF alone, or a "*" followed by anything but CR LF: more bytes needed.
    for (int n = 0; n < size_of(good); ++n) EXPECT_EQ(0, nmea_find_tail(good.data(), n, &crc)) << n;
    const std::string lf = nmea_sentence("GPGGA,1", "\n") + "$GPGGA";
    EXPECT_EQ(0, nmea_find_tail(lf.data(), size_of(lf), &crc));
    const std::string run_together = nmea_sentence("GPGSA,1", "") + "$GPRMC,1*00\r\n";
    EXPECT_EQ(0, nmea_find_tail(run_together.data(), size_of(run_together), &crc));
}

TEST(NmeaFindTail, HighBytesEnterTheChecksumSignExtended) {
    int crc;
    // One byte of 0xE9: a plain exclusive-or checksum never matches; with two
    // the widened bits cancel out.
    const std::string one = nmea_sentence("GPTXT,caf\xE9,some text");
    EXPECT_EQ(size_of(one), nmea_find_tail(one.data(), size_of(one), &crc));
    EXPECT_EQ(-1, crc);
    const std::string two = nmea_sentence("GPTXT,\xE9\xE9,some text");
    EXPECT_EQ(size_of(two), nmea_find_tail(two.data(), size_of(two), &crc));
    EXPECT_GE(crc, 0);
}

TEST(NmeaPackType, ComparesFiveBytesOfTheGpTalker) {
    EXPECT_EQ(NMEA_GPGSA, nmea_pack_type("GPGSAX", 6));
    EXPECT_EQ(NMEA_GPVTG, nmea_pack_type("GPVTG", 5));
    EXPECT_EQ(NMEA_NOPACK, nmea_pack_type("GPVTG", 4));
    EXPECT_EQ(NMEA_NOPACK, nmea_pack_type("GNGGA", 5));
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
}

TEST(NmeaGPGGA, MovesTheTimeButNotTheDate) {
    NmeaReports reports;
    nmeaINFO info = fresh_info();
    const std::string s =
        nmea_sentence("GPGGA,123519.25,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,0000");
    ASSERT_EQ(1, decode_apply(s, &info));
    EXPECT_EQ(Strings{s}, reports.traces);
    EXPECT_EQ(NMEA_GPGGA, info.smask);
    const nmeaTIME want = {110, 11, 6, 12, 35, 19, 25};
    EXPECT_EQ(0, std::memcmp(&want, &info.utc, sizeof want));
    EXPECT_EQ(1, info.sig);
    EXPECT_EQ(1, info.fix);
    EXPECT_EQ(4807.038, info.lat);
    EXPECT_EQ(1131.0, info.lon);
    EXPECT_EQ(0.9, info.HDOP);
    EXPECT_EQ(545.4, info.elv);
    // South; an empty longitude with an empty letter becomes -0; nonsense
    // numbers are 0 and still count.
    ASSERT_EQ(1, decode_apply(nmea_sentence("GPGGA,123519,2712.5,S,,,x,y,z,w,M,v,M,u,t"), &info));
    EXPECT_EQ(-2712.5, info.lat);
    EXPECT_EQ(0.0, info.lon);
    EXPECT_TRUE(std::signbit(info.lon));
    EXPECT_EQ(0, info.sig);
    EXPECT_TRUE(reports.errors.empty());
}

TEST(NmeaGPGGA, RejectsWrongShapesAndTimes) {
    NmeaReports reports;
    nmeaINFO info = fresh_info();
    const std::string rest = ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";
    EXPECT_EQ(0, decode_apply(nmea_sentence("GPGGA,123519,4807.038,N"), &info));
    EXPECT_EQ(0, decode_apply(nmea_sentence("GPGGA," + rest), &info));
    EXPECT_EQ(0, decode_apply(nmea_sentence("GPGGA,123519." + rest), &info));
    // A first field far longer than the time buffer is refused the same way,
    // without writing past the buffer.
    EXPECT_EQ(0, decode_apply(nmea_sentence("GPGGA," + std::string(700, '1') + rest), &info));
    const std::string time_error = "Parse of time error (format error)!";
    EXPECT_EQ((Strings{"GPGGA parse error!", time_error, "GPGGA time parse error!", time_error,
                       "GPGGA time parse error!", time_error, "GPGGA time parse error!"}),
              reports.errors);
    EXPECT_EQ(0, info.smask);
}

std::string gsv(int count, int index, int inview, int first_id, int sats) {
    std::string body = "GPGSV," + std::to_string(count) + "," + std::to_string(index) + "," +
                       std::to_string(inview);
    for (int id = first_id; id < first_id + sats; ++id) {
        body += "," + std::to_string(id) + "," + std::to_string(10 + id) + "," +
                std::to_string(100 + id) + "," + std::to_string(30 + id % 10);
    }
    return nmea_sentence(body);
}

TEST(NmeaGPGSV, FourteenSatellitesFillTheTwelveEntriesAndGsaMatchesThem) {
    NmeaReports reports;
    nmeaINFO info = fresh_info();
    for (int k = 1; k <= 3; ++k) ASSERT_EQ(1, decode_apply(gsv(4, k, 14, 4 * k - 3, 4), &info)) << k;
    EXPECT_EQ(14, info.satinfo.inview);
    for (int i = 0; i < NMEA_MAXSAT; ++i) {
        const nmeaSATELLITE want = {i + 1, 0, 11 + i, 101 + i, 30 + (i + 1) % 10};
        EXPECT_EQ(0, std::memcmp(&want, &info.satinfo.sat[i], sizeof want)) << i;
    }
    // The fourth sentence carries the last two: accepted, but it changes nothing.
    info.smask = 0;
    const nmeaINFO before = info;
    ASSERT_EQ(1, decode_apply(gsv(4, 4, 14, 13, 2), &info));
    EXPECT_EQ(0, std::memcmp(&before, &info, sizeof info));

    // GSA matching looks at the 12 entries only and never clears a flag; an
    // empty fix type gives 0. A further field after the VDOP is accepted.
    ASSERT_EQ(1, decode_apply(nmea_sentence("GPGSA,A,3,01,12,13,14,,,,,,,,,1.5,0.8,1.2,x"), &info));
    EXPECT_EQ(2, info.satinfo.inuse);
    EXPECT_EQ(3, info.fix);
    EXPECT_EQ(1.5, info.PDOP);
    EXPECT_EQ(1.2, info.VDOP);
    ASSERT_EQ(1, decode_apply(nmea_sentence("GPGSA,A,,02,,,,,,,,,,,,,,"), &info));
    EXPECT_EQ(1, info.satinfo.inuse);
    EXPECT_EQ(0, info.fix);
    EXPECT_EQ((std::vector<int>{1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}),
              [&] {
                  std::vector<int> flags;
                  for (const nmeaSATELLITE& sat : info.satinfo.sat) flags.push_back(sat.in_use);
                  return flags;
              }());
    EXPECT_EQ(NMEA_GPGSA, info.smask);  // cleared before the fourth GSV
    EXPECT_TRUE(reports.errors.empty());
}

TEST(NmeaGPGSV, TheLastSentenceCarriesExactlyTheRest) {
    NmeaReports reports;
    nmeaINFO info = fresh_info();
    EXPECT_EQ(0, decode_apply(gsv(3, 3, 11, 9, 2), &info));
    EXPECT_EQ(0, decode_apply(gsv(3, 1, 11, 1, 3), &info));
    EXPECT_EQ(Strings(2, "GPGSV parse error!"), reports.errors);
    EXPECT_EQ(1, decode_apply(gsv(3, 3, 11, 9, 3), &info));
    EXPECT_EQ(11, info.satinfo.inview);
    EXPECT_EQ(11, info.satinfo.sat[10].id);
    EXPECT_EQ(0, info.satinfo.sat[11].id);

    // Indices out of range change nothing, without arithmetic overflow; an
    // index of 0 counts as 1.
    nmeaGPGSV odd{};
    odd.msg_count = odd.msg_index = 2147483647;
    odd.inview = -2147483647;
    info = fresh_info();
    nmea_GPGSV2info(&odd, &info);
    EXPECT_EQ(0, info.smask);
    odd.msg_index = 0;
    odd.inview = 4;
    odd.sat[0].id = 77;
    nmea_GPGSV2info(&odd, &info);
    EXPECT_EQ(77, info.satinfo.sat[0].id);
}

TEST(NmeaGPRMC, DecodesDatesTimesAndSpeed) {
    NmeaReports reports;
    nmeaINFO info = fresh_info();
    info.declination = 5;
    ASSERT_EQ(1, decode_apply(nmea_sentence("GPRMC,123519,A,4807.038,N,01131.000,W,010.0,084.4,230394,003.1,W,A"), &info));
    const nmeaTIME want = {94, 2, 23, 12, 35, 19, 0};
    EXPECT_EQ(0, std::memcmp(&want, &info.utc, sizeof want));
    EXPECT_EQ(4807.038, info.lat);
    EXPECT_EQ(-1131.0, info.lon);
    EXPECT_DOUBLE_EQ(18.52, info.speed);
    EXPECT_EQ(84.4, info.direction);
    EXPECT_EQ(5, info.declination);  // the magnetic variation is not applied
    // 2011, and no mode field (count 13).
    ASSERT_EQ(1, decode_apply(nmea_sentence("GPRMC,000000.5,V,,,,,,,010111,,"), &info));
    EXPECT_EQ(111, info.utc.year);
    EXPECT_EQ(0, info.utc.mon);
    EXPECT_EQ(5, info.utc.hsec);
    EXPECT_TRUE(reports.errors.empty());

    // An empty date shifts the fields; an empty time fails the time parse.
    EXPECT_EQ(0, decode_apply(nmea_sentence("GPRMC,123519,A,4807.038,N,01131.000,W,010.0,084.4,,003.1,W"), &info));
    EXPECT_EQ(0, decode_apply(nmea_sentence("GPRMC,,V,,,,,,,010111,,,N"), &info));
    EXPECT_EQ((Strings{"GPRMC parse error!", "Parse of time error (format error)!",
                       "GPRMC time parse error!"}),
              reports.errors);
}

TEST(NmeaGPRMC, StatusSetsTheFixOnlyWhereGsaDidNot) {
    const std::string valid = nmea_sentence("GPRMC,123519,A,1,N,2,E,0,0,230394,,,A");
    const std::string warning = nmea_sentence("GPRMC,123519,V,1,N,2,E,0,0,230394,,,N");
    const std::string other = nmea_sentence("GPRMC,123519,X,1,N,2,E,0,0,230394,,,N");
    const std::string gsa = nmea_sentence("GPGSA,A,3,,,,,,,,,,,,,1,1,1");
    nmeaINFO info = fresh_info();
    auto sig_fix = [&](const std::string& s) {
        EXPECT_EQ(1, decode_apply(s, &info));
        return std::make_pair(info.sig, info.fix);
    };
    EXPECT_EQ(std::make_pair(2, 2), sig_fix(valid));
    EXPECT_EQ(std::make_pair(2, 3), sig_fix(gsa));
    info.sig = 1;
    EXPECT_EQ(std::make_pair(1, 3), sig_fix(valid));
    EXPECT_EQ(std::make_pair(1, 3), sig_fix(other));
    EXPECT_EQ(std::make_pair(0, 1), sig_fix(warning));
    EXPECT_EQ(std::make_pair(0, 3), sig_fix(gsa));
}

TEST(NmeaGPVTG, NeedsItsUnitLetters) {
    NmeaReports reports;
    nmeaINFO info = fresh_info();
    ASSERT_EQ(1, decode_apply(nmea_sentence("GPVTG,054.7,T,034.4,M,005.5,N,010.2,K,A"), &info));
    EXPECT_EQ(NMEA_GPVTG, info.smask);
    EXPECT_EQ(54.7, info.direction);
    EXPECT_EQ(34.4, info.declination);
    EXPECT_EQ(10.2, info.speed);
    EXPECT_EQ(0, decode_apply(nmea_sentence("GPVTG,054.7,,034.4,,005.5,,010.2,"), &info));
    EXPECT_EQ(0, decode_apply(nmea_sentence("GPVTG,054.7,T,034.4,M"), &info));
    EXPECT_EQ((Strings{"GPVTG parse error (format error)!", "GPVTG parse error!"}), reports.errors);
}

}  // namespace
}  // namespace vgps
