// The position line of the headless report, from the user-info that the
// data link posts.
#include <gtest/gtest.h>

#include "app/HeadlessReport.h"

namespace vgps {
namespace {

TEST(PositionLine, CarriesTheEntriesAndTheDegreesTheInspectorShows) {
    nmeaINFO info{};
    info.utc = nmeaTIME{111, 8, 15, 8, 30, 5, 7};
    info.fix = 3;
    info.lat = 4807.038;
    info.lon = -1131.0;
    EXPECT_EQ(HeadlessReport::positionLine(position_user_info(info)),
              R"({"UTC":"2011/09/15 08:30:05.07","FIX":3,"LAT":4807.038,"LON":-1131,)"
              R"("LAT_DEG":48.117302,"LON_DEG":-11.516666})");
}

TEST(PositionLine, MissingEntriesAndOddValues) {
    // Missing entries as the inspector takes them; a negative zero keeps its
    // sign; what JSON cannot carry becomes null.
    EXPECT_EQ(HeadlessReport::positionLine(UserInfo{{"LAT", -0.0}}),
              R"({"UTC":"","FIX":0,"LAT":-0,"LON":0,"LAT_DEG":-0.000000,"LON_DEG":0.000000})");
    EXPECT_EQ(HeadlessReport::positionLine(UserInfo{{"UTC", std::string("a\"b")}, {"LON", 1e39}}),
              R"({"UTC":"a\"b","FIX":0,"LAT":0,"LON":null,"LAT_DEG":0.000000,"LON_DEG":null})");
}

}  // namespace
}  // namespace vgps
