#include "app/AppSession.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>

#include "platform/stop_signals.h"

namespace vgps {

void print_line(FILE* to, const std::string& line) {
    std::fprintf(to, "%s\n", line.c_str());
    std::fflush(to);
}

std::optional<ScriptReading> read_app_script(const AppOptions& options, const ScriptCommands& commands) {
    if (!options.script) return ScriptReading{};
    ScriptReading script = read_script_file(*options.script, commands);
    if (script.error) {
        print_line(stderr, "vexod-gps: " + *script.error);
        return std::nullopt;
    }
    return script;
}

AppSession::AppSession(const AppOptions& options)
    : loop_(RunLoop::main()),
      manager_(DaemonManager::sharedManager()),
      center_(NotificationCenter::defaultCenter()),
      app_(loop_),
      delegate_(manager_, center_) {
    if (!options.socketPath.empty()) manager_->setDaemonSocketPath(options.socketPath);
    ok_ = watch_stop_signals(loop_, [this](int sig) {
        if (sig == SIGALRM) {
            timedOut_ = true;
        } else {
            interrupted_ = true;
        }
        stop();
    });
    // The time-out comes as a stop signal (SIGALRM), so that a request
    // waiting for the daemon gives way to it at once, like to SIGINT.
    if (ok_ && options.timeoutSeconds > 0 &&
        !stop_after(std::chrono::milliseconds(static_cast<int64_t>(std::ceil(options.timeoutSeconds * 1000))))) {
        std::perror("vexod-gps: setitimer");
        ok_ = false;
    }
}

AppSession::~AppSession() = default;

void AppSession::stop() {
    app_.stop();
    loop_->add_timer(std::chrono::milliseconds(0), [] {});
}

void AppSession::playScript(std::vector<ScriptLine> lines, ScriptCommands commands, ScriptPlayer::Sink out,
                            ScriptPlayer::Sink err) {
    if (!out) out = [](const std::string& line) { print_line(stdout, line); };
    if (!err) err = [](const std::string& line) { print_line(stderr, line); };
    player_ = std::make_unique<ScriptPlayer>(
        &app_, std::move(lines), std::move(commands), std::move(out), std::move(err), [this](int status) {
            scriptStatus_ = status;
            stop();
        });
    player_->start();
}

int AppSession::run() { return UIApplicationMain(&app_, &delegate_) != 0 ? 1 : 0; }

void AppSession::closeConnections() {
    if (manager_->state() > DaemonStateConnected) manager_->disconnectFromDevice();
    if (manager_->isConnected()) manager_->shutdownDaemon();
}

}  // namespace vgps
