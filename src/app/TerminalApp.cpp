#include "app/TerminalApp.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppSession.h"
#include "app/LinkStatusWatch.h"
#include "app/ScriptPlayer.h"
#include "frontend/terminal/TerminalFrontEnd.h"
#include "link/DaemonManager.h"
#include "platform/alert.h"
#include "platform/localization.h"
#include "platform/stop_signals.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIApplication.h"

namespace vgps {
namespace {

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
    // Whatever a script prints waits for the terminal to be given back.
    std::vector<std::string> scriptOut, scriptErr;
    std::optional<ScriptReading> script = read_app_script(options, ScriptCommands::standard());
    if (!script) return 2;

    // The stop signals are watched before the terminal is taken, so that
    // ncurses leaves them to us.
    AppSession session(options);
    if (!session.ok()) return 1;
    DaemonManager* manager = session.manager();
    DaemonLossWatch loss(session.app());

    term::TerminalFrontEnd front(session.app());
    front.setQuitHandler([&session] { session.stop(); });
    if (!front.start()) return 1;

    if (options.script) {
        session.playScript(
            std::move(script->lines), ScriptCommands::standard(),
            [&](const std::string& line) { scriptOut.push_back(line); },
            [&](const std::string& line) { scriptErr.push_back(line); });
    }
    // The verdict on the data link on the status line while the GPS
    // screen is up.
    const std::unique_ptr<LinkStatusWatch> status =
        LinkStatusWatch::forInspector(manager, session.loop(), session.delegate(),
                                      [&front](const std::string& text) { front.setStatusText(text); });
    bool everConnected = false;
    const RunLoop::ObserverId watcher = session.loop()->add_before_wait_observer([&] {
        if (manager->isConnected()) everConnected = true;
        if (loss.dismissed()) session.stop();
    });

    const int launched = session.run();
    session.loop()->remove_before_wait_observer(watcher);
    front.stop();
    print_lines(stdout, scriptOut);
    print_lines(stderr, scriptErr);

    session.closeConnections();
    if (launched != 0) return 1;
    if (session.timedOut()) return 3;
    // A stop signal that came while a request waited has closed the
    // connection: not a daemon that went away or could not be reached.
    if (stop_signal_received() == 0 && (loss.lossSeen() || !everConnected)) return 1;
    return session.scriptStatus();
}

}  // namespace vgps
