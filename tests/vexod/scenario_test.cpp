#include "scenario.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

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
    EXPECT_EQ(s.devices[1].nmea_epochs.size(), 74u) << "the recorded track, read beside the scenario";
}

TEST(Scenario, DefaultsAndOptionalFields) {
    vgps::test::TempDir dir;
    vgps::test::write_file(dir.file("track.nmea"), "# two fixes\n$GPGGA,120000.00,,,,,0,00,,,,,,,*68\n"
                                                   "$GPGGA,120001.00,,,,,0,00,,,,,,,*69\n");
    Scenario s;
    std::string error;
    ASSERT_TRUE(parse_scenario(R"({"devices": [{"address": "AA:bb:cc:dd:ee:FF", "name": null, "class": 7936},
                                               {"address": "00:00:00:00:00:01", "switched_off": true,
                                                "nmea_file": "track.nmea", "link_faults": {}}],
                                   "inquiry": {"ends_with": "canceled"},
                                   "faults": {"drop_after_requests": 0, "hang_up_at_request": 2,
                                              "malformed_frame": {"after_requests": 3, "kind": "truncated"}}})",
                               &s, &error, dir.path()))
        << error;
    EXPECT_EQ(s.devices[1].nmea_epochs.size(), 2u);
    EXPECT_EQ(s.speed, 1.0);
    EXPECT_EQ(s.accept_timeout_ms, 5000u);
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
    EXPECT_EQ(error_of(R"({"devices": [{"address": "00:11:22:33:44:55", "nmea_file": "/nonexistent/t.log"}]})"),
              "devices[0].nmea_file: cannot read /nonexistent/t.log");
    EXPECT_EQ(error_of(R"({"devices": [{"address": "00:11:22:33:44:55", "link_faults": {"connect_result": 0}}]})"),
              "devices[0].link_faults.connect_result: must not be 0");
    EXPECT_EQ(error_of(R"({"devices": [{"address": "00:11:22:33:44:55", "link_faults": {"sdp_attributes_hex": "35 0"}}]})"),
              "devices[0].link_faults.sdp_attributes_hex: must be pairs of hex digits such as \"35 00\"");
    EXPECT_EQ(error_of(R"({"link": {"speed": -1}})"), "link.speed: must be between 0 and 1e+06");
}

TEST(Scenario, LinkFaultsAndGenerator) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(parse_scenario(R"({"link": {"speed": 0, "accept_timeout_ms": 250}, "devices": [{
        "address": "00:00:00:00:00:01", "services": [{"rfcomm_channel": 3, "service_class": "0x1102"}],
        "generator": {"lat": -33.5, "lon": 151.25, "start_time": 1315989005},
        "link_faults": {"connect_result": "0x0302000b", "drop_after_epochs": 0, "split_at_epoch": 2,
                        "burst_at_epoch": 1, "socket_path": "refused", "sdp_attributes_hex": "35 03 09:00 01"}}]})",
                               &s, &error))
        << error;
    EXPECT_EQ(s.speed, 0.0);
    const Device& d = s.devices[0];
    EXPECT_EQ(d.services[0].service_class, 0x1102);
    EXPECT_EQ(d.generator.lat, -33.5);
    EXPECT_EQ(d.generator.start_time, 1315989005);
    EXPECT_EQ(d.generator.speed_knots, 5.0);
    const LinkFaults& f = d.link_faults;
    EXPECT_EQ(f.connect_result, 0x0302000bu);
    EXPECT_EQ(f.drop_after_epochs, 0u);
    EXPECT_EQ(f.split_at_epoch, 2u);
    EXPECT_EQ(f.split_pause_ms, 200u);
    EXPECT_EQ(f.burst_at_epoch, 1u);
    EXPECT_EQ(f.socket_path, SocketPathFault::Refused);
    EXPECT_EQ(f.sdp_attributes, (std::vector<uint8_t>{0x35, 0x03, 0x09, 0x00, 0x01}));
}

}  // namespace
}  // namespace vexod
