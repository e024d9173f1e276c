// vexod-gps --headless against the real vexod: the lines other checks read.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using vgps::test::ChildProcess;
using vgps::test::TempDir;
using vgps::test::VexodProcess;

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

const char* kScenario = R"({
  "radio": {"powered": false},
  "inquiry": {"end_after_ms": 50},
  "devices": [
    {"address": "00:0b:0d:88:a2:3c", "class": "0x001f00", "name": "GPSlim236", "inquiry_delay_ms": 10},
    {"address": "00:1c:88:30:5e:01", "class": "0x001f00", "name": "BT \"5E01\"", "inquiry_delay_ms": 20},
    {"address": "00:02:78:14:c9:7d", "class": "0x5a020c", "inquiry_delay_ms": 30},
    {"address": "00:0a:0a:0a:0a:0a", "class": "0x001f00", "name": "Remembered", "inquiry_delay_ms": 40}
  ]
})";

// A remembered device, also in range: neither reported as new nor asked
// for its name.
void write_preferences(const TempDir& dir) {
    vgps::test::write_file(dir.file("com.quiloe.vexod.plist"), R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>remembered</key>
	<array><string>00:0a:0a:0a:0a:0a</string></array>
	<key>default</key>
	<string>00:0a:0a:0a:0a:0a</string>
</dict>
</plist>
)");
    vgps::test::write_file(dir.file("com.quiloe.vexod-devices.plist"), R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>00:0a:0a:0a:0a:0a</key>
	<dict>
		<key>device-name</key><string>My GPS</string>
		<key>device-class</key><integer>7936</integer>
	</dict>
</dict>
</plist>
)");
}

std::unique_ptr<ChildProcess> run_front_end(const TempDir& dir, const VexodProcess& vexod,
                                            std::vector<std::string> extra = {"--exit-when-done"}) {
    ::setenv("VEXOD_GPS_PREFS_DIR", dir.path().c_str(), 1);
    std::vector<std::string> argv{VEXOD_GPS_BINARY, "--headless", "--socket", vexod.socket_path(), "--timeout", "20"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return std::make_unique<ChildProcess>(argv, dir.file("gps.out"), dir.file("gps.err"));
}

TEST(Headless, FindsDevicesAndResolvesTheirNames) {
    TempDir dir;
    write_preferences(dir);
    VexodProcess vexod(VEXOD_BINARY, dir.path(), kScenario);
    auto gps = run_front_end(dir, vexod);
    const int status = gps->wait(20000ms);
    ASSERT_TRUE(WIFEXITED(status)) << vgps::test::read_file(dir.file("gps.err"));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(lines_of(vgps::test::read_file(dir.file("gps.out"))),
              (std::vector<std::string>{
                  "remembered 00:0a:0a:0a:0a:0a name=\"My GPS\" class=0x001f00 saved=1 bookmarked=1",
                  "initial-state 1",
                  "inquiry-started",
                  "found 00:0b:0d:88:a2:3c class=0x001f00",
                  "found 00:1c:88:30:5e:01 class=0x001f00",
                  "found 00:02:78:14:c9:7d class=0x5a020c",
                  "inquiry-stopped",
                  "name 00:0b:0d:88:a2:3c \"GPSlim236\"",
                  "name 00:1c:88:30:5e:01 \"BT \\\"5E01\\\"\"",
                  "name-failed 00:02:78:14:c9:7d",
                  "names-done",
                  // Then the first device found is tapped; it offers no
                  // serial port.
                  "connecting 00:0b:0d:88:a2:3c",
                  "initial-state 1",
                  "message \"Service Searching\" \"No suitable serial port service found.\"",
                  "state 1 -> 0",
              }));
    // Names were asked for one at a time, only for the devices not saved.
    const std::string daemon_log = vexod.log();
    EXPECT_EQ(daemon_log.find("name of 00:0a:0a:0a:0a:0a"), std::string::npos);
}

TEST(Headless, ExitsWhenTheDaemonGoesAway) {
    TempDir dir;
    VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({})");
    auto gps = run_front_end(dir, vexod, {});
    ASSERT_TRUE(vgps::test::wait_for_text(dir.file("gps.out"), "no-devices"));
    vexod.process().signal(SIGTERM);
    const int status = gps->wait(10000ms);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const auto lines = lines_of(vgps::test::read_file(dir.file("gps.out")));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "state 1 -> 0");
    EXPECT_EQ(lines.back(), "alert \"Daemon disconnected\" \"The vexod daemon exited.\" [Dismiss]");
}

TEST(Headless, ReportsAMissingDaemonAndStopsOnSigint) {
    TempDir dir;
    {
        ChildProcess gps({VEXOD_GPS_BINARY, "--headless", "--socket", dir.file("nobody")}, dir.file("o"), dir.file("e"));
        const int status = gps.wait(10000ms);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
        EXPECT_EQ(vgps::test::read_file(dir.file("o")), "connect-failed\n");
    }
    VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({})");
    auto gps = run_front_end(dir, vexod, {});
    ASSERT_TRUE(vgps::test::wait_for_text(dir.file("gps.out"), "no-devices"));
    gps->signal(SIGINT);
    const int status = gps->wait(10000ms);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(lines_of(vgps::test::read_file(dir.file("gps.out"))).back(), "state 1 -> 0");
}

// Two receivers; the second is chosen by address and streams a generated
// track as fast as the socket takes it.
const char* kReceivers = R"({
  "link": {"speed": 0},
  "inquiry": {"end_after_ms": 20},
  "devices": [
    {"address": "00:0b:0d:88:a2:3c", "class": "0x001f00", "name": "A", "inquiry_delay_ms": 0,
     "services": [{"name": "SPP", "rfcomm_channel": 1}]},
    {"address": "00:1c:88:30:5e:01", "class": "0x001f00", "name": "B", "inquiry_delay_ms": 0,
     "services": [{"name": "GPS", "rfcomm_channel": 2}],
     "generator": {"lat": -33.8568, "lon": 151.2153, "start_time": 1316075405},
     "link_faults": {"drop_after_epochs": 40}}
  ]
})";

TEST(Headless, PrintsPositionsOfTheChosenDevice) {
    TempDir dir;
    VexodProcess vexod(VEXOD_BINARY, dir.path(), kReceivers);
    auto gps = run_front_end(dir, vexod, {"--device", "00:1C:88:30:5E:01", "--positions", "5"});
    const int status = gps->wait(20000ms);
    ASSERT_TRUE(WIFEXITED(status)) << vgps::test::read_file(dir.file("gps.err"));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto lines = lines_of(vgps::test::read_file(dir.file("gps.out")));
    const auto at = std::find(lines.begin(), lines.end(), "connecting 00:1c:88:30:5e:01");
    ASSERT_NE(at, lines.end());
    ASSERT_GE(lines.end() - at, 7);
    EXPECT_EQ(at[1], "state 1 -> 3");
    // Sydney: south and east; the degrees as the inspector shows them.
    const std::regex position(
        R"(\{"UTC":"2011/09/15 08:3\d:\d\d\.00","FIX":3,"LAT":-3351\.\d+,"LON":15112\.\d+,)"
        R"("LAT_DEG":-33\.85\d{4},"LON_DEG":151\.21\d{4}\})");
    for (int i = 2; i < 7; ++i) EXPECT_TRUE(std::regex_match(at[i], position)) << at[i];
    // Exactly five, then the link and the daemon connection are closed.
    EXPECT_EQ(lines.end() - at, 8);
    EXPECT_EQ(lines.back(), "state 3 -> 0");
}

TEST(Headless, ExitWhenDoneWaitsForTheLinkToEnd) {
    TempDir dir;
    VexodProcess vexod(VEXOD_BINARY, dir.path(), kReceivers);
    auto gps = run_front_end(dir, vexod, {"--exit-when-done", "--device", "00:1c:88:30:5e:01"});
    const int status = gps->wait(20000ms);
    ASSERT_TRUE(WIFEXITED(status)) << vgps::test::read_file(dir.file("gps.err"));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto lines = lines_of(vgps::test::read_file(dir.file("gps.out")));
    // Notification 31 after the 40th epoch; what was still in the data
    // socket may be printed after it.
    EXPECT_NE(std::find(lines.begin(), lines.end(), "state 3 -> 1"), lines.end());
    EXPECT_EQ(lines.back(), "state 1 -> 0");
    EXPECT_GE(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l[0] == '{'; }), 1);

    // An address that is not in the list is said so and ends the run.
    auto other = run_front_end(dir, vexod, {"--exit-when-done", "--device", "00:00:00:00:00:09"});
    ASSERT_TRUE(WIFEXITED(other->wait(20000ms)));
    const auto other_lines = lines_of(vgps::test::read_file(dir.file("gps.out")));
    EXPECT_NE(std::find(other_lines.begin(), other_lines.end(), "device-not-found 00:00:00:00:00:09"),
              other_lines.end());
}

}  // namespace
