#include "nmea/info.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>

namespace vgps {
namespace {

TEST(NmeaZeroInfo, ResetsToNoFixAtTheCurrentTime) {
    nmeaINFO info;
    std::memset(&info, 0x5a, sizeof info);
    const std::time_t when = 1307112763;  // 2011-06-03 14:52:43 UTC
    nmea_time_set_clock(&when);
    nmea_zero_INFO(&info);
    nmea_time_set_clock(nullptr);

    EXPECT_EQ(0, info.smask);
    EXPECT_EQ(111, info.utc.year);
    EXPECT_EQ(5, info.utc.mon);
    EXPECT_EQ(3, info.utc.day);
    EXPECT_EQ(14, info.utc.hour);
    EXPECT_EQ(52, info.utc.min);
    EXPECT_EQ(43, info.utc.sec);
    EXPECT_EQ(0, info.utc.hsec);
    EXPECT_EQ(0, info.sig);
    EXPECT_EQ(1, info.fix);
    EXPECT_EQ(0.0, info.lat);
    EXPECT_EQ(0.0, info.declination);
    EXPECT_EQ(0, info.satinfo.inview);
    EXPECT_EQ(0, info.satinfo.sat[11].sig);

    // Back on the system clock.
    nmeaTIME now;
    nmea_time_now(&now);
    EXPECT_GT(now.year, 120);
}

TEST(NmeaNdeg2Degree, SplitsDegreesAndMinutesKeepingTheSign) {
    EXPECT_NEAR(48.1173, nmea_ndeg2degree(4807.038), 1e-12);
    EXPECT_NEAR(-48.1173, nmea_ndeg2degree(-4807.038), 1e-12);
    EXPECT_NEAR(-117.747123333, nmea_ndeg2degree(-11744.8274), 1e-9);
    EXPECT_NEAR(0.5, nmea_ndeg2degree(30.0), 1e-15);
    EXPECT_TRUE(std::signbit(nmea_ndeg2degree(-0.0)));
}

}  // namespace
}  // namespace vgps
