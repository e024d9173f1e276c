// The main thread's event loop: descriptor sources whose callback comes again
// for as long as the descriptor stays readable (level-triggered), one-shot
// timers for delayed calls, and ways to run the loop until a condition holds
// or a deadline passes. Everything runs on the thread that runs the loop;
// nothing here is locked.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace vgps {

class RunLoop {
public:
    using Clock = std::chrono::steady_clock;
    using SourceId = uint64_t;
    using TimerId = uint64_t;
    using ObserverId = uint64_t;

    RunLoop() = default;
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // The loop of the main thread (the only one this system uses), made on
    // first use and never destroyed.
    static RunLoop* main();

    // Calls `callback` whenever `fd` is readable (or at end of stream or on
    // an error), again on every turn while that stays so. The loop never
    // reads or closes the descriptor itself.
    SourceId add_source(int fd, std::function<void()> callback);
    // Safe from inside any callback, the source's own included: a removed
    // source is never called again.
    void remove_source(SourceId id);
    // A disabled source stays registered but is not watched.
    void set_source_enabled(SourceId id, bool enabled);
    bool has_source(SourceId id) const;
    size_t source_count() const { return sources_.size(); }

    // Calls `callback` once, `delay` from now. Timers due at the same time
    // fire in the order they were added.
    TimerId add_timer(std::chrono::milliseconds delay, std::function<void()> callback);
    void cancel_timer(TimerId id);

    // Calls `callback` at the start of every turn, before the loop waits:
    // the place where a toolkit lays out and redraws, once, whatever the
    // callbacks of the previous turn (or code run before the loop) changed.
    // Observers may add timers; those count for the wait that follows.
    ObserverId add_before_wait_observer(std::function<void()> callback);
    // Safe from inside an observer: a removed observer is not called again.
    void remove_before_wait_observer(ObserverId id);

    // One turn: runs the before-wait observers, waits at most `timeout` (a
    // negative one: as long as it takes) for a source or a timer, then calls
    // what is due. True when at least one source or timer callback ran.
    bool run_once(std::chrono::milliseconds timeout);

    // Turns until `done()` is true (checked before every turn) or `timeout`
    // has passed. True when `done()` held.
    bool run_until(const std::function<bool()>& done, std::chrono::milliseconds timeout);

    // Turns until `stop()` is called or nothing is left to wait for. Between
    // events the thread sleeps: no turn runs without a source or a timer.
    void run();
    void stop() { stopped_ = true; }

private:
    struct Source {
        int fd;
        bool enabled = true;
        std::function<void()> callback;
    };
    struct TimerKey {
        Clock::time_point when;
        TimerId id;
        bool operator<(const TimerKey& o) const { return when != o.when ? when < o.when : id < o.id; }
    };

    bool fire_due_timers();
    void notify_before_wait();

    std::map<SourceId, std::shared_ptr<Source>> sources_;
    std::map<TimerKey, std::function<void()>> timers_;
    std::map<TimerId, Clock::time_point> timer_index_;
    std::map<ObserverId, std::shared_ptr<std::function<void()>>> before_wait_;
    uint64_t next_id_ = 1;
    bool stopped_ = false;
};

}  // namespace vgps
