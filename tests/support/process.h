// Child processes for end-to-end tests: a program started with its output
// going to files, signalled and waited for with a bound; and the vexod
// daemon started on a socket of the test's own.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vgps::test {

// A user and group for a child to run as (the test itself runs as root).
struct RunAs {
    uid_t uid;
    gid_t gid;
};
inline constexpr RunAs kNobody{65534, 65534};

class ChildProcess {
public:
    // Starts `argv[0]` with the arguments; stdout and stderr go to the two
    // files (created or truncated, by this process's user). stdin is
    // /dev/null. With `run_as`, the child gives up every other group and
    // runs as that user and group.
    ChildProcess(const std::vector<std::string>& argv, const std::string& stdout_path, const std::string& stderr_path,
                 std::optional<RunAs> run_as = std::nullopt);
    ~ChildProcess();  // kills (SIGKILL) and reaps a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool running();
    void signal(int sig);
    // Waits for the exit; the raw wait status, or -1 when still running
    // after `timeout`.
    int wait(std::chrono::milliseconds timeout);

    const std::string& stderr_path() const { return err_; }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    std::string err_;
};

// True when a raw wait status is a normal exit with `code`.
bool exited_with(int status, int code);
// The lines of a program's output file, without their line ends.
std::vector<std::string> output_lines(const std::string& path);

// `text` quoted for the shell.
std::string shell_quote(const std::string& text);

// What a shell command line printed and how it ended.
struct ShellRun {
    int status;                    // the exit status, -1 when killed by a signal
    std::vector<std::string> out;  // the lines of stdout
    std::string err;               // stderr
};
// Runs `command` with /bin/sh, its output captured unless the command line
// redirects it itself (e.g. ">/dev/full").
ShellRun run_shell(const std::string& command);

// Polls `path` until it contains `text` or `timeout` passes.
bool wait_for_text(const std::string& path, const std::string& text,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// The real vexod binary (its path comes from the build) listening on
// `socket_path`, with the scenario text written beside it. Ready once
// constructed, or a test failure is recorded.
class VexodProcess {
public:
    VexodProcess(const std::string& binary, const std::string& dir, const std::string& scenario_json,
                 const std::string& socket_name = "vexod.sock", std::optional<RunAs> run_as = std::nullopt);
    // Stops it with SIGTERM, so that it removes its socket and the folders
    // of its data links (SIGKILL after 2 seconds).
    ~VexodProcess();
    VexodProcess(const VexodProcess&) = delete;
    VexodProcess& operator=(const VexodProcess&) = delete;
    const std::string& socket_path() const { return socket_; }
    std::string log() const;  // its stderr so far
    ChildProcess& process() { return *child_; }

private:
    std::string socket_;
    std::unique_ptr<ChildProcess> child_;
};

}  // namespace vgps::test
