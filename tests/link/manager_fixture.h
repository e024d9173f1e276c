// A fresh daemon manager, on a device list and a notification centre of the
// test's own, against the real vexod daemon started on a socket in the
// test's own temp folder. Delegate reports ("state 1->3",
// "show Title|Message", "name <addr> <name> ok|failed", ...) and alerts also
// go into the log, so that their order with the log lines can be checked.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/DaemonManager.h"
#include "link/utility.h"
#include "platform/alert.h"
#include "platform/log.h"
#include "platform/run_loop.h"
#include "registry/BTDeviceCache.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace vgps::test {

using Events = std::vector<std::string>;

// Logged as "<delegate> ..." or, for a side observer, "<observer> ...".
struct RecordingDelegate : DaemonManagerDelegate, AlertPresenter {
    explicit RecordingDelegate(const char* name = "delegate") : who(name) {}
    const char* who;
    Events events;  // the reports only
    int alerts = 0;

    void add(const std::string& e) {
        events.push_back(e);
        log_from(who, "%s", e.c_str());
    }
    void daemonManager_showTitle_Message(DaemonManager*, const std::string& t, const std::string& m) override {
        add("show " + t + "|" + m);
    }
    void daemonManager_getDeviceName_forDevice_withResult(DaemonManager*, const std::optional<std::string>& name,
                                                          std::shared_ptr<BTDevice> d, bool ok) override {
        add("name " + d->addressString() + " " + name.value_or("<none>") + (ok ? " ok" : " failed"));
    }
    void daemonManager_foundNewDevice(DaemonManager*, std::shared_ptr<BTDevice> d) override {
        add("found " + d->addressString());
    }
    void daemonManager_inquiryStopped(DaemonManager*, bool b) override {
        add(std::string("stopped ") + (b ? "1" : "0"));
    }
    void daemonManager_stateChangedFrom_To(DaemonManager*, int32_t from, int32_t to) override {
        add("state " + std::to_string(from) + "->" + std::to_string(to));
    }
    void daemonManager_initialStateReterived(DaemonManager*, int32_t s) override {
        add("initial " + std::to_string(s));
    }
    void present(const AlertView& a) override {
        log_from("alert", "%s|%s|%s|%zu|%d", a.title().c_str(), a.message().c_str(), a.cancelButtonTitle().c_str(),
                 a.otherButtonTitles().size(), a.delegate() != nullptr);
        ++alerts;
    }
};

class ManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        owned = std::make_unique<DaemonManager>(&deviceList, &center, RunLoop::main());
        manager = owned.get();
        manager->installAsNotificationTarget();
        manager->setDelegate(&delegate);
        previous_presenter = set_alert_presenter(&delegate);
        set_read_timeout_ms(3000);
    }
    void TearDown() override {
        manager->disconnectFromDevice();
        manager->setDelegate(nullptr);
        if (manager->isConnected()) manager->shutdownDaemon();
        set_alert_presenter(previous_presenter);
    }

    // Each daemon of a test needs its own socket name (its log file, read
    // for readiness, is named after it).
    void start_daemon(const std::string& scenario, const std::string& socket_name = "vexod.sock") {
        daemon = std::make_unique<VexodProcess>(VEXOD_BINARY, dir.path(), scenario, socket_name);
        manager->setDaemonSocketPath(daemon->socket_path());
    }
    // Turns the main run loop, counting the turns that ran a callback,
    // until `done` or 10 s.
    bool run_until(const std::function<bool()>& done) {
        const auto deadline = RunLoop::Clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (RunLoop::Clock::now() > deadline) return false;
            if (RunLoop::main()->run_once(std::chrono::milliseconds(100))) ++turn;
        }
        return true;
    }
    long count_lines(const std::string& line) const {
        const auto lines = log.lines();
        return std::count(lines.begin(), lines.end(), line);
    }

    TempDir dir;
    LogCapture log;
    RecordingDelegate delegate;
    AlertPresenter* previous_presenter = nullptr;
    BTDeviceCache deviceList;  // starts empty, whatever the machine remembers
    NotificationCenter center;
    std::unique_ptr<DaemonManager> owned;
    DaemonManager* manager = nullptr;
    std::unique_ptr<VexodProcess> daemon;
    int turn = 0;
};

}  // namespace vgps::test
