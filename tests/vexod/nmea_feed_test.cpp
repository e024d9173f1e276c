// The simulated receiver's generated stream, decoded by the application's
// own NMEA parser: its positions stay on the globe wherever it drives.
#include "nmea_feed.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "nmea/info.h"
#include "nmea/parser.h"

namespace vexod {
namespace {

struct Fix {
    double lat, lon;  // ddmm.mmmm as decoded, negative south and west
    double direction;
};

// `epochs` epochs of a generator, each decoded on its own.
std::vector<Fix> drive(double lat, double lon, double knots, double course, int epochs) {
    NmeaGenerator generator(lat, lon, 1316075405, knots, course);
    vgps::nmeaPARSER parser;
    EXPECT_EQ(1, vgps::nmea_parser_init(&parser));
    vgps::nmeaINFO info;
    vgps::nmea_zero_INFO(&info);
    std::vector<Fix> fixes;
    for (int i = 0; i < epochs; ++i) {
        const std::string epoch = generator.next_epoch();
        EXPECT_EQ(7, vgps::nmea_parse(&parser, epoch.data(), static_cast<int>(epoch.size()), &info)) << epoch;
        fixes.push_back({info.lat, info.lon, info.direction});
    }
    vgps::nmea_parser_destroy(&parser);
    return fixes;
}

double radians(double ndeg) { return vgps::nmea_ndeg2degree(ndeg) * std::numbers::pi / 180.0; }

// Metres between two fixes on a sphere of the earth's mean radius.
double metres(const Fix& a, const Fix& b) {
    const double la = radians(a.lat), lb = radians(b.lat), dlon = radians(b.lon) - radians(a.lon);
    const double h = std::pow(std::sin((lb - la) / 2), 2) + std::cos(la) * std::cos(lb) * std::pow(std::sin(dlon / 2), 2);
    return 2 * 6371000.0 * std::asin(std::sqrt(std::min(1.0, h)));
}

// Every fix is a place on the globe, with minutes below 60, and no step is
// longer than the distance driven in a second.
void expect_on_the_globe(const std::vector<Fix>& fixes, double knots) {
    for (size_t i = 0; i < fixes.size(); ++i) {
        const Fix& f = fixes[i];
        ASSERT_LE(std::fabs(f.lat), 9000.0) << i;
        ASSERT_LE(std::fabs(f.lon), 18000.0) << i;
        ASSERT_LT(std::fmod(std::fabs(f.lat), 100.0), 60.0) << i;
        ASSERT_LT(std::fmod(std::fabs(f.lon), 100.0), 60.0) << i;
        if (i > 0) {
            ASSERT_LT(metres(fixes[i - 1], f), knots * 1852.0 / 3600.0 * 1.01) << i;
        }
    }
}

TEST(NmeaGenerator, DrivesOverThePolesAndAcrossTheDateLine) {
    constexpr double kKnots = 1000;  // 0.28 degrees of latitude a minute
    // North from 89 N 11.5 E: over the pole after 216 s, then south along
    // 168.5 W, heading 180.
    const std::vector<Fix> north = drive(89.0, 11.5, kKnots, 0, 600);
    expect_on_the_globe(north, kKnots);
    EXPECT_EQ(north.front().lon, 1130.0);
    EXPECT_EQ(north.back().lon, -16830.0);
    EXPECT_NEAR(vgps::nmea_ndeg2degree(north.back().lat), 90 - (600 - 216) * kKnots / 216000, 0.01);
    EXPECT_EQ(north.back().direction, 180.0);

    // South-west from 89 S, across the pole and the 180th meridian.
    const std::vector<Fix> south = drive(-89.0, -179.9, kKnots, 225, 1200);
    expect_on_the_globe(south, kKnots);
    EXPECT_GT(south.back().lat, -8900.0);
    EXPECT_EQ(south.back().direction, 45.0);

    // East along the equator from 179.99 E: past 180 it is west.
    const std::vector<Fix> east = drive(0.0, 179.99, 60, 90, 60);
    expect_on_the_globe(east, 60);
    EXPECT_EQ(east.front().lon, 17959.4);
    EXPECT_NEAR(east.back().lon, -17959.6167, 0.0001);  // 59 s at a minute of arc an hour
}

}  // namespace
}  // namespace vexod
