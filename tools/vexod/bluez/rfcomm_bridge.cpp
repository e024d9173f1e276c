#include "bluez/rfcomm_bridge.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "vexod_log.h"

namespace vexod::bluez {
namespace {

// The most a bridge moves each way in one turn of the run loop, so that a
// fast pair of peers leaves the daemon time for its client.
constexpr size_t kTurnBudgetBuffers = 4;

}  // namespace

RfcommBridge::RfcommBridge(vgps::RunLoop* loop, int device_fd, BridgeOptions options, OnEnd on_end)
    : loop_(loop),
      device_fd_(device_fd),
      options_(options),
      on_end_(std::move(on_end)),
      socket_(loop, DataSocketOptions{options_.accept_timeout, options_.group}, [this](int fd) { on_connected(fd); }) {
    options_.buffer_bytes = std::max<size_t>(options_.buffer_bytes, 1);
    to_app_.data = std::make_unique<uint8_t[]>(options_.buffer_bytes);
    to_device_.data = std::make_unique<uint8_t[]>(options_.buffer_bytes);
}

RfcommBridge::~RfcommBridge() { teardown(); }

bool RfcommBridge::open(std::string* error) {
    if (!socket_.open(error)) return false;
    device_watch_ = std::make_unique<IoWatch>(loop_, device_fd_, [this](uint32_t events) {
        if (events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) device_hung_up_ = true;
        pump();
    });
    if (!device_watch_->valid()) {
        *error = std::string("epoll: ") + std::strerror(errno);
        teardown();
        return false;
    }
    // The device's bytes are held until the application comes; whatever
    // happens is reported from the run loop, never from inside open().
    watch();
    return true;
}

void RfcommBridge::on_connected(int fd) {
    if (fd < 0) {
        finish(LinkEnd::NotConnected, 0);
        return;
    }
    app_fd_ = fd;
    app_watch_ = std::make_unique<IoWatch>(loop_, app_fd_, [this](uint32_t) { pump(); });
    pump();
}

RfcommBridge::Io RfcommBridge::fill(int fd, Buffer& buffer, bool discard) {
    if (buffer.size() == options_.buffer_bytes) return Io::Idle;
    if (buffer.head > 0) {
        std::memmove(buffer.data.get(), buffer.data.get() + buffer.head, buffer.size());
        buffer.tail -= buffer.head;
        buffer.head = 0;
    }
    ssize_t n;
    do {
        n = ::read(fd, buffer.data.get() + buffer.tail, options_.buffer_bytes - buffer.tail);
    } while (n < 0 && errno == EINTR);
    if (n > 0 && !discard) buffer.tail += static_cast<size_t>(n);
    if (n > 0) return Io::Progress;
    if (n == 0) return Io::End;
    return errno == EAGAIN || errno == EWOULDBLOCK ? Io::Idle : Io::Error;
}

RfcommBridge::Io RfcommBridge::drain(int fd, Buffer& buffer) {
    if (buffer.size() == 0) return Io::Idle;
    ssize_t n;
    do {
        n = ::send(fd, buffer.data.get() + buffer.head, buffer.size(), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? Io::Idle : Io::Error;
    buffer.head += static_cast<size_t>(n);
    if (buffer.size() == 0) buffer.head = buffer.tail = 0;
    return Io::Progress;
}

void RfcommBridge::pump() {
    if (finished_) return;
    // Each pass moves what the sockets and the buffers allow; passes go on
    // while anything moves, up to the budget of a turn.
    for (size_t pass = 0; pass < kTurnBudgetBuffers; ++pass) {
        bool moved = false;
        if (!device_done_) {
            const Io r = fill(device_fd_, to_app_, false);
            moved |= r == Io::Progress;
            if (r == Io::End || r == Io::Error) {
                device_done_ = true;
                device_error_ = r == Io::Error ? errno : 0;
            }
        }
        if (app_fd_ >= 0) {
            Io r = drain(app_fd_, to_app_);
            if (r == Io::Error) {
                finish(LinkEnd::AppClosed, errno);
                return;
            }
            moved |= r == Io::Progress;
            // What the application sends after the device has gone is
            // dropped; only the end of its stream still matters then.
            r = fill(app_fd_, to_device_, device_done_);
            if (r == Io::End || r == Io::Error) {
                finish(LinkEnd::AppClosed, r == Io::Error ? errno : 0);
                return;
            }
            moved |= r == Io::Progress;
        }
        if (!device_done_) {
            const Io r = drain(device_fd_, to_device_);
            moved |= r == Io::Progress;
            if (r == Io::Error) {
                device_done_ = true;
                device_error_ = errno;
            }
        }
        if (!moved) break;
    }
    if (device_done_ && to_app_.size() == 0) {
        finish(LinkEnd::DeviceClosed, device_error_);
        return;
    }
    if ((device_done_ || device_hung_up_) && app_fd_ >= 0) {
        // The device's last bytes go to the application first, for a while
        // (until then, the application has its accept time to come).
        if (!drain_timer_) {
            drain_timer_ = loop_->add_timer(options_.drain_timeout, [this] {
                drain_timer_ = 0;
                finish(LinkEnd::DeviceClosed, device_error_);
            });
        }
    }
    watch();
}

void RfcommBridge::watch() {
    uint32_t device = 0;
    if (!device_done_) {
        if (to_app_.size() < options_.buffer_bytes) device |= EPOLLIN;
        if (to_device_.size() > 0) device |= EPOLLOUT;
        // The device's close is seen even while its bytes cannot be
        // taken; once seen, only reading on matters.
        if (!device_hung_up_) device |= EPOLLRDHUP;
    }
    device_watch_->set_events(device);
    if (app_watch_) {
        // EPOLLRDHUP: the application's close is seen even while its
        // bytes cannot be taken.
        uint32_t app = EPOLLRDHUP;
        if (to_device_.size() < options_.buffer_bytes) app |= EPOLLIN;
        if (to_app_.size() > 0) app |= EPOLLOUT;
        app_watch_->set_events(app);
    }
}

void RfcommBridge::finish(LinkEnd why, int error) {
    if (finished_) return;
    finished_ = true;
    if (error != 0) {
        VLOG("rfcomm link broke off (%s): %s", link_end_text(why), std::strerror(error));
    }
    teardown();
    // The callback may destroy this bridge: it runs from a copy, and
    // nothing here is touched after it.
    auto on_end = on_end_;
    if (on_end) on_end(why, error);
}

void RfcommBridge::teardown() {
    if (drain_timer_) loop_->cancel_timer(drain_timer_);
    drain_timer_ = 0;
    device_watch_.reset();
    app_watch_.reset();
    // The files go first: by the time the application sees the end of the
    // stream, nothing of the link is left on disk.
    socket_.remove();
    for (int* fd : {&app_fd_, &device_fd_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
    to_app_.head = to_app_.tail = 0;
    to_device_.head = to_device_.tail = 0;
}

}  // namespace vexod::bluez
