// vexod-gps in a terminal (tmux), against the real vexod, used as a person
// would: the notice, the switch, the search and the names, the highlight,
// a click on a row, the inspector with its values and the pin, back, the
// detail button, a resize, quitting; the daemon going away; a script; and
// SIGTERM. After each run the shell's terminal is checked: its screen is
// back and it edits lines and echoes again.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <string>

#include "support/process.h"
#include "support/temp_dir.h"
#include "support/tmux.h"

namespace vgps::test {
namespace {

using namespace std::chrono_literals;

// Two devices in range: a receiver streaming generated positions and a
// phone without a serial port.
constexpr const char* kScenario = R"({
  "radio": {"powered": false},
  "inquiry": {"end_after_ms": 300, "ends_with": "complete"},
  "devices": [
    {"address": "00:0b:0d:88:a2:3c", "class": "0x001f00", "name": "GPSlim236",
     "inquiry_delay_ms": 50, "name_delay_ms": 50,
     "services": [{"name": "SPP Slave", "rfcomm_channel": 1}],
     "generator": {"lat": 48.117302, "lon": 11.516666, "speed_knots": 5, "course_deg": 45}},
    {"address": "00:02:78:14:c9:7d", "class": "0x5a020c", "name": "Pocket Phone",
     "inquiry_delay_ms": 100, "name_delay_ms": 50}
  ]})";

bool has(const std::string& screen, const std::string& text) { return screen.find(text) != std::string::npos; }

class TerminalAppTest : public ::testing::Test {
protected:
    void SetUp() override { vexod = std::make_unique<VexodProcess>(VEXOD_BINARY, dir.path(), kScenario); }
    // vexod-gps in a 40 by 30 terminal (or the size given); afterwards the
    // shell shows its exit status and the terminal's modes.
    void start(const std::string& options = "", int cols = 40, int lines = 30) {
        const std::string command =
            framed_command("sh -c 'echo $$ >" + dir.file("pid") + "; exec " VEXOD_GPS_BINARY " --socket " +
                           vexod->socket_path() + " " + options + " 2>" + dir.file("log") + "'");
        tmux = std::make_unique<TmuxSession>(dir.path(), cols, lines, command,
                                             std::vector<std::string>{"VEXOD_GPS_PREFS_DIR=" + dir.path()});
        ASSERT_TRUE(tmux->started());
    }
    void expectEnd(int status) {
        ASSERT_TRUE(tmux->waitFor("exit=" + std::to_string(status) + " modes: icanon echo ."))
            << tmux->lastScreen() << read_file(dir.file("log"));
        EXPECT_TRUE(has(tmux->lastScreen(), "before\n")) << tmux->lastScreen();
        EXPECT_FALSE(has(tmux->lastScreen(), "Skyvane GPS Demo")) << tmux->lastScreen();
    }
    void dismissNotice() {
        ASSERT_TRUE(tmux->waitFor("[ Dismiss ]")) << tmux->lastScreen();
        tmux->keys({"Enter"});
        ASSERT_TRUE(tmux->waitUntil([](const std::string& s) {
            return has(s, "Discover more") && !has(s, "Dismiss") && has(s, "Skyvane GPS Demo") && has(s, "q quit");
        })) << tmux->lastScreen();
    }
    // What the highlight is on (the help line is in reverse video too).
    std::string focus() const {
        const std::string styled = tmux->styledScreen();
        return reverse_video_text(styled.substr(0, styled.rfind("Tab/")));
    }
    bool waitForFocus(const std::string& text) {
        return tmux->waitUntil([&](const std::string&) { return has(focus(), text); }, 3000ms);
    }

    TempDir dir;
    std::unique_ptr<VexodProcess> vexod;
    std::unique_ptr<TmuxSession> tmux;
};

TEST_F(TerminalAppTest, ThePersonsRoadFromTheNoticeToThePinAndBack) {
    start();
    ASSERT_TRUE(tmux->waitFor("[ Dismiss ]")) << tmux->lastScreen();
    EXPECT_TRUE(has(tmux->lastScreen(), "This application is for checking")) << tmux->lastScreen();
    EXPECT_TRUE(has(tmux->styledScreen(), "\x1b[2m"));  // the screen beneath is dimmed
    dismissNotice();
    EXPECT_EQ(tmux->line(2), "            Skyvane GPS Demo");

    // The switch: off (the daemon connection is dropped), on again.
    tmux->keys({"Tab"});
    ASSERT_TRUE(waitForFocus("[ ON ● ]")) << focus();
    tmux->keys({"Enter"});
    ASSERT_TRUE(tmux->waitFor("Connected to vexod daemon.")) << tmux->lastScreen();
    EXPECT_TRUE(has(tmux->lastScreen(), "[ ○ OFF]"));
    EXPECT_FALSE(has(tmux->lastScreen(), "Devices"));
    tmux->keys({"Space"});
    ASSERT_TRUE(tmux->waitFor("Discover more ...")) << tmux->lastScreen();
    EXPECT_TRUE(has(tmux->lastScreen(), "[ ON ● ]"));

    // The highlight moves to the search row; the search finds the names.
    tmux->keys({"Down"});
    ASSERT_TRUE(waitForFocus("Discover more ...")) << focus();
    tmux->keys({"Enter"});
    ASSERT_TRUE(tmux->waitFor("Tap on one device to connect.")) << tmux->lastScreen();
    EXPECT_TRUE(has(tmux->lastScreen(), "GPSlim236"));
    EXPECT_TRUE(has(tmux->lastScreen(), "Pocket Phone"));
    EXPECT_TRUE(has(tmux->lastScreen(), "Address: 00:0b:0d:88:a2:3c"));
    // The highlight stayed on the search row while the rows came above it.
    EXPECT_TRUE(has(focus(), "Discover more ...")) << focus();

    // A click on the receiver's row connects; its inspector opens.
    const int row = tmux->lineOf("GPSlim236");
    ASSERT_GT(row, 0);
    tmux->click(12, row);
    ASSERT_TRUE(tmux->waitUntil([](const std::string& s) {
        return has(s, "GPS Inspector") && has(s, "3D") && has(s, "Current Location") && has(s, " 200 m");
    })) << tmux->lastScreen();
    const std::string inspector = tmux->lastScreen();
    for (const char* name : {"< back", "UTC", "FIX", "LON", "LAT", "●", " 200 m"}) {
        EXPECT_TRUE(has(inspector, name)) << name << "\n" << inspector;
    }
    EXPECT_TRUE(has(tmux->line(tmux->lineOf("LAT")), "48.1")) << inspector;
    EXPECT_TRUE(has(tmux->line(tmux->lineOf("LON")), "11.5")) << inspector;

    // Back: the device is connected, with its check mark and detail button.
    tmux->keys({"Escape"});
    ASSERT_TRUE(tmux->waitUntil([](const std::string& s) { return has(s, "Skyvane GPS Demo") && has(s, "(>)"); }))
        << tmux->lastScreen();
    const std::string connected = tmux->line(tmux->lineOf("GPSlim236"));
    EXPECT_TRUE(has(connected, "✓")) << connected;
    EXPECT_TRUE(has(connected, "(>)")) << connected;
    // The detail button, by keys: Home, then on to it.
    tmux->keys({"Home", "Tab", "Tab", "Tab"});
    ASSERT_TRUE(waitForFocus("(>)")) << focus();
    tmux->keys({"Enter"});
    ASSERT_TRUE(tmux->waitFor("GPS Inspector")) << tmux->lastScreen();
    tmux->click(3, 2);  // "< back"
    ASSERT_TRUE(tmux->waitFor("Skyvane GPS Demo")) << tmux->lastScreen();

    // A wider terminal is a wider screen.
    tmux->resize(64, 30);
    ASSERT_TRUE(tmux->waitFor("Tab/Shift-Tab/↑↓ move   Enter/Space tap   Esc back   q quit")) << tmux->lastScreen();
    EXPECT_EQ(tmux->line(2).find("Skyvane GPS Demo"), 24u);
    tmux->resize(40, 30);
    ASSERT_TRUE(tmux->waitFor("Tab/↑↓ move  Enter tap  Esc back  q quit")) << tmux->lastScreen();

    tmux->keys({"q"});
    expectEnd(0);
    // The log lines held while the screens were drawn went to stderr.
    EXPECT_TRUE(wait_for_text(dir.file("log"), "<-[GPSInspector viewWillAppear:]> add observer"));
}

TEST_F(TerminalAppTest, TheStatusLineSaysWhyTheInspectorShowsNoFix) {
    // A GPS/GLONASS receiver that reports its fix under the GN and GL
    // talkers only (a real capture, an epoch every two seconds).
    vexod = std::make_unique<VexodProcess>(VEXOD_BINARY, dir.path(), R"({"link": {"speed": 0.5}, "devices": [
        {"address": "00:1b:c1:47:11:06", "class": "0x001f00", "name": "GNSS Mouse", "inquiry_delay_ms": 50,
         "services": [{"name": "Serial Port", "rfcomm_channel": 1}],
         "nmea_file": ")" + std::string(VGPS_TEST_DATA_DIR) + R"(/nmea/ch-4711.log"}]})",
                                           "gn.sock");
    start("", 80, 24);
    dismissNotice();
    tmux->click(12, tmux->lineOf("Discover more ..."));
    ASSERT_TRUE(tmux->waitFor("Tap on one device to connect.")) << tmux->lastScreen();
    EXPECT_EQ(tmux->line(23).find(" Tab/Shift-Tab/↑↓ move"), 0u) << "the help line, with no link";
    tmux->click(12, tmux->lineOf("GNSS Mouse"));
    ASSERT_TRUE(tmux->waitUntil([](const std::string& s) {
        return has(s, "GPS Inspector") && has(s, "this build decodes GP only");
    })) << tmux->lastScreen();
    EXPECT_TRUE(has(tmux->lastScreen(), "Fix not available")) << tmux->lastScreen();
    // The bottom line: the verdict, then the keys that fit beside it.
    const std::string status = tmux->line(23);
    EXPECT_EQ(status.find(" receiving GN"), 0u) << status;
    EXPECT_NE(status.find("sentences: this build decodes GP only"), std::string::npos) << status;
    EXPECT_NE(status.find("Esc back  q quit"), std::string::npos) << status;
    EXPECT_TRUE(has(reverse_video_text(tmux->styledScreen()), "this build decodes GP only"));

    // Back on the main screen the help line returns, while the link goes on.
    tmux->keys({"Escape"});
    ASSERT_TRUE(tmux->waitUntil([](const std::string& s) {
        return has(s, "Skyvane GPS Demo") && has(s, "Tab/Shift-Tab/↑↓ move") && !has(s, "receiving");
    })) << tmux->lastScreen();
    tmux->keys({"q"});
    expectEnd(0);
}

TEST_F(TerminalAppTest, WhenTheDaemonGoesAwayItsAlertEndsTheProgramOnceDismissed) {
    start();
    dismissNotice();
    vexod.reset();  // SIGTERM
    ASSERT_TRUE(tmux->waitFor("The vexod daemon exited.")) << tmux->lastScreen();
    EXPECT_TRUE(has(tmux->lastScreen(), "Daemon disconnected"));
    EXPECT_TRUE(has(focus(), "[ Dismiss ]")) << focus();
    tmux->keys({"Enter"});
    expectEnd(1);
}

TEST_F(TerminalAppTest, SigtermGivesTheTerminalBack) {
    start();
    ASSERT_TRUE(tmux->waitFor("[ Dismiss ]")) << tmux->lastScreen();
    const std::string pid = read_file(dir.file("pid"));
    ASSERT_FALSE(pid.empty());
    ::kill(std::stoi(pid), SIGTERM);
    expectEnd(0);
}

}  // namespace
}  // namespace vgps::test
