// Scripts that play the user: one command a line, '#' starts a comment,
// words split at blanks, "double" or 'single' quotes keep blanks in a word
// (\" and \\ inside double quotes). A script is read whole and checked
// before it runs; the player then runs it on the run loop, as events come,
// whatever front-end draws the screens: it taps through the toolkit as a
// finger would, and never blocks the loop.
//
// Commands (ScriptCommands::standard()):
//   wait SECONDS               let the run loop run that long
//   wait-for TEXT [SECONDS]    until TEXT shows in the window (default 10 s),
//                              else "timeout TEXT" on stderr, status 4
//   tap-switch                 the switch on screen
//   tap-row SECTION ROW        a row of the top screen's table
//   tap-detail SECTION ROW     its detail-disclosure button
//   tap-bookmark ROW           the bookmark button of device row ROW
//   dismiss                    the first button of the alert on screen
//   back                       the navigation bar's back button
//   scroll SECTION ROW         scroll the top table to bring the row to the top
//   dump                       the window's JSON dump, one line on stdout
//   quit                       end (so does the end of the script)
// A tap on something not on screen prints "not on screen ..." on stderr
// and the script goes on.
//
// A front-end adds a command of its own with ScriptCommands::add before the
// script is read, e.g. a screenshot:
//   commands.add({"screenshot", "PATH", 1, 1, nullptr,
//                 [&](ScriptPlayer& p, const ScriptLine& l) { save(l.args[0]); return ScriptStep::Next; }});
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/run_loop.h"
#include "uikit/UIApplication.h"

namespace vgps {

// One command of a script, as read.
struct ScriptLine {
    int number = 0;  // line in the file, from 1
    std::string command;
    std::vector<std::string> args;
};

class ScriptPlayer;

// How a script goes on after a command.
enum class ScriptStep {
    Next,  // at once, with the next command
    Wait,  // later: the command has asked the player to resume (resumeAfter, resumeWhen)
    Quit,  // the script ends here (status 0)
};

struct ScriptCommand {
    std::string name;
    std::string usage;  // the arguments, for messages: "SECTION ROW"
    size_t minArgs = 0;
    size_t maxArgs = 0;
    // Checks the arguments when the script is read: empty when they are
    // good, else what is wrong with them. May be empty.
    std::function<std::string(const std::vector<std::string>& args)> check;
    std::function<ScriptStep(ScriptPlayer& player, const ScriptLine& line)> play;
};

class ScriptCommands {
public:
    // wait, wait-for, tap-switch, tap-row, tap-detail, tap-bookmark,
    // dismiss, back, scroll, dump, quit.
    static ScriptCommands standard();

    // Adds a command, or replaces the one of the same name.
    void add(ScriptCommand command);
    const ScriptCommand* find(const std::string& name) const;

private:
    std::map<std::string, ScriptCommand> commands_;
};

// A script read and checked, or what is wrong with it: "LINE: what".
struct ScriptReading {
    std::vector<ScriptLine> lines;
    std::optional<std::string> error;
};
ScriptReading read_script(const std::string& text, const ScriptCommands& commands);
// The same from a file ("-": stdin, read to its end); errors read
// "PATH:LINE: what", or "PATH: why it cannot be read".
ScriptReading read_script_file(const std::string& path, const ScriptCommands& commands);

// Numbers of a script: seconds (0 or more, finite, at most 1e6) and table
// positions (0 or more).
std::optional<double> script_seconds(const std::string& word);
std::optional<int> script_index(const std::string& word);

class ScriptPlayer {
public:
    using Sink = std::function<void(const std::string& line)>;

    // Plays `lines` on `app` (and its run loop) with `commands`; dumps go to
    // `out`, complaints to `err`, each one line without its newline. When
    // the script ends, `finished` is called once with its status (0, or 4
    // after a wait-for ran out of time).
    ScriptPlayer(UIApplication* app, std::vector<ScriptLine> lines, ScriptCommands commands, Sink out, Sink err,
                 std::function<void(int status)> finished);
    ~ScriptPlayer();
    ScriptPlayer(const ScriptPlayer&) = delete;
    ScriptPlayer& operator=(const ScriptPlayer&) = delete;

    // Starts on the next turn of the run loop.
    void start();
    bool isFinished() const { return finished_; }
    int status() const { return status_; }

    // --- for commands
    UIApplication* app() const { return app_; }
    void print(const std::string& line) { out_(line); }
    void complain(const std::string& line) { err_(line); }
    // Goes on with the next command `delay` from now.
    void resumeAfter(std::chrono::milliseconds delay);
    // Goes on with the next command as soon as `ready()` holds (checked now
    // and at every turn of the run loop, once what changed is laid out);
    // when it still does not after `timeout`, calls `onTimeout` and ends
    // the script with `timeoutStatus`. Returns Next when ready already,
    // else Wait.
    ScriptStep resumeWhen(std::function<bool()> ready, std::chrono::milliseconds timeout,
                          std::function<void()> onTimeout, int timeoutStatus);
    // Ends the script now.
    void finish(int status);

private:
    // Runs commands until one waits or the script ends.
    void run();
    void stopWaiting();

    UIApplication* app_;
    RunLoop* loop_;
    std::vector<ScriptLine> lines_;
    ScriptCommands commands_;
    Sink out_, err_;
    std::function<void(int)> onFinished_;
    size_t next_ = 0;
    bool running_ = false;
    bool finished_ = false;
    int status_ = 0;
    RunLoop::TimerId timer_ = 0;
    RunLoop::ObserverId observer_ = 0;
    std::function<bool()> ready_;
};

}  // namespace vgps
