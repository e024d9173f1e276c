#include "app/ScriptPlayer.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <cmath>
#include <limits>

#include "app/finger.h"
#include "uikit/UIWindow.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;

// The exit status of a script whose wait-for ran out of time.
constexpr int kTimeoutStatus = 4;
constexpr double kDefaultWaitForSeconds = 10;
constexpr double kMaxSeconds = 1e6;

std::chrono::milliseconds to_ms(double seconds) {
    return std::chrono::milliseconds(static_cast<int64_t>(std::llround(seconds * 1000)));
}

// Splits a line into words: blanks separate, quotes keep, '#' outside
// quotes ends the line. False (with *error) for an unterminated quote.
bool split_words(const std::string& line, std::vector<std::string>* words, std::string* error) {
    size_t i = 0;
    const size_t n = line.size();
    while (i < n) {
        while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        if (i >= n || line[i] == '#') return true;
        std::string word;
        while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
            const char c = line[i];
            if (c == '"' || c == '\'') {
                const size_t open = i++;
                while (i < n && line[i] != c) {
                    if (c == '"' && line[i] == '\\' && i + 1 < n && (line[i + 1] == '"' || line[i + 1] == '\\')) ++i;
                    word += line[i++];
                }
                if (i >= n) {
                    *error = "unterminated quote at column " + std::to_string(open + 1);
                    return false;
                }
                ++i;  // the closing quote
            } else if (c == '#') {
                break;  // a comment right after a word
            } else {
                word += line[i++];
            }
        }
        words->push_back(std::move(word));
        if (i < n && line[i] == '#') return true;
    }
    return true;
}

// wait-for's arguments: the text (words joined by one blank), then the
// seconds when there are two words or more and the last is a number.
struct WaitForArgs {
    std::string text;
    double seconds = kDefaultWaitForSeconds;
};

WaitForArgs wait_for_args(const std::vector<std::string>& args) {
    WaitForArgs out;
    size_t words = args.size();
    if (words >= 2) {
        if (const auto seconds = script_seconds(args.back())) {
            out.seconds = *seconds;
            --words;
        }
    }
    for (size_t i = 0; i < words; ++i) out.text += (i > 0 ? " " : "") + args[i];
    return out;
}

std::string check_seconds(const std::vector<std::string>& args) {
    return script_seconds(args[0]) ? "" : "needs a number of seconds from 0 to 1000000, not \"" + args[0] + "\"";
}

std::string check_indices(const std::vector<std::string>& args) {
    for (const auto& a : args) {
        if (!script_index(a)) return "needs positions of 0 or more, not \"" + a + "\"";
    }
    return "";
}

std::string position_text(const ScriptLine& line) {
    std::string out;
    for (const auto& a : line.args) out += (out.empty() ? "" : " ") + a;
    return out;
}

NSIndexPath row_of(const ScriptLine& line) {
    return line.args.size() == 1 ? NSIndexPath{1, *script_index(line.args[0])}
                                 : NSIndexPath{*script_index(line.args[0]), *script_index(line.args[1])};
}

// A tap command: the tap, then what to say when what it taps is not on
// screen ("not on screen <where>") or not there at all.
ScriptCommand tap_command(std::string name, std::string usage, size_t args,
                          std::function<finger::Tap(UIApplication*, const ScriptLine&)> tap,
                          std::function<std::string(const ScriptLine&)> where,
                          std::function<std::string(const ScriptLine&)> missing) {
    ScriptCommand command{std::move(name), std::move(usage), args, args, args > 0 ? check_indices : nullptr, nullptr};
    command.play = [tap = std::move(tap), where = std::move(where), missing = std::move(missing)](
                       ScriptPlayer& player, const ScriptLine& line) {
        switch (tap(player.app(), line)) {
            case finger::Tap::Done: break;
            case finger::Tap::NotOnScreen: player.complain("not on screen " + where(line)); break;
            case finger::Tap::Missing: player.complain(missing(line)); break;
        }
        return ScriptStep::Next;
    };
    return command;
}

std::string fixed(const char* text) { return text; }

}  // namespace

// --- numbers

std::optional<double> script_seconds(const std::string& word) {
    double value = 0;
    const char* end = word.data() + word.size();
    const auto r = std::from_chars(word.data(), end, value);
    if (r.ec != std::errc() || r.ptr != end || !std::isfinite(value) || value < 0 || value > kMaxSeconds) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> script_index(const std::string& word) {
    int value = 0;
    const char* end = word.data() + word.size();
    const auto r = std::from_chars(word.data(), end, value);
    if (r.ec != std::errc() || r.ptr != end || value < 0) return std::nullopt;
    return value;
}

// --- commands

void ScriptCommands::add(ScriptCommand command) {
    std::string name = command.name;
    commands_[name] = std::move(command);
}

const ScriptCommand* ScriptCommands::find(const std::string& name) const {
    const auto it = commands_.find(name);
    return it == commands_.end() ? nullptr : &it->second;
}

ScriptCommands ScriptCommands::standard() {
    ScriptCommands c;
    c.add({"wait", "SECONDS", 1, 1, check_seconds, [](ScriptPlayer& player, const ScriptLine& line) {
               player.resumeAfter(to_ms(*script_seconds(line.args[0])));
               return ScriptStep::Wait;
           }});
    c.add({"wait-for", "TEXT [SECONDS]", 1, std::numeric_limits<size_t>::max(),
           [](const std::vector<std::string>& args) -> std::string {
               return wait_for_args(args).text.empty() ? "needs a text to wait for" : "";
           },
           [](ScriptPlayer& player, const ScriptLine& line) {
               const WaitForArgs args = wait_for_args(line.args);
               UIApplication* app = player.app();
               return player.resumeWhen([app, text = args.text] { return finger::shows_text(app, text); },
                                        to_ms(args.seconds),
                                        [&player, text = args.text] { player.complain("timeout " + text); },
                                        kTimeoutStatus);
           }});
    const auto row_text = [](const ScriptLine& line) { return position_text(line); };
    const auto device_row_text = [](const ScriptLine& line) { return "1 " + line.args[0]; };
    c.add(tap_command(
        "tap-switch", "", 0, [](UIApplication* app, const ScriptLine&) { return finger::tap_switch(app); },
        [](const ScriptLine&) { return fixed("switch"); }, [](const ScriptLine&) { return fixed("not on screen switch"); }));
    c.add(tap_command(
        "tap-row", "SECTION ROW", 2,
        [](UIApplication* app, const ScriptLine& line) { return finger::tap_row(app, row_of(line)); }, row_text,
        [](const ScriptLine& line) { return "not on screen " + position_text(line); }));
    c.add(tap_command(
        "tap-detail", "SECTION ROW", 2,
        [](UIApplication* app, const ScriptLine& line) { return finger::tap_detail(app, row_of(line)); }, row_text,
        [](const ScriptLine& line) { return "no detail button " + position_text(line); }));
    c.add(tap_command(
        "tap-bookmark", "ROW", 1,
        [](UIApplication* app, const ScriptLine& line) { return finger::tap_button_in_row(app, row_of(line)); },
        device_row_text, [](const ScriptLine& line) { return "no bookmark button " + line.args[0]; }));
    c.add(tap_command(
        "dismiss", "", 0, [](UIApplication* app, const ScriptLine&) { return finger::dismiss_alert(app); },
        [](const ScriptLine&) { return fixed("alert"); }, [](const ScriptLine&) { return fixed("no alert"); }));
    c.add(tap_command(
        "back", "", 0, [](UIApplication* app, const ScriptLine&) { return finger::tap_back(app); },
        [](const ScriptLine&) { return fixed("back button"); }, [](const ScriptLine&) { return fixed("no back button"); }));
    c.add({"scroll", "SECTION ROW", 2, 2, check_indices, [](ScriptPlayer& player, const ScriptLine& line) {
               if (!finger::scroll_to_row(player.app(), row_of(line))) player.complain("no row " + position_text(line));
               return ScriptStep::Next;
           }});
    c.add({"dump", "", 0, 0, nullptr, [](ScriptPlayer& player, const ScriptLine&) {
               if (UIWindow* window = player.app()->keyWindow()) window->layoutIfNeeded();
               player.print(player.app()->dump());
               return ScriptStep::Next;
           }});
    c.add({"quit", "", 0, 0, nullptr, [](ScriptPlayer&, const ScriptLine&) { return ScriptStep::Quit; }});
    return c;
}

// --- reading

ScriptReading read_script(const std::string& text, const ScriptCommands& commands) {
    ScriptReading out;
    int number = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        auto fail = [&](const std::string& what) {
            out.lines.clear();
            out.error = std::to_string(number) + ": " + what;
            return out;
        };
        std::vector<std::string> words;
        std::string error;
        if (!split_words(line, &words, &error)) return fail(error);
        if (words.empty()) continue;
        const ScriptCommand* command = commands.find(words[0]);
        if (command == nullptr) return fail("unknown command \"" + words[0] + "\"");
        ScriptLine parsed{number, words[0], {words.begin() + 1, words.end()}};
        const size_t n = parsed.args.size();
        if (n < command->minArgs || n > command->maxArgs) {
            return fail(command->name + (command->usage.empty() ? " takes no arguments"
                                                                 : " needs " + command->usage));
        }
        if (command->check) {
            if (const std::string what = command->check(parsed.args); !what.empty()) {
                return fail(command->name + ": " + what);
            }
        }
        out.lines.push_back(std::move(parsed));
    }
    return out;
}

ScriptReading read_script_file(const std::string& path, const ScriptCommands& commands) {
    // A script is a few lines: anything near this size is not one.
    constexpr size_t kMaxScriptBytes = 1 << 20;
    std::string text;
    std::string problem;
    std::FILE* in = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        problem = std::strerror(errno);
    } else {
        char buf[4096];
        size_t n;
        while (problem.empty() && (n = std::fread(buf, 1, sizeof buf, in)) > 0) {
            text.append(buf, n);
            if (text.size() > kMaxScriptBytes) problem = "larger than 1 MiB, not a script";
        }
        // A folder opens but does not read.
        if (problem.empty() && std::ferror(in)) problem = std::strerror(errno);
        if (in != stdin) std::fclose(in);
    }
    ScriptReading out;
    if (!problem.empty()) {
        out.error = path + ": " + problem;
        return out;
    }
    out = read_script(text, commands);
    if (out.error) out.error = path + ":" + *out.error;
    return out;
}

// --- the player

ScriptPlayer::ScriptPlayer(UIApplication* app, std::vector<ScriptLine> lines, ScriptCommands commands, Sink out,
                           Sink err, std::function<void(int)> finished)
    : app_(app),
      loop_(app->runLoop()),
      lines_(std::move(lines)),
      commands_(std::move(commands)),
      out_(std::move(out)),
      err_(std::move(err)),
      onFinished_(std::move(finished)) {}

ScriptPlayer::~ScriptPlayer() { stopWaiting(); }

void ScriptPlayer::start() {
    timer_ = loop_->add_timer(0ms, [this] {
        timer_ = 0;
        run();
    });
}

void ScriptPlayer::run() {
    if (running_ || finished_) return;
    running_ = true;
    while (!finished_ && next_ < lines_.size()) {
        const ScriptLine& line = lines_[next_++];
        const ScriptCommand* command = commands_.find(line.command);
        const ScriptStep step = command != nullptr ? command->play(*this, line) : ScriptStep::Next;
        if (finished_) break;
        if (step == ScriptStep::Quit) {
            finish(0);
            break;
        }
        if (step == ScriptStep::Wait) {
            running_ = false;
            return;
        }
    }
    running_ = false;
    if (!finished_) finish(0);
}

void ScriptPlayer::resumeAfter(std::chrono::milliseconds delay) {
    stopWaiting();
    timer_ = loop_->add_timer(delay, [this] {
        timer_ = 0;
        run();
    });
}

ScriptStep ScriptPlayer::resumeWhen(std::function<bool()> ready, std::chrono::milliseconds timeout,
                                    std::function<void()> onTimeout, int timeoutStatus) {
    if (ready()) return ScriptStep::Next;
    stopWaiting();
    ready_ = std::move(ready);
    // Checked at the start of every turn, once the toolkit has laid out
    // what the last one changed.
    observer_ = loop_->add_before_wait_observer([this] {
        if (!ready_ || !ready_()) return;
        stopWaiting();
        run();
        // What the next commands changed is shown now, not after the wait.
        app_->displayIfNeeded();
    });
    timer_ = loop_->add_timer(timeout, [this, onTimeout = std::move(onTimeout), timeoutStatus] {
        timer_ = 0;
        stopWaiting();
        if (onTimeout) onTimeout();
        finish(timeoutStatus);
    });
    return ScriptStep::Wait;
}

void ScriptPlayer::stopWaiting() {
    if (observer_ != 0) loop_->remove_before_wait_observer(observer_);
    if (timer_ != 0) loop_->cancel_timer(timer_);
    observer_ = 0;
    timer_ = 0;
    ready_ = nullptr;
}

void ScriptPlayer::finish(int status) {
    if (finished_) return;
    stopWaiting();
    finished_ = true;
    status_ = status;
    if (onFinished_) onFinished_(status);
}

}  // namespace vgps
