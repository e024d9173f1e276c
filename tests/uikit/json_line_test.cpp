#include "uikit/json_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vgps {
namespace {

TEST(JsonLine, NumbersAreShortestExactAndTextsEscaped) {
    JSON value = JSON::object();
    value["whole"] = 416.0;
    value["third"] = 1.0 / 3;
    value["float"] = static_cast<double>(48.117302f);
    value["negzero"] = -0.0;
    value["nan"] = std::nan("");
    value["inf"] = std::numeric_limits<double>::infinity();
    value["int"] = -5;
    value["text"] = std::string("a\"b\\c\n\x01\xc3\xa9");
    value["list"] = JSON::array({true, nullptr, JSON::object()});
    EXPECT_EQ(json_line(value),
              R"({"whole":416,"third":0.3333333333333333,"float":48.11730194091797,"negzero":-0,"nan":null,)"
              R"("inf":null,"int":-5,"text":"a\"b\\c\n\u0001é","list":[true,null,{}]})");
    // What it writes reads back to the same numbers.
    const auto back = nlohmann::json::parse(json_line(value));
    EXPECT_EQ(back["third"].get<double>(), 1.0 / 3);
    EXPECT_EQ(back["float"].get<double>(), static_cast<double>(48.117302f));
}

}  // namespace
}  // namespace vgps
