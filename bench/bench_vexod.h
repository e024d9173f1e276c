// The vexod daemon for benchmarks: the binary built beside the benchmark
// (or $VEXOD_BINARY), started on a socket in a folder of its own with a
// scenario, its log in that folder, and stopped with SIGTERM.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/fd.h"

extern char** environ;

namespace vgps::bench {

inline std::string vexod_binary() {
    if (const char* env = std::getenv("VEXOD_BINARY")) return env;
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string("./x");
    dir = dir.substr(0, dir.rfind('/'));
    return dir + "/../tools/vexod/vexod";
}

class Vexod {
public:
    explicit Vexod(const std::string& scenario_json) {
        char templ[] = "/tmp/vexod-bench-XXXXXX";
        dir_ = ::mkdtemp(templ);
        socket_ = dir_ + "/vexod.sock";
        scenario_ = dir_ + "/s.json";
        log_ = dir_ + "/log";
        std::ofstream(scenario_) << scenario_json;
        const std::string binary = vexod_binary();
        std::vector<std::string> args{binary, "--socket", socket_, "--scenario", scenario_};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        // Ready once its socket takes a connection.
        for (int i = 0; i < 500 && pid_ > 0; ++i) {
            const int probe = connect_local(socket_);
            if (probe >= 0) {
                ::close(probe);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~Vexod() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        ::unlink(scenario_.c_str());
        ::unlink(log_.c_str());
        ::rmdir(dir_.c_str());
    }
    Vexod(const Vexod&) = delete;
    Vexod& operator=(const Vexod&) = delete;

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    const std::string& socket_path() const { return socket_; }

private:
    std::string dir_, socket_, scenario_, log_;
    pid_t pid_ = -1;
};

}  // namespace vgps::bench
