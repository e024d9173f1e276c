#include "support/tmux.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>

extern char** environ;

namespace vgps::test {

int run_program(const std::vector<std::string>& argv, std::string* output) {
    int pipefd[2];
    if (::pipe2(pipefd, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipefd[1], 1);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipefd[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(pipefd[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    ::close(pipefd[0]);
    if (rc != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (output != nullptr) *output = std::move(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> TmuxSession::tmux(std::initializer_list<std::string> args) const {
    std::vector<std::string> argv{"tmux", "-S", socket_, "-f", "/dev/null"};
    argv.insert(argv.end(), args);
    return argv;
}

TmuxSession::TmuxSession(const std::string& dir, int cols, int lines, const std::string& command,
                         std::vector<std::string> env)
    : socket_(dir + "/tmux.sock") {
    std::vector<std::string> argv =
        tmux({"new-session", "-d", "-x", std::to_string(cols), "-y", std::to_string(lines)});
    bool lang = false;
    for (const auto& e : env) lang = lang || e.rfind("LANG=", 0) == 0;
    if (!lang) env.push_back("LANG=C.UTF-8");
    for (const auto& e : env) {
        argv.push_back("-e");
        argv.push_back(e);
    }
    argv.push_back(command);
    started_ = run_program(argv) == 0;
}

TmuxSession::~TmuxSession() { run_program(tmux({"kill-server"})); }

void TmuxSession::keys(std::initializer_list<std::string> names) {
    std::vector<std::string> argv = tmux({"send-keys", "-t", "0"});
    argv.insert(argv.end(), names);
    run_program(argv);
}

void TmuxSession::type(const std::string& text) { run_program(tmux({"send-keys", "-t", "0", "-l", text})); }

void TmuxSession::click(int col, int line) {
    const std::string at = std::to_string(col + 1) + ";" + std::to_string(line + 1);
    type("\x1b[<0;" + at + "M\x1b[<0;" + at + "m");
}

void TmuxSession::resize(int cols, int lines) {
    run_program(tmux({"resize-window", "-t", "0", "-x", std::to_string(cols), "-y", std::to_string(lines)}));
}

std::string TmuxSession::screen() const {
    std::string out;
    run_program(tmux({"capture-pane", "-p", "-t", "0"}), &out);
    return out;
}

std::string TmuxSession::styledScreen() const {
    std::string out;
    run_program(tmux({"capture-pane", "-p", "-e", "-t", "0"}), &out);
    return out;
}

std::string TmuxSession::history() const {
    std::string out;
    run_program(tmux({"capture-pane", "-p", "-J", "-S", "-", "-t", "0"}), &out);
    return out;
}

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

int column_of(const std::string& line, const std::string& text) {
    const size_t at = line.find(text);
    if (at == std::string::npos) return -1;
    int col = 0;
    for (size_t i = 0; i < at; ++i) col += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
    return col;
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
