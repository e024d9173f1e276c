// What every front-end does around the screens: the application on the main
// run loop with its delegate on the process-wide daemon manager and
// notification centre, a stop on SIGINT or SIGTERM and at the --timeout
// deadline (SIGALRM, so that a request waiting for the daemon gives way), a script read and played when there is one, and the data link
// and daemon connection closed at the end.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/ScriptPlayer.h"
#include "app/front_end.h"
#include "link/DaemonManager.h"
#include "platform/notification_center.h"
#include "ui/vexod_gps_trialAppDelegate.h"
#include "uikit/UIApplication.h"

namespace vgps {

// Prints `line` and a newline at once.
void print_line(FILE* to, const std::string& line);

// The script of --script read with `commands`; nullopt, after printing
// "vexod-gps: what is wrong" on stderr, when it cannot be used.
std::optional<ScriptReading> read_app_script(const AppOptions& options, const ScriptCommands& commands);

class AppSession {
public:
    explicit AppSession(const AppOptions& options);
    ~AppSession();
    AppSession(const AppSession&) = delete;
    AppSession& operator=(const AppSession&) = delete;

    // False when the stop signals or the time-out cannot be set up.
    bool ok() const { return ok_; }
    RunLoop* loop() const { return loop_; }
    DaemonManager* manager() const { return manager_; }
    NotificationCenter* center() const { return center_; }
    UIApplication* app() { return &app_; }
    const vexod_gps_trialAppDelegate* delegate() const { return &delegate_; }

    // Stops the application at once, not after the wait of the turn under
    // way.
    void stop();
    bool interrupted() const { return interrupted_; }
    bool timedOut() const { return timedOut_; }

    // Plays `lines` with `commands`: dumps to `out` and complaints to `err`
    // (by default stdout and stderr, at once); the application stops when
    // the script ends.
    void playScript(std::vector<ScriptLine> lines, ScriptCommands commands, ScriptPlayer::Sink out = nullptr,
                    ScriptPlayer::Sink err = nullptr);
    // The script's status (0 without one).
    int scriptStatus() const { return scriptStatus_; }

    // Launches and runs until stopped: 0, or 1 when the launch was refused.
    int run();
    // Closes the data link and the daemon connection.
    void closeConnections();

private:
    RunLoop* loop_;
    DaemonManager* manager_;
    NotificationCenter* center_;
    UIApplication app_;
    vexod_gps_trialAppDelegate delegate_;
    std::unique_ptr<ScriptPlayer> player_;
    bool ok_ = false;
    bool interrupted_ = false;
    bool timedOut_ = false;
    int scriptStatus_ = 0;
};

}  // namespace vgps
