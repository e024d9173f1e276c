// terminal-demo in tmux, used as a person would: the notice and its
// dismissal, the switch, the highlight, rows and the detail button, back,
// the mouse, a resize, quitting and SIGTERM with the terminal given back.
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

bool has(const std::string& screen, const std::string& text) { return screen.find(text) != std::string::npos; }

class TerminalDemoTest : public ::testing::Test {
protected:
    // Runs the demo between two marks, then shows its exit status and
    // whether the terminal is back in its usual mode.
    void start(int cols, int lines, const std::string& options = "") {
        const std::string command =
            framed_command(std::string(TERMINAL_DEMO_BINARY) + " --events " + events + " " + options);
        tmux = std::make_unique<TmuxSession>(dir.path(), cols, lines, command);
        ASSERT_TRUE(tmux->started());
    }
    // Ends the demo and checks what the shell sees afterwards: the screen
    // it had before (unless a resize pushed it into tmux's history) and the
    // terminal's usual line editing and echo.
    void expectRestoredAfter(const std::function<void()>& quit, bool screenKept = true) {
        quit();
        ASSERT_TRUE(tmux->waitFor("exit=0 modes: icanon echo .")) << tmux->lastScreen();
        const std::string screen = tmux->lastScreen();
        if (screenKept) {
            EXPECT_TRUE(has(screen, "before\n")) << screen;
        }
        EXPECT_FALSE(has(screen, "Terminal Demo")) << screen;
        EXPECT_FALSE(has(screen, "quit")) << screen;
    }

    TempDir dir;
    std::string events = dir.file("events");
    std::unique_ptr<TmuxSession> tmux;
};

TEST_F(TerminalDemoTest, TheNoticeTheSwitchAndTheHighlightThenQuitGivesTheTerminalBack) {
    start(40, 30);
    ASSERT_TRUE(tmux->waitFor("[ Dismiss ]")) << tmux->lastScreen();
    // The alert stands over the dimmed window; Enter taps its button.
    EXPECT_TRUE(has(tmux->styledScreen(), "\x1b[2m"));
    tmux->keys({"Enter"});
    ASSERT_TRUE(tmux->waitUntil([](const std::string& s) {
        return !has(s, "Dismiss") && has(s, "Tap on one device to connect.") && has(s, "q quit");
    })) << tmux->lastScreen();
    const std::string main = tmux->lastScreen();
    EXPECT_TRUE(has(main, "  Devices")) << main;
    EXPECT_TRUE(has(main, "Tap on one device to connect.")) << main;
    EXPECT_TRUE(has(main, "Tab/↑↓ move  Enter tap  Esc back  q quit")) << main;
    // Title centred in the bar; the switch on the line of its label.
    EXPECT_EQ(tmux->line(2), "             Terminal Demo");
    const int gps = tmux->lineOf("GPS");
    ASSERT_GE(gps, 0);
    EXPECT_TRUE(has(tmux->line(gps), "[ ON ● ]")) << main;

    // The highlight starts on the switch's row; Tab moves it to the switch.
    tmux->keys({"Tab", "Enter"});
    ASSERT_TRUE(tmux->waitFor("[ ○ OFF]")) << tmux->lastScreen();
    EXPECT_TRUE(tmux->waitFor("Connected to vexod daemon."));
    EXPECT_FALSE(has(tmux->lastScreen(), "Devices"));
    tmux->keys({"Space"});
    ASSERT_TRUE(tmux->waitFor("Receiver One")) << tmux->lastScreen();
    EXPECT_TRUE(has(tmux->lastScreen(), "[ ON ● ]"));

    // The connecting device's spinner turns.
    const int two = tmux->lineOf("Receiver Two");
    ASSERT_GE(two, 0);
    const std::string before = tmux->line(two);
    EXPECT_TRUE(tmux->waitUntil([&](const std::string&) { return tmux->line(two) != before; }, 3000ms)) << before;

    expectRestoredAfter([&] { tmux->keys({"q"}); });
    EXPECT_TRUE(wait_for_text(events, "switch off\nswitch on\n"));
}

TEST_F(TerminalDemoTest, RowsTheDetailButtonBackAndTheMouse) {
    start(40, 30, "--no-alert");
    ASSERT_TRUE(tmux->waitFor("Receiver Three")) << tmux->lastScreen();
    // A click on a device row opens the next screen, with the map's pin
    // and its callout.
    const int one = tmux->lineOf("Receiver One");
    tmux->click(10, one);
    ASSERT_TRUE(tmux->waitFor("GPS Inspector")) << tmux->lastScreen();
    ASSERT_TRUE(tmux->waitFor("Current Location")) << tmux->lastScreen();
    const std::string inspector = tmux->lastScreen();
    EXPECT_TRUE(has(inspector, "< back")) << inspector;
    EXPECT_TRUE(has(inspector, "48.117302 - 11.518666")) << inspector;
    EXPECT_TRUE(has(inspector, "●")) << inspector;
    EXPECT_TRUE(has(inspector, " 200 m")) << inspector;
    EXPECT_TRUE(wait_for_text(events, "row 0\ninspector appeared\n"));

    // Escape goes back; the highlight is where it was.
    tmux->keys({"Escape"});
    ASSERT_TRUE(tmux->waitFor("Terminal Demo")) << tmux->lastScreen();
    // Home and End go to the first and the last thing to tap (the search
    // row); from there Shift-Tab goes up to the connected device's ribbon,
    // then its detail button.
    tmux->keys({"Home", "End", "BTab", "BTab", "Enter"});
    ASSERT_TRUE(tmux->waitFor("GPS Inspector")) << tmux->lastScreen();
    EXPECT_TRUE(wait_for_text(events, "detail 2\n"));

    // A click on "< back".
    tmux->click(3, 2);
    ASSERT_TRUE(tmux->waitFor("Terminal Demo")) << tmux->lastScreen();
    // A click on the ribbon of a remembered device.
    int three = -1, ribbon = -1;
    ASSERT_TRUE(tmux->waitUntil([&](const std::string&) {
        three = tmux->lineOf("Receiver Three");
        ribbon = column_of(tmux->line(three), "☆");
        return ribbon >= 0;
    })) << tmux->lastScreen();
    tmux->click(ribbon, three);
    ASSERT_TRUE(tmux->waitUntil([&](const std::string&) { return column_of(tmux->line(three), "★") == ribbon; }))
        << tmux->lastScreen();
    EXPECT_TRUE(wait_for_text(events, "bookmark 2 on\n"));
    expectRestoredAfter([&] { tmux->keys({"C-c"}); });
}

TEST_F(TerminalDemoTest, AResizeLaysTheScreenOutAgainAndSigtermGivesTheTerminalBack) {
    start(40, 30, "--no-alert");
    ASSERT_TRUE(tmux->waitFor("Receiver One")) << tmux->lastScreen();
    tmux->resize(64, 24);
    ASSERT_TRUE(tmux->waitFor("Tab/Shift-Tab/↑↓ move   Enter/Space tap   Esc back   q quit")) << tmux->lastScreen();
    // The group spans the new width: 62 columns between the margins.
    std::string border = "╭";
    for (int i = 0; i < 60; ++i) border += "─";
    border += "╮";
    EXPECT_TRUE(has(tmux->lastScreen(), "\n " + border + "\n")) << tmux->lastScreen();
    EXPECT_EQ(tmux->line(2).find("Terminal Demo"), 25u);

    const std::string pid = read_file(events);
    ASSERT_TRUE(has(pid, "pid ")) << pid;
    expectRestoredAfter([&] { ::kill(std::stoi(pid.substr(4)), SIGTERM); }, false);
}

}  // namespace
}  // namespace vgps::test
