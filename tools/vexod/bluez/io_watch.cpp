#include "bluez/io_watch.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace vexod::bluez {

IoWatch::IoWatch(vgps::RunLoop* loop, int fd, Callback callback)
    : loop_(loop), fd_(fd), callback_(std::move(callback)) {
    epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_fd_ >= 0) source_ = loop_->add_source(epoll_fd_, [this] { on_ready(); });
}

IoWatch::~IoWatch() {
    if (source_) loop_->remove_source(source_);
    if (epoll_fd_ >= 0) ::close(epoll_fd_);
}

bool IoWatch::set_events(uint32_t events) {
    if (epoll_fd_ < 0) return false;
    if (events == events_) return true;
    epoll_event ev{};
    ev.events = events;
    int r;
    if (events == 0) r = ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd_, nullptr);
    else r = ::epoll_ctl(epoll_fd_, events_ == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd_, &ev);
    if (r != 0) return false;
    events_ = events;
    return true;
}

void IoWatch::on_ready() {
    epoll_event ev{};
    const int n = ::epoll_wait(epoll_fd_, &ev, 1, 0);
    if (n != 1) return;
    // The callback may destroy this watch: it runs from a copy, and nothing
    // here is touched after it.
    auto callback = callback_;
    callback(ev.events);
}

ConnectWait::ConnectWait(vgps::RunLoop* loop, int fd, std::chrono::milliseconds timeout,
                         std::function<void(int error)> done)
    : loop_(loop), fd_(fd), done_(std::move(done)), watch_(loop, fd, [this](uint32_t) {
          int error = 0;
          socklen_t length = sizeof error;
          if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
          finish(error);
      }) {
    if (!watch_.set_events(EPOLLOUT)) {
        const int error = errno != 0 ? errno : EBADF;
        timer_ = loop_->add_timer(std::chrono::milliseconds(0), [this, error] {
            timer_ = 0;
            finish(error);
        });
        return;
    }
    timer_ = loop_->add_timer(timeout, [this] {
        timer_ = 0;
        finish(ETIMEDOUT);
    });
}

ConnectWait::~ConnectWait() {
    if (timer_) loop_->cancel_timer(timer_);
}

void ConnectWait::finish(int error) {
    watch_.set_events(0);
    if (timer_) loop_->cancel_timer(timer_);
    timer_ = 0;
    auto done = std::move(done_);
    done_ = nullptr;
    // `done` may destroy this wait.
    if (done) done(error);
}

}  // namespace vexod::bluez
