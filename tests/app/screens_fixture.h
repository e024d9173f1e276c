// The application's screens in this process, on a daemon manager, device
// list and notification centre of the test's own, against the real vexod
// started in the test's temp folder; scripts play the user, exactly as
// `vexod-gps --headless --script` does, and their dumps come back parsed.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/ScriptPlayer.h"
#include "link/DaemonManager.h"
#include "link/utility.h"
#include "platform/log.h"
#include "platform/notification_center.h"
#include "platform/run_loop.h"
#include "registry/BTDeviceCache.h"
#include "support/plist_probe.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "ui/GPSInspector.h"
#include "ui/vexod_gps_trialAppDelegate.h"
#include "uikit/UIApplication.h"

namespace vgps::test {

class ScreensTest : public ::testing::Test {
protected:
    void SetUp() override { set_read_timeout_ms(3000); }
    void TearDown() override {
        if (manager->state() > DaemonStateConnected) manager->disconnectFromDevice();
        if (manager->isConnected()) manager->shutdownDaemon();
    }

    // The daemon, with `scenario` (its files beside it in the temp folder).
    void startDaemon(const std::string& scenario, const std::string& socket = "vexod.sock") {
        vexod = std::make_unique<VexodProcess>(VEXOD_BINARY, dir.path(), scenario, socket);
        manager->setDaemonSocketPath(vexod->socket_path());
    }
    // Remembered devices from a fixture of tests/data/prefs/xml.
    void remember(const std::string& fixture) {
        copy_files(std::string(VGPS_TEST_DATA_DIR) + "/prefs/xml/" + fixture, dir.path());
        ::setenv(kPreferencesDirVariable, dir.path().c_str(), 1);
        devices.loadSaved();
    }
    // Launches: the main screen loads and connects.
    void launch() {
        app.setDelegate(&delegate);
        ASSERT_TRUE(app.launch());
    }
    RootViewController* root() const { return delegate.rootViewController(); }
    UINavigationController* nav() const { return delegate.navigationController(); }
    GPSInspector* inspector() const { return dynamic_cast<GPSInspector*>(nav()->topViewController()); }

    // Plays `script` to its end (10 s of run loop at most); its dumps, parsed.
    std::vector<JSON> play(const std::string& script) {
        const ScriptReading reading = read_script(script, ScriptCommands::standard());
        EXPECT_FALSE(reading.error) << *reading.error;
        std::vector<JSON> dumps;
        ScriptPlayer player(
            &app, reading.lines, ScriptCommands::standard(),
            [&](const std::string& line) { dumps.push_back(JSON::parse(line)); },
            [&](const std::string& line) { complaints.push_back(line); }, [&](int s) { status = s; });
        player.start();
        const auto deadline = RunLoop::Clock::now() + std::chrono::seconds(10);
        while (!player.isFinished() && RunLoop::Clock::now() < deadline) loop.run_once(std::chrono::milliseconds(50));
        EXPECT_TRUE(player.isFinished()) << "the script did not end";
        return dumps;
    }
    JSON dumpNow() { return play("dump").at(0); }

    LogCapture log;
    TempDir dir;
    RunLoop loop;
    UIApplication app{&loop};
    BTDeviceCache devices;
    NotificationCenter center;
    std::unique_ptr<DaemonManager> manager = [this] {
        auto m = std::make_unique<DaemonManager>(&devices, &center, &loop);
        m->installAsNotificationTarget();
        return m;
    }();
    vexod_gps_trialAppDelegate delegate{manager.get(), &center};
    std::unique_ptr<VexodProcess> vexod;
    std::vector<std::string> complaints;
    int status = -1;
};

// --- reading dumps

// Every view of `cls` inside `view` (itself included), in drawing order.
inline std::vector<JSON> all_in(const JSON& view, const std::string& cls) {
    std::vector<JSON> out;
    if (view.is_null()) return out;
    if (view["class"] == cls) out.push_back(view);
    if (view.contains("subviews"))
        for (const auto& child : view["subviews"])
            for (JSON& v : all_in(child, cls)) out.push_back(std::move(v));
    return out;
}
inline std::vector<JSON> views_of(const JSON& dump, const std::string& cls) { return all_in(dump["window"], cls); }
// The first view of `cls` inside `view`, or null.
inline JSON first_in(const JSON& view, const std::string& cls) {
    const auto found = all_in(view, cls);
    return found.empty() ? JSON() : found.front();
}

// The top screen's table's sections.
inline JSON sections_of(const JSON& dump) {
    const JSON table = first_in(dump["window"], "UITableView");
    return table.is_null() ? JSON::array() : table["sections"];
}

// The cell shown at (section, row) of the top table, or null.
inline JSON cell_at(const JSON& dump, int section, int row) {
    const JSON table = first_in(dump["window"], "UITableView");
    if (!table.is_null())
        for (const auto& v : table["subviews"])
            if (v.contains("indexPath") && v["indexPath"] == JSON::array({section, row})) return v;
    return JSON();
}

// The texts of the visible labels inside a view, in drawing order.
inline std::vector<std::string> labels_in(const JSON& view) {
    std::vector<std::string> out;
    for (const auto& v : all_in(view, "UILabel"))
        if (v["text"].is_string() && !v["hidden"].get<bool>()) out.push_back(v["text"].get<std::string>());
    return out;
}

}  // namespace vgps::test
