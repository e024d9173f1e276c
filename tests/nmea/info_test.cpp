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

    nmeaINFO want;
    std::memset(&want, 0, sizeof want);
    want.utc = {111, 5, 3, 14, 52, 43, 0};
    want.fix = 1;
    EXPECT_EQ(0, std::memcmp(&want, &info, sizeof info));
}

TEST(NmeaNdeg2Degree, SplitsDegreesAndMinutesKeepingTheSign) {
    EXPECT_NEAR(48.1173, nmea_ndeg2degree(4807.038), 1e-12);
    EXPECT_NEAR(-48.1173, nmea_ndeg2degree(-4807.038), 1e-12);
    EXPECT_NEAR(-117.747123333, nmea_ndeg2degree(-11744.8274), 1e-9);
    EXPECT_TRUE(std::signbit(nmea_ndeg2degree(-0.0)));
}

}  // namespace
}  // namespace vgps
