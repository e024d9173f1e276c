// Descriptors watched on the run loop for more than readability. The run
// loop reports only that a descriptor is readable; a watch keeps an epoll
// descriptor of its own, which is readable whenever the watched descriptor
// has one of the wanted events, and registers that one with the loop. So
// sd-bus can wait for its socket to take more output, a bridge for its
// reader to take more bytes, and a connect in progress for its outcome,
// without the daemon ever blocking.
#pragma once

#include <sys/epoll.h>

#include <chrono>
#include <cstdint>
#include <functional>

#include "platform/run_loop.h"

namespace vexod::bluez {

class IoWatch {
public:
    // Called with the events that are ready (EPOLLIN, EPOLLOUT, EPOLLHUP,
    // EPOLLERR). The watch may be destroyed from inside the call.
    using Callback = std::function<void(uint32_t events)>;

    // Watches nothing until set_events. The descriptor stays the caller's.
    IoWatch(vgps::RunLoop* loop, int fd, Callback callback);
    ~IoWatch();
    IoWatch(const IoWatch&) = delete;
    IoWatch& operator=(const IoWatch&) = delete;

    // False when the epoll descriptor could not be made (errno tells why).
    bool valid() const { return epoll_fd_ >= 0; }
    // EPOLLIN and/or EPOLLOUT. 0 stops watching altogether: hang-ups and
    // errors, which epoll reports whatever is asked, are then not reported
    // either, so a caller that cannot act on them does not spin.
    bool set_events(uint32_t events);
    uint32_t events() const { return events_; }

private:
    void on_ready();

    vgps::RunLoop* loop_;
    int fd_;
    Callback callback_;
    int epoll_fd_ = -1;
    vgps::RunLoop::SourceId source_ = 0;
    uint32_t events_ = 0;
};

// Waits for a non-blocking connect() in progress (or one already done) to
// finish: `done` gets 0 when the socket is connected, else the errno of the
// failure, ETIMEDOUT when `timeout` passed first. Called once, never from
// inside the constructor; not at all when the wait is destroyed first (which
// may be done from inside `done`). The descriptor stays the caller's.
class ConnectWait {
public:
    ConnectWait(vgps::RunLoop* loop, int fd, std::chrono::milliseconds timeout, std::function<void(int error)> done);
    ~ConnectWait();
    ConnectWait(const ConnectWait&) = delete;
    ConnectWait& operator=(const ConnectWait&) = delete;

private:
    void finish(int error);

    vgps::RunLoop* loop_;
    int fd_;
    std::function<void(int)> done_;
    IoWatch watch_;
    vgps::RunLoop::TimerId timer_ = 0;
};

}  // namespace vexod::bluez
