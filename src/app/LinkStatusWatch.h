// Tells a front-end, once a second while a GPS data link is up, what the
// link carries and the verdict on it (link/link_health.h), and tells it
// again when the link is gone. It listens to the daemon manager as a side
// observer, so its timer runs only while the manager is linked. The
// application wires it to what each front-end shows beside the screens: a
// report line (headless), a status line (terminal), a window subtitle.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "link/DaemonManager.h"
#include "link/link_health.h"
#include "platform/run_loop.h"
#include "ui/vexod_gps_trialAppDelegate.h"

namespace vgps {

class LinkStatusWatch : public DaemonManagerDelegate {
public:
    // Called with the report and the verdict each second of a link (the
    // first one second after it came up) while its data socket is open, and
    // with null and "" once the link is gone (the state left 3).
    using Listener = std::function<void(const LinkHealthReport* report, const std::string& verdict)>;

    LinkStatusWatch(DaemonManager* manager, RunLoop* loop, Listener listener);
    ~LinkStatusWatch() override;
    LinkStatusWatch(const LinkStatusWatch&) = delete;
    LinkStatusWatch& operator=(const LinkStatusWatch&) = delete;

    void daemonManager_stateChangedFrom_To(DaemonManager* manager, int32_t from, int32_t to) override;
    void daemonManager_showTitle_Message(DaemonManager*, const std::string&, const std::string&) override {}
    void daemonManager_getDeviceName_forDevice_withResult(DaemonManager*, const std::optional<std::string>&,
                                                          std::shared_ptr<BTDevice>, bool) override {}
    void daemonManager_foundNewDevice(DaemonManager*, std::shared_ptr<BTDevice>) override {}
    void daemonManager_inquiryStopped(DaemonManager*, bool) override {}
    void daemonManager_initialStateReterived(DaemonManager*, int32_t) override {}

    // A watch for a front-end's status text: `show` gets the verdict while
    // the GPS inspector is the top screen of `delegate`'s navigation stack,
    // and "" otherwise, each time that text changes. It is looked at every
    // second of a link and when the link is gone, so leaving the inspector
    // clears it within a second.
    static std::unique_ptr<LinkStatusWatch> forInspector(DaemonManager* manager, RunLoop* loop,
                                                         const vexod_gps_trialAppDelegate* delegate,
                                                         std::function<void(const std::string&)> show);

private:
    void tick();
    void stop();

    DaemonManager* manager_;
    RunLoop* loop_;
    Listener listener_;
    RunLoop::TimerId timer_ = 0;
    bool told_ = false;  // the listener has heard of this link
};

}  // namespace vgps
