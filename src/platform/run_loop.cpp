#include "platform/run_loop.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

namespace vgps {

RunLoop* RunLoop::main() {
    static RunLoop* loop = new RunLoop();
    return loop;
}

RunLoop::SourceId RunLoop::add_source(int fd, std::function<void()> callback) {
    const SourceId id = next_id_++;
    auto source = std::make_shared<Source>();
    source->fd = fd;
    source->callback = std::move(callback);
    sources_.emplace(id, std::move(source));
    return id;
}

void RunLoop::remove_source(SourceId id) { sources_.erase(id); }

void RunLoop::set_source_enabled(SourceId id, bool enabled) {
    auto it = sources_.find(id);
    if (it != sources_.end()) it->second->enabled = enabled;
}

bool RunLoop::has_source(SourceId id) const { return sources_.count(id) != 0; }

RunLoop::TimerId RunLoop::add_timer(std::chrono::milliseconds delay, std::function<void()> callback) {
    const TimerId id = next_id_++;
    const auto when = Clock::now() + std::max(delay, std::chrono::milliseconds(0));
    timers_.emplace(TimerKey{when, id}, std::move(callback));
    timer_index_.emplace(id, when);
    return id;
}

void RunLoop::cancel_timer(TimerId id) {
    auto it = timer_index_.find(id);
    if (it == timer_index_.end()) return;
    timers_.erase(TimerKey{it->second, id});
    timer_index_.erase(it);
}

bool RunLoop::fire_due_timers() {
    // Only timers already due when the turn began fire in it: a timer that
    // adds a zero-delay timer cannot keep the loop from its sources.
    const auto now = Clock::now();
    std::vector<TimerId> due;
    for (const auto& [key, fn] : timers_) {
        if (key.when > now) break;
        due.push_back(key.id);
    }
    for (TimerId id : due) {
        auto idx = timer_index_.find(id);
        if (idx == timer_index_.end()) continue;  // cancelled by an earlier one
        auto node = timers_.extract(TimerKey{idx->second, id});
        timer_index_.erase(idx);
        if (!node.empty()) node.mapped()();
    }
    return !due.empty();
}

RunLoop::ObserverId RunLoop::add_before_wait_observer(std::function<void()> callback) {
    const ObserverId id = next_id_++;
    before_wait_.emplace(id, std::make_shared<std::function<void()>>(std::move(callback)));
    return id;
}

void RunLoop::remove_before_wait_observer(ObserverId id) { before_wait_.erase(id); }

void RunLoop::notify_before_wait() {
    if (before_wait_.empty()) return;
    std::vector<ObserverId> ids;
    for (const auto& entry : before_wait_) ids.push_back(entry.first);
    for (ObserverId id : ids) {
        auto it = before_wait_.find(id);
        if (it == before_wait_.end()) continue;  // removed by an earlier one
        auto keep = it->second;                 // outlives its own removal
        (*keep)();
    }
}

bool RunLoop::run_once(std::chrono::milliseconds timeout) {
    notify_before_wait();
    auto wait = timeout;  // negative: no limit
    if (!timers_.empty()) {
        auto until_timer = std::max(std::chrono::milliseconds(0),
                                    std::chrono::duration_cast<std::chrono::milliseconds>(
                                        timers_.begin()->first.when - Clock::now() + std::chrono::microseconds(999)));
        if (wait.count() < 0 || until_timer < wait) wait = until_timer;
    }

    std::vector<pollfd> fds;
    std::vector<SourceId> ids;
    for (const auto& [id, source] : sources_) {
        if (!source->enabled) continue;
        fds.push_back(pollfd{source->fd, POLLIN, 0});
        ids.push_back(id);
    }
    const int r = ::poll(fds.data(), fds.size(),
                         wait.count() < 0 ? -1 : static_cast<int>(std::min<int64_t>(wait.count(), INT32_MAX)));
    bool ran = false;
    if (r > 0) {
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            // The source may have been removed, or its descriptor reused, by
            // an earlier callback of this turn.
            auto it = sources_.find(ids[i]);
            if (it == sources_.end() || !it->second->enabled || it->second->fd != fds[i].fd) continue;
            std::shared_ptr<Source> keep = it->second;  // outlives its own removal
            keep->callback();
            ran = true;
        }
    } else if (r < 0 && errno != EINTR) {
        // A descriptor closed behind the loop's back gives POLLNVAL, not an
        // error; anything else is not worth spinning on.
        return ran;
    }
    if (fire_due_timers()) ran = true;
    return ran;
}

bool RunLoop::run_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return done();
        // Short turns so that done() is looked at soon after a callback.
        run_once(std::min(left, std::chrono::milliseconds(50)));
    }
    return true;
}

void RunLoop::run() {
    stopped_ = false;
    while (!stopped_ && (!sources_.empty() || !timers_.empty())) {
        // Nothing wakes an idle loop: it waits for a source or its next timer.
        run_once(std::chrono::milliseconds(-1));
    }
}

}  // namespace vgps
