#include "scenario.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace vexod {
namespace {

TEST(Scenario, ExampleHasFourDevices) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(load_scenario(VEXOD_EXAMPLE_SCENARIO, &s, &error)) << error;
    ASSERT_EQ(s.devices.size(), 4u);
    EXPECT_EQ(vgps::ba2str(s.devices[0].address), "00:0b:0d:88:a2:3c");
    EXPECT_EQ(s.devices[0].device_class, 0x001f00u);
    EXPECT_EQ(s.devices[0].name, "GPSlim236");
    EXPECT_EQ(s.devices[1].nmea_epochs.size(), 74u) << "the recorded track, read beside the scenario";
    // The receiver whose fix comes under the GN and GL talkers only, for
    // seven epochs, then GP sentences without a fix.
    ASSERT_EQ(s.devices[3].nmea_epochs.size(), 14u);
    EXPECT_EQ(s.devices[3].nmea_epochs[0].substr(0, 6), "$GNGGA");
    EXPECT_EQ(s.devices[3].nmea_epochs[7].substr(0, 6), "$GPGGA");
}

TEST(Scenario, ValuesInTheirWrittenForms) {
    // A recorded track beside the scenario: cut into epochs at each fix
    // time, comments and blank lines dropped, CR LF restored.
    vgps::test::TempDir dir;
    vgps::test::write_file(dir.file("track.nmea"),
                           "# header\n"
                           "$GPGGA,120000.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\n"
                           "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n"
                           "\n"
                           "$GPGGA,120001.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*46\n"
                           "$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*48\n");
    Scenario s;
    std::string error;
    ASSERT_TRUE(parse_scenario(R"({"devices": [{"address": "AA:bb:cc:dd:ee:FF", "name": null, "class": 7936},
          {"address": "00:00:00:00:00:01", "switched_off": true, "nmea_file": "track.nmea",
           "link_faults": {"connect_result": "0x0302000b", "socket_path": "refused", "sdp_attributes_hex": "35 03 09:00 01"}}]})",
                               &s, &error, dir.path()))
        << error;
    EXPECT_TRUE(s.powered) << "the radio is on unless the scenario says otherwise";
    EXPECT_EQ(vgps::ba2str(s.devices[0].address), "aa:bb:cc:dd:ee:ff");
    EXPECT_FALSE(s.devices[0].name.has_value());
    EXPECT_EQ(s.devices[0].device_class, 0x1f00u);
    EXPECT_TRUE(s.devices[1].switched_off);
    EXPECT_EQ(s.devices[1].nmea_epochs,
              (std::vector<std::string>{"$GPGGA,120000.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"
                                        "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n",
                                        "$GPGGA,120001.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*46\r\n"
                                        "$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*48\r\n"}));
    const LinkFaults& f = s.devices[1].link_faults;
    EXPECT_EQ(f.connect_result, 0x0302000bu);
    EXPECT_EQ(f.socket_path, SocketPathFault::Refused);
    EXPECT_EQ(f.sdp_attributes, (std::vector<uint8_t>{0x35, 0x03, 0x09, 0x00, 0x01}));
}

// Errors name the path of the bad value, or the line and column of a syntax
// error; a number too large for a double is one, also where the scenario
// takes any value (a comment).
TEST(Scenario, ErrorsNameTheLineOrTheValue) {
    const std::pair<std::string, std::string> cases[] = {
        {R"({"devices": [{"address": "00:11:22:33:44:55"}, {"address": "00:11:22:33:44"}]})",
         "devices[1].address: must be a Bluetooth address \"xx:xx:xx:xx:xx:xx\""},
        {R"({"devices": [{"address": "00:11:22:33:44:55", "nmae": "x"}]})", "devices[0].nmae: unknown key"},
        {R"({"devices": [{"address": "00:11:22:33:44:55", "class": "0x1000000"}]})",
         "devices[0].class: must fit in 24 bits"},
        {R"({"devices": [{"address": "00:11:22:33:44:55", "nmea_file": "/nonexistent/t.log"}]})",
         "devices[0].nmea_file: cannot read /nonexistent/t.log: No such file or directory"},
        {R"({"devices": [{"address": "00:11:22:33:44:55", "link_faults": {"sdp_attributes_hex": "35 0"}}]})",
         "devices[0].link_faults.sdp_attributes_hex: must be pairs of hex digits such as \"35 00\""},
        {R"({"link": {"speed": -1}})", "link.speed: must be between 0 and 1e+06"},
        {"{\n  \"radio\": {\n    \"powered\": tru\n  }\n}",
         "line 3, column 19: syntax error while parsing value - invalid literal; last read: '\"powered\": tru<U+000A>'"},
        {"{\n  \"comment\": [\"fast\", -2E+999]\n}", "line 2, column 29: number overflow parsing '-2E+999'"},
        {R"({"comment": )" + std::string(400, '9') + "}",
         "line 1, column 412: number overflow parsing '" + std::string(400, '9') + "'"},
    };
    Scenario s;
    std::string error;
    for (const auto& [text, expected] : cases) {
        EXPECT_FALSE(parse_scenario(text, &s, &error)) << text;
        EXPECT_EQ(error, expected);
    }
    EXPECT_TRUE(parse_scenario(R"({"comment": 1e300, "link": {"speed": 1e-400}})", &s, &error)) << error;
}

// Files are read up to a size of their own, as the scenario or as an NMEA
// file. (What is not a regular file, a FIFO, a device or a folder, would
// block start-up or never end: vexod_process_test.cpp.)
TEST(Scenario, ReadsRegularFilesOnly) {
    vgps::test::TempDir dir;
    vgps::test::write_file(dir.file("huge"), "");
    ASSERT_EQ(::truncate(dir.file("huge").c_str(), off_t{5} << 30), 0);  // sparse: takes no room
    const std::pair<std::string, std::string> cases[] = {
        {dir.file("huge"), "is 5368709120 bytes, more than the limit of 4 MiB"},
        {dir.file("missing"), "No such file or directory"},
    };
    Scenario s;
    std::string error;
    for (const auto& [path, expected] : cases) {
        EXPECT_FALSE(load_scenario(path, &s, &error)) << path;
        EXPECT_EQ(error, expected);
    }
    vgps::test::write_file(dir.file("s.json"), R"({"devices": [{"address": "00:11:22:33:44:55", "nmea_file": "huge"}]})");
    EXPECT_FALSE(load_scenario(dir.file("s.json"), &s, &error));
    EXPECT_EQ(error, "devices[0].nmea_file: cannot read " + dir.file("huge") +
                         ": is 5368709120 bytes, more than the limit of 64 MiB");
}

}  // namespace
}  // namespace vexod
