#include "app/HeadlessFrontEnd.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>

#include "app/AppSession.h"
#include "app/HeadlessReport.h"
#include "app/LinkStatusWatch.h"
#include "app/ScriptPlayer.h"
#include "app/finger.h"
#include "link/DaemonManager.h"
#include "platform/log.h"
#include "platform/stop_signals.h"
#include "uikit/UIApplication.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;

// What the main screen's footers say at the points the scripted user waits
// for.
constexpr const char* kFailedToConnect = "Failed to connect to vexod daemon.";
constexpr const char* kNoDeviceFound = "No device found, try search again.";
constexpr const char* kTapOnOneDevice = "Tap on one device to connect.";

std::optional<std::string> footer_of(UITableView* table, int section) {
    if (table == nullptr || section >= table->numberOfSections()) return std::nullopt;
    return table->sectionLayouts()[static_cast<size_t>(section)].footer;
}

// The user of the road of a position, played on the screens with a finger:
// dismisses the notice, taps the search row, waits for the names, taps the
// device. Its own lines go into the report.
class RoadUser {
public:
    RoadUser(UIApplication* app, DaemonManager* manager, HeadlessReport* report, std::optional<bdaddr> device)
        : app_(app), manager_(manager), report_(report), device_(device) {}

    // Looks at the screen and does what is next; once a turn.
    void step() {
        if (stage_ == Stage::Done) return;
        UITableView* table = finger::top_table(app_);
        if (stage_ == Stage::Start) {
            if (footer_of(table, 0) == kFailedToConnect) {
                // A stop signal (or the time-out) that ended the connect is
                // not a daemon that cannot be reached.
                if (stop_signal_received() == 0) report_->line("connect-failed");
                connectFailed_ = true;
                stage_ = Stage::Done;
                return;
            }
            finger::dismiss_alert(app_);  // the demonstration notice
            const int rows = table != nullptr && table->numberOfSections() > 1 ? table->numberOfRowsInSection(1) : 0;
            if (rows > 0 && tapRow({1, rows - 1}) == finger::Tap::Done && manager_->isConnected()) {
                report_->line("inquiry-started");
            }
            stage_ = Stage::Searching;
            return;
        }
        const std::optional<std::string> status = footer_of(table, 1);
        if (status == kNoDeviceFound) {
            report_->line("no-devices");
            stage_ = Stage::Done;
        } else if (status == kTapOnOneDevice) {
            report_->line("names-done");
            // The tap comes before "done" is seen, so that the link is
            // waited for.
            tapDevice();
            stage_ = Stage::Done;
        }
    }

    bool connectFailed() const { return connectFailed_; }
    // The inquiry has ended and no name is left to ask for.
    bool namesDone() const { return stage_ == Stage::Done && !connectFailed_; }

private:
    enum class Stage { Start, Searching, Done };

    // A row, scrolled to first when the finger cannot reach it where it is.
    finger::Tap tapRow(NSIndexPath row) {
        finger::Tap tap = finger::tap_row(app_, row);
        if (tap == finger::Tap::NotOnScreen && finger::scroll_to_row(app_, row)) tap = finger::tap_row(app_, row);
        return tap;
    }

    // The device of --device, else the first one the inquiry found, else
    // the first of the list.
    void tapDevice() {
        if (!manager_->isConnected()) return;
        BTDeviceCache* devices = manager_->deviceList();
        std::shared_ptr<BTDevice> device;
        if (device_) {
            device = devices->getBTDevice(&*device_);
            if (!device) {
                report_->line("device-not-found " + ba2str(*device_));
                return;
            }
        } else if (report_->firstFound()) {
            device = devices->getBTDevice(&*report_->firstFound());
        }
        if (!device && !device_ && !devices->empty()) device = devices->deviceAt(0);
        if (!device) return;
        int index = -1;
        for (uint32_t i = 0; i < devices->deviceCount(); ++i) {
            if (devices->deviceAt(static_cast<int32_t>(i)) == device) index = static_cast<int>(i);
        }
        report_->line("connecting " + device->addressString());
        report_->setLinkPending(true);
        if (index < 0 || tapRow({1, index}) != finger::Tap::Done) {
            log_from("vexod-gps", "the row of %s could not be tapped", device->addressString().c_str());
            report_->setLinkPending(false);
        }
    }

    UIApplication* app_;
    DaemonManager* manager_;
    HeadlessReport* report_;
    std::optional<bdaddr> device_;
    Stage stage_ = Stage::Start;
    bool connectFailed_ = false;
};

}  // namespace

int run_headless(const AppOptions& options) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    // A script is read whole and checked before anything starts.
    std::optional<ScriptReading> script = read_app_script(options, ScriptCommands::standard());
    if (!script) return 2;

    AppSession session(options);
    if (!session.ok()) return 1;
    DaemonManager* manager = session.manager();
    std::unique_ptr<HeadlessReport> report;
    std::unique_ptr<LinkStatusWatch> health;  // the report's health lines
    std::unique_ptr<RoadUser> user;
    RunLoop::ObserverId watcher = 0;
    if (options.script) {
        session.playScript(std::move(script->lines), ScriptCommands::standard());
    } else {
        report = std::make_unique<HeadlessReport>(stdout, manager, session.center());
        report->setPositionLimit(options.positions);
        report->printRemembered(*manager->deviceList());
        health = std::make_unique<LinkStatusWatch>(
            manager, session.loop(), [&report](const LinkHealthReport* r, const std::string& verdict) {
                if (r != nullptr) report->line(HeadlessReport::healthLine(*r, verdict));
            });
        user = std::make_unique<RoadUser>(session.app(), manager, report.get(), options.device);
        auto done = [&] {
            return user->connectFailed() || report->daemonGone() ||
                   (options.exitWhenDone && user->namesDone() && !report->linkPending() &&
                    manager->dataDescriptor() < 0) ||
                   (options.positions > 0 && report->positionCount() >= options.positions);
        };
        watcher = session.loop()->add_before_wait_observer([&, done] {
            user->step();
            if (done()) session.stop();
        });
    }

    const int launched = session.run();
    if (watcher != 0) session.loop()->remove_before_wait_observer(watcher);
    if (launched != 0) return 1;
    // A stop that came while a request waited has closed the connection
    // already; it is not a daemon that went away or could not be reached.
    const bool stopped = stop_signal_received() != 0;
    if (!stopped && user && user->connectFailed()) return 1;
    if (!stopped && report && report->daemonGone()) return 1;

    // The data link and the daemon connection are closed before the end.
    session.closeConnections();
    if (session.timedOut()) return 3;
    return session.scriptStatus();
}

}  // namespace vgps
