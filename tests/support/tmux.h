// A terminal for end-to-end tests: a tmux server of the test's own (its
// socket in a temporary folder, no configuration file) with one session of
// a fixed size running a command, driven as a person would: keys, text,
// mouse clicks (xterm SGR reports, as a terminal sends them when the
// program has asked for the mouse), resizing, and the screen read back.
#pragma once

#include <chrono>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace vgps::test {

class TmuxSession {
public:
    // `command` runs through /bin/sh in the session (the pane closes when
    // it ends); `env` holds extra NAME=value pairs for it (LANG is
    // C.UTF-8 unless given).
    TmuxSession(const std::string& dir, int cols, int lines, const std::string& command,
                std::vector<std::string> env = {});
    ~TmuxSession();  // ends the server and whatever still runs in it
    TmuxSession(const TmuxSession&) = delete;
    TmuxSession& operator=(const TmuxSession&) = delete;

    bool started() const { return started_; }
    // Key names as tmux knows them: "Enter", "Tab", "BTab", "Escape",
    // "Up", "BSpace", "C-c", "q"…
    void keys(std::initializer_list<std::string> names);
    // A left click on a cell (columns and lines from 0).
    void click(int col, int line);
    void resize(int cols, int lines);

    // The screen as text (one line each), or with its colours and
    // attributes as escape sequences.
    std::string screen() const;
    std::string styledScreen() const;
    // Everything the pane has shown that is still kept, scrolled off or
    // not, lines that wrapped joined again.
    std::string history() const;
    // Polls the screen until `done` holds or `timeout` passes; the screen
    // seen last is kept in lastScreen().
    bool waitUntil(const std::function<bool(const std::string&)>& done,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(8000));
    bool waitFor(const std::string& text, std::chrono::milliseconds timeout = std::chrono::milliseconds(8000));
    const std::string& lastScreen() const { return last_; }
    // Line `line` of the last screen seen (from 0), "" past the end.
    std::string line(int line) const;
    // The first line of the last screen seen that holds `text`, or -1.
    int lineOf(const std::string& text) const;

private:
    // Runs tmux on the session's server with `args`: what it printed, and
    // in `*ok` whether it succeeded.
    std::string tmux(std::vector<std::string> args, bool* ok = nullptr) const;

    std::string socket_;
    bool started_ = false;
    std::string last_;
};

// `command` for a session, between a line "before" and a line
// "exit=STATUS modes: MODES." where MODES are the terminal's line editing
// and echo afterwards ("icanon echo " when both are on again); then the
// shell waits, so that the pane stays to be read.
std::string framed_command(const std::string& command);
// What a styled screen (styledScreen()) shows in reverse video, in order,
// lines joined.
std::string reverse_video_text(const std::string& styled);

}  // namespace vgps::test
