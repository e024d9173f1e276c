#include "app/TerminalApp.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/ScriptPlayer.h"
#include "frontend/terminal/TerminalFrontEnd.h"
#include "link/DaemonManager.h"
#include "platform/alert.h"
#include "platform/localization.h"
#include "platform/stop_signals.h"
#include "ui/vexod_gps_trialAppDelegate.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIApplication.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;

// Passes the engine's alerts on to the screen's queue and keeps the one
// that tells of the daemon's loss: once it is dismissed there is nothing
// left to do.
class DaemonLossWatch : public AlertPresenter {
public:
    explicit DaemonLossWatch(UIApplication* app) : app_(app), previous_(set_alert_presenter(this)) {}
    ~DaemonLossWatch() override { set_alert_presenter(previous_); }
    DaemonLossWatch(const DaemonLossWatch&) = delete;
    DaemonLossWatch& operator=(const DaemonLossWatch&) = delete;

    void present(const AlertView& alert) override {
        if (previous_ != nullptr) previous_->present(alert);
        if (alert.title() == localized_string("Daemon disconnected", "") && !app_->alerts().empty()) {
            seen_ = true;
            lossAlert_ = app_->alerts().back();
        }
    }
    // The daemon went away (and said so).
    bool lossSeen() const { return seen_; }
    // ... and its alert has been dismissed.
    bool dismissed() const {
        const auto alert = lossAlert_.lock();
        return seen_ && (!alert || !alert->isQueued());
    }

private:
    UIApplication* app_;
    AlertPresenter* previous_;
    std::weak_ptr<UIAlertView> lossAlert_;
    bool seen_ = false;
};

void print_lines(FILE* to, const std::vector<std::string>& lines) {
    for (const auto& line : lines) std::fprintf(to, "%s\n", line.c_str());
    std::fflush(to);
}

}  // namespace

int run_terminal(const AppOptions& options) {
    ScriptReading script;
    if (options.script) {
        script = read_script_file(*options.script, ScriptCommands::standard());
        if (script.error) {
            std::fprintf(stderr, "vexod-gps: %s\n", script.error->c_str());
            return 2;
        }
    }

    RunLoop* loop = RunLoop::main();
    DaemonManager* manager = DaemonManager::sharedManager();
    if (!options.socketPath.empty()) manager->setDaemonSocketPath(options.socketPath);
    NotificationCenter* center = NotificationCenter::defaultCenter();

    UIApplication app(loop);
    vexod_gps_trialAppDelegate delegate(manager, center);
    DaemonLossWatch loss(&app);

    bool timedOut = false;
    int scriptStatus = 0;
    // Stopped at once, not after the wait of the turn under way.
    auto stop = [&] {
        app.stop();
        loop->add_timer(0ms, [] {});
    };
    // Before the terminal is taken, so that ncurses leaves these signals to us.
    if (!watch_stop_signals(loop, [&](int sig) {
            if (sig == SIGALRM) timedOut = true;
            stop();
        })) {
        return 1;
    }

    term::TerminalFrontEnd front(&app);
    front.setQuitHandler(stop);
    if (!front.start()) return 1;

    // The time-out comes as a stop signal (SIGALRM), as in the headless run.
    if (options.timeoutSeconds > 0 &&
        !stop_after(std::chrono::milliseconds(static_cast<int64_t>(std::ceil(options.timeoutSeconds * 1000))))) {
        front.stop();
        std::perror("vexod-gps: setitimer");
        return 1;
    }
    // Whatever a script prints waits for the terminal to be given back.
    std::vector<std::string> scriptOut, scriptErr;
    std::unique_ptr<ScriptPlayer> player;
    if (options.script) {
        player = std::make_unique<ScriptPlayer>(
            &app, std::move(script.lines), ScriptCommands::standard(),
            [&](const std::string& line) { scriptOut.push_back(line); },
            [&](const std::string& line) { scriptErr.push_back(line); },
            [&](int status) {
                scriptStatus = status;
                stop();
            });
        player->start();
    }
    bool everConnected = false;
    const RunLoop::ObserverId watcher = loop->add_before_wait_observer([&] {
        if (manager->isConnected()) everConnected = true;
        if (loss.dismissed()) stop();
    });

    const int launched = UIApplicationMain(&app, &delegate);
    loop->remove_before_wait_observer(watcher);
    player.reset();
    front.stop();
    print_lines(stdout, scriptOut);
    print_lines(stderr, scriptErr);

    if (manager->state() > DaemonStateConnected) manager->disconnectFromDevice();
    if (manager->isConnected()) manager->shutdownDaemon();
    if (launched != 0) return 1;
    if (timedOut) return 3;
    // A stop signal that came while a request waited has closed the
    // connection: not a daemon that went away or could not be reached.
    if (stop_signal_received() == 0 && (loss.lossSeen() || !everConnected)) return 1;
    return scriptStatus;
}

}  // namespace vgps
