#include "support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <thread>

#include "support/temp_dir.h"

namespace vgps::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& stdout_path,
                           const std::string& stderr_path, std::optional<RunAs> run_as)
    : err_(stderr_path) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (run_as && (::setgroups(0, nullptr) != 0 || ::setgid(run_as->gid) != 0 || ::setuid(run_as->uid) != 0))
            ::_exit(125);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    if (pid_ < 0) ADD_FAILURE() << "fork failed";
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
    }
}

bool ChildProcess::running() { return pid_ > 0 && wait(std::chrono::milliseconds(0)) == -1; }

void ChildProcess::signal(int sig) {
    if (pid_ > 0 && !reaped_) ::kill(pid_, sig);
}

int ChildProcess::wait(std::chrono::milliseconds timeout) {
    if (reaped_) return status_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const pid_t r = ::waitpid(pid_, &status_, WNOHANG);
        if (r == pid_) {
            reaped_ = true;
            return status_;
        }
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool exited_with(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

std::vector<std::string> output_lines(const std::string& path) {
    std::vector<std::string> out;
    std::istringstream in(read_file(path));
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::string shell_quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

ShellRun run_shell(const std::string& command) {
    TempDir dir;
    const int raw = std::system(("{ " + command + "\n} >" + dir.file("out") + " 2>" + dir.file("err")).c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, output_lines(dir.file("out")), read_file(dir.file("err"))};
}

bool wait_for_text(const std::string& path, const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (read_file(path).find(text) != std::string::npos) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

VexodProcess::VexodProcess(const std::string& binary, const std::string& dir, const std::string& scenario_json,
                           const std::string& socket_name, std::optional<RunAs> run_as)
    : socket_(dir + "/" + socket_name) {
    const std::string scenario = dir + "/" + socket_name + ".json";
    write_file(scenario, scenario_json);
    child_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{binary, "--socket", socket_, "--scenario", scenario}, dir + "/" + socket_name + ".out",
        dir + "/" + socket_name + ".log", run_as);
    if (!wait_for_text(child_->stderr_path(), "listening on")) {
        ADD_FAILURE() << "vexod did not start: " << log();
    }
}

VexodProcess::~VexodProcess() {
    if (child_->running()) {
        child_->signal(SIGTERM);
        child_->wait(std::chrono::milliseconds(2000));
    }
}

std::string VexodProcess::log() const { return read_file(child_->stderr_path()); }

}  // namespace vgps::test
