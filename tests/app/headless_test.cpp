// vexod-gps --headless against the real vexod: the lines other checks read.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <regex>
#include <string>
#include <vector>

#include "support/plist_probe.h"
#include "support/process.h"
#include "support/sockets.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using vgps::test::ChildProcess;
using vgps::test::exited_with;
using vgps::test::output_lines;
using vgps::test::read_file;
using vgps::test::TempDir;
using vgps::test::VexodProcess;
namespace test = vgps::test;

// The front-end on vexod's socket with the preferences in `dir`, printing to
// `name`.out and `name`.err there.
std::unique_ptr<ChildProcess> run_front_end(const TempDir& dir, const VexodProcess& vexod,
                                            std::vector<std::string> extra, const std::string& name = "gps") {
    ::setenv("VEXOD_GPS_PREFS_DIR", dir.path().c_str(), 1);
    std::vector<std::string> argv{VEXOD_GPS_BINARY, "--headless", "--socket", vexod.socket_path(), "--timeout", "20"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return std::make_unique<ChildProcess>(argv, dir.file(name + ".out"), dir.file(name + ".err"));
}

TEST(Headless, FindsDevicesAndResolvesTheirNames) {
    // Two remembered receivers, the first also in range: neither reported
    // as found nor asked for its name.
    TempDir dir;
    vgps::test::copy_files(std::string(VGPS_TEST_DATA_DIR) + "/prefs/xml/a-then-b", dir.path());
    VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({"radio": {"powered": false}, "inquiry": {"end_after_ms": 50},
      "devices": [
        {"address": "00:0b:0d:88:a2:3c", "class": "0x001f00", "name": "GPSlim236", "inquiry_delay_ms": 10},
        {"address": "00:1c:88:30:5e:01", "class": "0x001f00", "name": "BT \"5E01\"", "inquiry_delay_ms": 20,
         "repeat": 2},
        {"address": "00:02:78:14:c9:7d", "class": "0x5a020c", "inquiry_delay_ms": 30},
        {"address": "00:11:22:33:44:55", "class": "0x001f00", "name": "Remembered", "inquiry_delay_ms": 40}]})");
    auto gps = run_front_end(dir, vexod, {"--exit-when-done"});
    EXPECT_TRUE(exited_with(gps->wait(20000ms), 0)) << read_file(dir.file("gps.err"));
    EXPECT_EQ(output_lines(dir.file("gps.out")),
              (std::vector<std::string>{
                  "remembered 00:11:22:33:44:55 name=\"Receiver A\" class=0x001f00 saved=1 bookmarked=0",
                  "remembered 0a:1b:2c:3d:4e:5f name=\"Receiver B\" class=0x240404 saved=1 bookmarked=1",
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
    EXPECT_EQ(vexod.log().find("name of 00:11:22:33:44:55"), std::string::npos);
}

TEST(Headless, ReportsAMissingDaemonAndStopsOnSigintOrWhenTheDaemonGoesAway) {
    TempDir dir;
    ChildProcess lone({VEXOD_GPS_BINARY, "--headless", "--socket", dir.file("nobody")}, dir.file("o"), dir.file("e"));
    EXPECT_TRUE(exited_with(lone.wait(10000ms), 1));
    EXPECT_EQ(read_file(dir.file("o")), "connect-failed\n");

    VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({})");
    auto interrupted = run_front_end(dir, vexod, {}, "interrupted");
    ASSERT_TRUE(vgps::test::wait_for_text(dir.file("interrupted.out"), "no-devices"));
    interrupted->signal(SIGINT);
    EXPECT_TRUE(exited_with(interrupted->wait(10000ms), 0));
    EXPECT_EQ(output_lines(dir.file("interrupted.out")).back(), "state 1 -> 0");

    auto abandoned = run_front_end(dir, vexod, {}, "abandoned");
    ASSERT_TRUE(vgps::test::wait_for_text(dir.file("abandoned.out"), "no-devices"));
    vexod.process().signal(SIGTERM);
    EXPECT_TRUE(exited_with(abandoned->wait(10000ms), 1));
    const auto lines = output_lines(dir.file("abandoned.out"));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "state 1 -> 0");
    EXPECT_EQ(lines.back(), "alert \"Daemon disconnected\" \"The vexod daemon exited.\" [Dismiss]");
}

// Two receivers; the second streams a generated track as fast as the socket
// takes it, and drops the link after 40 epochs.
const char* kReceivers = R"({"link": {"speed": 0}, "inquiry": {"end_after_ms": 20}, "devices": [
    {"address": "00:0b:0d:88:a2:3c", "class": "0x001f00", "name": "A", "inquiry_delay_ms": 0,
     "services": [{"name": "SPP", "rfcomm_channel": 1}]},
    {"address": "00:1c:88:30:5e:01", "class": "0x001f00", "name": "B", "inquiry_delay_ms": 0,
     "services": [{"name": "GPS", "rfcomm_channel": 2}],
     "generator": {"lat": -33.8568, "lon": 151.2153, "start_time": 1316075405},
     "link_faults": {"drop_after_epochs": 40}}]})";

TEST(Headless, PrintsPositionsOfTheChosenDeviceUntilTheLinkEnds) {
    TempDir dir;
    VexodProcess vexod(VEXOD_BINARY, dir.path(), kReceivers);
    auto gps = run_front_end(dir, vexod, {"--device", "00:1C:88:30:5E:01", "--positions", "5"});
    EXPECT_TRUE(exited_with(gps->wait(20000ms), 0)) << read_file(dir.file("gps.err"));
    auto lines = output_lines(dir.file("gps.out"));
    auto at = std::find(lines.begin(), lines.end(), "connecting 00:1c:88:30:5e:01");
    // The daemon streams the 40 epochs as fast as the socket takes them and
    // then drops the link: on a slow run (sanitizers) its notification 31
    // can come before the fifth position is printed ("state 3 -> 1", and
    // the positions still in the data socket after it), else the
    // application closes the link itself ("state 3 -> 0").
    std::vector<std::string> road(at, lines.end());
    const auto dropped = std::find(road.begin(), road.end(), "state 3 -> 1");
    const bool droppedFirst = dropped != road.end();
    if (droppedFirst) road.erase(dropped);
    ASSERT_EQ(road.size(), 8u) << "exactly five positions, then the link and the daemon connection closed";
    EXPECT_EQ(road[1], "state 1 -> 3");
    // Sydney: south and east; the degrees as the inspector shows them.
    const std::regex position(
        R"(\{"UTC":"2011/09/15 08:3\d:\d\d\.00","FIX":3,"LAT":-3351\.\d+,"LON":15112\.\d+,)"
        R"("LAT_DEG":-33\.85\d{4},"LON_DEG":151\.21\d{4}\})");
    for (int i = 2; i < 7; ++i) EXPECT_TRUE(std::regex_match(road[i], position)) << road[i];
    EXPECT_EQ(road[7], droppedFirst ? "state 1 -> 0" : "state 3 -> 0");

    // An address that is not in the list is said so and ends the run.
    auto other = run_front_end(dir, vexod, {"--exit-when-done", "--device", "00:00:00:00:00:09"}, "other");
    EXPECT_TRUE(WIFEXITED(other->wait(20000ms)));
    lines = output_lines(dir.file("other.out"));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "device-not-found 00:00:00:00:00:09"), lines.end());
}

TEST(Headless, PrintsTheLinkHealthOnceASecondWhileTheLinkIsUp) {
    // A GPS/GLONASS receiver whose first seven epochs carry the fix under
    // the GN and GL talkers only, two epochs a second; then the link drops.
    TempDir dir;
    VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({"link": {"speed": 2}, "inquiry": {"end_after_ms": 20}, "devices": [
        {"address": "00:1b:c1:47:11:06", "class": "0x001f00", "name": "GNSS Mouse", "inquiry_delay_ms": 0,
         "services": [{"name": "Serial Port", "rfcomm_channel": 1}],
         "nmea_file": ")" + std::string(VGPS_TEST_DATA_DIR) + R"(/nmea/ch-4711.log",
         "link_faults": {"drop_after_epochs": 7}}]})");
    auto gps = run_front_end(dir, vexod, {"--exit-when-done"});
    EXPECT_TRUE(exited_with(gps->wait(20000ms), 0)) << read_file(dir.file("gps.err"));
    const auto lines = output_lines(dir.file("gps.out"));
    const auto up = std::find(lines.begin(), lines.end(), "state 1 -> 3");
    const auto down = std::find(lines.begin(), lines.end(), "state 3 -> 1");
    ASSERT_LT(up, down);
    EXPECT_EQ(lines.back(), "state 1 -> 0") << "--exit-when-done ends the run once the link has ended";

    // Every key, in this order; the verdict says why there is no fix.
    const std::regex health(
        R"(\{"HEALTH":\{"verdict":"receiving GN( and GL)? sentences: this build decodes GP only",)"
        R"("link_s":([\d.]+),"bytes_per_s":[\d.]+,"sentences_per_s":[\d.]+,"applied_per_s":[\d.]+,)"
        R"("since_byte_s":[\d.]+,"since_applied_s":([\d.]+|null),"bytes":\d+,"sentences":\d+,"applied":\d+,)"
        R"("refused":0,"bad_checksums":0,"bad_checksum_pct":0,"skipped":"GNGSA [\d.]+/s, [^"]+",)"
        R"("skipped_sentences":\d+,"skipped_bytes":0,"clears":0,"dropped_bytes":0\}\})");
    std::vector<double> link_seconds;
    for (auto it = lines.begin(); it != lines.end(); ++it) {
        if (it->rfind("{\"HEALTH\"", 0) != 0) continue;
        EXPECT_TRUE(it > up && it < down) << "only while the link is up: " << *it;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(*it, m, health)) << *it;
        link_seconds.push_back(std::stod(m[2]));
    }
    // The link streamed for three seconds and a half.
    ASSERT_GE(link_seconds.size(), 1u);
    EXPECT_LE(link_seconds.size(), 4u);
    for (size_t i = 1; i < link_seconds.size(); ++i) EXPECT_GE(link_seconds[i] - link_seconds[i - 1], 0.9);
    // The positions go on as before: no fix.
    for (auto it = up + 1; it != down; ++it) {
        if (it->rfind("{\"UTC\"", 0) != 0) continue;
        EXPECT_NE(it->find("\"FIX\":1,"), std::string::npos) << *it;
    }
}

// A daemon that answers the first request with a header announcing 1 MiB
// and then one byte every 100 ms, for 20 s or until the application goes.
class TricklingDaemon {
public:
    explicit TricklingDaemon(const std::string& path)
        : listener_(test::listen_unix(path)), thread_([this] {
              const int fd = ::accept(listener_, nullptr, nullptr);
              const test::Bytes request = test::read_exact(fd, 20);
              if (request.size() == 20) {
                  test::write_all(fd, test::frame(0, test::get32(request, 12), 1, {}, 0x12345678, 1 << 20));
                  trickling = true;
                  for (int i = 0; i < 200 && test::write_all(fd, {0x5A}); ++i)
                      std::this_thread::sleep_for(100ms);
              }
              ::close(fd);
          }) {}
    ~TricklingDaemon() {
        ::shutdown(listener_, SHUT_RDWR);  // wakes an accept still waiting
        thread_.join();
        ::close(listener_);
    }
    std::atomic<bool> trickling{false};

private:
    int listener_;
    test::PeerThread thread_;
};

TEST(Headless, StopSignalsAndTheTimeOutEndARunWhateverTheDaemonSends) {
    TempDir dir;
    ::setenv("VEXOD_GPS_PREFS_DIR", dir.path().c_str(), 1);
    const struct {
        const char* what;
        int signal;  // 0: --timeout 1 ends the run
        int status;
    } cases[] = {{"SIGTERM", SIGTERM, 0}, {"SIGINT", SIGINT, 0}, {"--timeout 1", 0, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string socket = dir.file(std::string("trickle-") + std::to_string(c.signal));
        auto daemon = std::make_unique<TricklingDaemon>(socket);
        std::vector<std::string> argv{VEXOD_GPS_BINARY, "--headless", "--socket", socket};
        if (c.signal == 0) argv.insert(argv.end(), {"--timeout", "1"});
        const auto start = std::chrono::steady_clock::now();
        ChildProcess gps(argv, dir.file("gps.out"), dir.file("gps.err"));
        while (!daemon->trickling && std::chrono::steady_clock::now() - start < 5s) std::this_thread::sleep_for(5ms);
        ASSERT_TRUE(daemon->trickling) << read_file(dir.file("gps.err"));
        std::this_thread::sleep_for(300ms);  // well inside the wait for the answer
        if (c.signal != 0) gps.signal(c.signal);
        const auto signalled = std::chrono::steady_clock::now();
        const int status = gps.wait(10000ms);
        // Within a second of the signal, or of the time-out.
        EXPECT_LT(std::chrono::steady_clock::now() - (c.signal != 0 ? signalled : start + 1s), 1s);
        EXPECT_TRUE(exited_with(status, c.status)) << status << "\n" << read_file(dir.file("gps.err"));
        EXPECT_EQ(read_file(dir.file("gps.out")).find("alert"), std::string::npos) << read_file(dir.file("gps.out"));
        daemon.reset();
    }
}

}  // namespace
