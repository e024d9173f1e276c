// vexod-gps --headless against the real vexod: the lines other checks read.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

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

}  // namespace
