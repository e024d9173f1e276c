#include "scenario.h"

#include <gtest/gtest.h>

namespace vexod {
namespace {

std::string error_of(const std::string& text) {
    Scenario s;
    std::string error;
    EXPECT_FALSE(parse_scenario(text, &s, &error)) << text;
    return error;
}

TEST(Scenario, ExampleHasThreeDevices) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(load_scenario(VEXOD_EXAMPLE_SCENARIO, &s, &error)) << error;
    ASSERT_EQ(s.devices.size(), 3u);
    EXPECT_FALSE(s.powered);
    EXPECT_EQ(address_text(s.devices[0].address), "00:0b:0d:88:a2:3c");
    EXPECT_EQ(s.devices[0].device_class, 0x001f00u);
    EXPECT_EQ(s.devices[0].name, "GPSlim236");
    ASSERT_EQ(s.devices[1].services.size(), 1u);
    EXPECT_EQ(s.devices[1].services[0].rfcomm_channel, 2);
}

TEST(Scenario, DefaultsAndOptionalFields) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(parse_scenario(R"({"devices": [{"address": "AA:bb:cc:dd:ee:FF", "name": null, "class": 7936},
                                               {"address": "00:00:00:00:00:01", "switched_off": true,
                                                "nmea_file": "track.nmea", "link_faults": {}}],
                                   "inquiry": {"ends_with": "canceled"},
                                   "faults": {"drop_after_requests": 0, "hang_up_at_request": 2,
                                              "malformed_frame": {"after_requests": 3, "kind": "truncated"}}})",
                               &s, &error))
        << error;
    EXPECT_TRUE(s.powered);
    EXPECT_TRUE(s.inquiry_canceled);
    EXPECT_EQ(address_text(s.devices[0].address), "aa:bb:cc:dd:ee:ff");
    EXPECT_FALSE(s.devices[0].name.has_value());
    EXPECT_EQ(s.devices[0].device_class, 0x1f00u);
    EXPECT_EQ(s.devices[0].repeat, 1u);
    EXPECT_TRUE(s.devices[1].switched_off);
    EXPECT_EQ(s.faults.drop_after_requests, 0u);
    EXPECT_EQ(s.faults.hang_up_at_request, 2u);
    EXPECT_EQ(s.faults.malformed_after_requests, 3u);
    EXPECT_EQ(s.faults.malformed_kind, MalformedKind::Truncated);
}

TEST(Scenario, ErrorsNameTheLineOrTheValue) {
    EXPECT_NE(error_of("{\n  \"radio\": {\n    \"powered\": tru\n  }\n}").find("line 3"), std::string::npos);
    EXPECT_EQ(error_of(R"({"devices": [{"address": "00:11:22:33:44:55"}, {"address": "00:11:22:33:44"}]})"),
              "devices[1].address: must be a Bluetooth address \"xx:xx:xx:xx:xx:xx\"");
    EXPECT_EQ(error_of(R"({"devices": [{"address": "00:11:22:33:44:55", "nmae": "x"}]})"),
              "devices[0].nmae: unknown key");
    EXPECT_EQ(error_of(R"({"devices": [{"address": "00:11:22:33:44:55", "class": "0x1000000"}]})"),
              "devices[0].class: must fit in 24 bits");
    EXPECT_EQ(error_of(R"({"devices": [{"address": "00:11:22:33:44:55", "inquiry_delay_ms": -5}]})"),
              "devices[0].inquiry_delay_ms: must be a whole number of 0 or more");
    EXPECT_EQ(error_of(R"({"radio": {"powered": "yes"}})"), "radio.powered: must be true or false");
    EXPECT_EQ(error_of(R"({"faults": {"malformed_frame": {"kind": "odd"}}})"),
              "faults.malformed_frame.kind: must be bad_magic, too_small, too_big or truncated");
    EXPECT_EQ(error_of(R"([1, 2])"), ": must be an object");
}

}  // namespace
}  // namespace vexod
