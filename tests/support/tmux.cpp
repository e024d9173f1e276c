#include "support/tmux.h"

#include <algorithm>
#include <thread>

#include "support/process.h"
#include "support/temp_dir.h"

namespace vgps::test {

std::string TmuxSession::tmux(std::vector<std::string> args, bool* ok) const {
    args.insert(args.begin(), {VGPS_TMUX, "-S", socket_, "-f", "/dev/null"});
    ChildProcess child(args, socket_ + ".out", socket_ + ".err");
    const int status = child.wait(std::chrono::seconds(10));
    if (ok != nullptr) *ok = exited_with(status, 0);
    return read_file(socket_ + ".out");
}

TmuxSession::TmuxSession(const std::string& dir, int cols, int lines, const std::string& command,
                         std::vector<std::string> env)
    : socket_(dir + "/tmux.sock") {
    std::vector<std::string> args{"new-session", "-d", "-x", std::to_string(cols), "-y", std::to_string(lines)};
    bool lang = false;
    for (const auto& e : env) lang = lang || e.rfind("LANG=", 0) == 0;
    if (!lang) env.push_back("LANG=C.UTF-8");
    for (const auto& e : env) {
        args.push_back("-e");
        args.push_back(e);
    }
    args.push_back(command);
    tmux(args, &started_);
}

TmuxSession::~TmuxSession() {
    // Not through tmux(): the folder for its output may be gone already.
    ChildProcess({VGPS_TMUX, "-S", socket_, "kill-server"}, "/dev/null", "/dev/null").wait(std::chrono::seconds(10));
}

void TmuxSession::keys(std::initializer_list<std::string> names) {
    std::vector<std::string> args{"send-keys", "-t", "0"};
    args.insert(args.end(), names);
    tmux(args);
}

void TmuxSession::click(int col, int line) {
    const std::string at = std::to_string(col + 1) + ";" + std::to_string(line + 1);
    tmux({"send-keys", "-t", "0", "-l", "\x1b[<0;" + at + "M\x1b[<0;" + at + "m"});
}

void TmuxSession::resize(int cols, int lines) {
    tmux({"resize-window", "-t", "0", "-x", std::to_string(cols), "-y", std::to_string(lines)});
}

std::string TmuxSession::screen() const { return tmux({"capture-pane", "-p", "-t", "0"}); }

std::string TmuxSession::styledScreen() const { return tmux({"capture-pane", "-p", "-e", "-t", "0"}); }

std::string TmuxSession::history() const { return tmux({"capture-pane", "-p", "-J", "-S", "-", "-t", "0"}); }

bool TmuxSession::waitUntil(const std::function<bool(const std::string&)>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        last_ = screen();
        if (done(last_)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
}

bool TmuxSession::waitFor(const std::string& text, std::chrono::milliseconds timeout) {
    return waitUntil([&](const std::string& s) { return s.find(text) != std::string::npos; }, timeout);
}

std::string TmuxSession::line(int index) const {
    size_t start = 0;
    for (int i = 0; i < index; ++i) {
        start = last_.find('\n', start);
        if (start == std::string::npos) return {};
        ++start;
    }
    const size_t end = last_.find('\n', start);
    return last_.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

int TmuxSession::lineOf(const std::string& text) const {
    size_t start = 0;
    for (int i = 0; start < last_.size(); ++i) {
        size_t end = last_.find('\n', start);
        if (end == std::string::npos) end = last_.size();
        if (last_.substr(start, end - start).find(text) != std::string::npos) return i;
        start = end + 1;
    }
    return -1;
}

std::string framed_command(const std::string& command) {
    return "printf 'before\\n'; " + command +
           "; status=$?; modes=$(stty -a | tr ' ;' '\\n\\n' | grep -xE -- '-?(icanon|echo)' | tr '\\n' ' '); "
           "echo \"exit=$status modes: $modes.\"; sleep 600";
}

std::string reverse_video_text(const std::string& styled) {
    std::string out;
    bool reverse = false;
    for (size_t i = 0; i < styled.size();) {
        if (styled.compare(i, 2, "\x1b[") == 0) {
            const size_t end = styled.find('m', i);
            if (end == std::string::npos) break;
            size_t start = i + 2;
            while (start <= end) {
                const size_t next = std::min(styled.find(';', start), end);
                const std::string code = styled.substr(start, next - start);
                if (code == "7") reverse = true;
                if (code == "0" || code.empty() || code == "27") reverse = false;
                start = next + 1;
            }
            i = end + 1;
            continue;
        }
        if (reverse && styled[i] != '\n') out += styled[i];
        ++i;
    }
    return out;
}

}  // namespace vgps::test
