#include "app/LinkStatusWatch.h"

#include <chrono>

#include "ui/GPSInspector.h"

namespace vgps {

using namespace std::chrono_literals;

LinkStatusWatch::LinkStatusWatch(DaemonManager* manager, RunLoop* loop, Listener listener)
    : manager_(manager), loop_(loop), listener_(std::move(listener)) {
    manager_->addObserver(this);
    if (manager_->state() == DaemonStateLinked) timer_ = loop_->add_timer(1000ms, [this] { tick(); });
}

LinkStatusWatch::~LinkStatusWatch() {
    if (timer_ != 0) loop_->cancel_timer(timer_);
    manager_->removeObserver(this);
}

void LinkStatusWatch::daemonManager_stateChangedFrom_To(DaemonManager*, int32_t from, int32_t to) {
    if (to == DaemonStateLinked) {
        // A new link (also one that replaced another): a second from now.
        if (timer_ != 0) loop_->cancel_timer(timer_);
        timer_ = loop_->add_timer(1000ms, [this] { tick(); });
    } else if (from == DaemonStateLinked) {
        stop();
    }
}

std::unique_ptr<LinkStatusWatch> LinkStatusWatch::forInspector(DaemonManager* manager, RunLoop* loop,
                                                               const vexod_gps_trialAppDelegate* delegate,
                                                               std::function<void(const std::string&)> show) {
    return std::make_unique<LinkStatusWatch>(
        manager, loop,
        [delegate, show = std::move(show), shown = std::string()](const LinkHealthReport*,
                                                                   const std::string& verdict) mutable {
            const UINavigationController* stack = delegate->navigationController();
            const bool inspector =
                stack != nullptr && dynamic_cast<const GPSInspector*>(stack->topViewController()) != nullptr;
            const std::string text = inspector ? verdict : "";
            if (text == shown) return;
            shown = text;
            show(text);
        });
}

void LinkStatusWatch::tick() {
    timer_ = loop_->add_timer(1000ms, [this] { tick(); });
    if (manager_->dataDescriptor() < 0) return;  // the stream ended; notification 31 is on its way
    const LinkHealthReport report = manager_->linkHealth().report(LinkHealth::Clock::now());
    told_ = true;
    listener_(&report, link_verdict(report, manager_->gpsInfo().fix));
}

void LinkStatusWatch::stop() {
    if (timer_ != 0) loop_->cancel_timer(timer_);
    timer_ = 0;
    if (!told_) return;
    told_ = false;
    listener_(nullptr, "");
}

}  // namespace vgps
