// GLib's main context served by the platform run loop, on the one thread.
//
// The run loop stays the loop of the program: the application, the engine's
// synchronous daemon requests and every run_until of the tests turn it. GLib
// (and GTK on it) is its guest. Before each wait the context is prepared and
// asked which descriptors it wants polled and for how long; those
// descriptors are mirrored into one epoll descriptor that the run loop
// watches like any socket, and the timeout becomes a run-loop timer. When
// either fires, the context checks and dispatches what is ready. With
// nothing due in GLib the run loop sleeps on the daemon's and the
// receiver's sockets and on GLib's descriptors alike: no polling, no
// wake-ups.
#pragma once

#include <glib.h>

#include <functional>
#include <vector>

#include "platform/run_loop.h"

namespace vgps {

class GLibLoopJoin {
public:
    // Joins `context` (the default context when null) to `loop` and
    // acquires it for this thread. ok() is false when another thread owns
    // the context or no epoll descriptor could be made.
    explicit GLibLoopJoin(RunLoop* loop, GMainContext* context = nullptr);
    ~GLibLoopJoin();
    GLibLoopJoin(const GLibLoopJoin&) = delete;
    GLibLoopJoin& operator=(const GLibLoopJoin&) = delete;

    bool ok() const { return acquired_ && epoll_ >= 0; }

    // Called before each wait, after GLib dispatched what was due and
    // before it is prepared again: where a front-end brings its widgets up
    // to date, so that GLib's next poll already knows about the redraw.
    void setBeforePrepare(std::function<void()> hook) { beforePrepare_ = std::move(hook); }

    // Rounds so far in which GLib had something to dispatch (for tests).
    uint64_t dispatchCount() const { return dispatches_; }

private:
    void beforeWait();
    void finish();
    void mirrorDescriptors();
    bool openEpoll();
    void closeEpoll();

    RunLoop* loop_;
    GMainContext* context_;
    bool acquired_ = false;
    int epoll_ = -1;
    RunLoop::SourceId source_ = 0;
    RunLoop::ObserverId observer_ = 0;
    RunLoop::TimerId timer_ = 0;
    std::vector<GPollFD> fds_;
    std::vector<GPollFD> watched_;  // what the epoll descriptor holds
    gint priority_ = 0;
    bool prepared_ = false;
    uint64_t dispatches_ = 0;
    std::function<void()> beforePrepare_;
};

}  // namespace vgps
