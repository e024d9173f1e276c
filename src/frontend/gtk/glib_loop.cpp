#include "frontend/gtk/glib_loop.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/log.h"

namespace vgps {

GLibLoopJoin::GLibLoopJoin(RunLoop* loop, GMainContext* context)
    : loop_(loop), context_(context != nullptr ? g_main_context_ref(context) : g_main_context_ref_thread_default()) {
    acquired_ = g_main_context_acquire(context_);
    if (!acquired_) {
        log_error("<%s> GLib's main context belongs to another thread", "-[GLibLoopJoin init]");
        return;
    }
    if (!openEpoll()) return;
    observer_ = loop_->add_before_wait_observer([this] { beforeWait(); });
}

GLibLoopJoin::~GLibLoopJoin() {
    if (observer_ != 0) loop_->remove_before_wait_observer(observer_);
    if (timer_ != 0) loop_->cancel_timer(timer_);
    closeEpoll();
    if (acquired_) g_main_context_release(context_);
    g_main_context_unref(context_);
}

bool GLibLoopJoin::openEpoll() {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) {
        log_error("<%s> epoll_create1: %s", "-[GLibLoopJoin init]", g_strerror(errno));
        return false;
    }
    watched_.clear();
    source_ = loop_->add_source(epoll_, [this] {
        // A descriptor GLib closed while a duplicate of it lives on stays
        // in the epoll set under its old number and would keep it readable:
        // anything ready that GLib no longer asks for means starting afresh.
        epoll_event events[16];
        const int n = epoll_wait(epoll_, events, 16, 0);
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            const bool wanted =
                std::any_of(watched_.begin(), watched_.end(), [fd](const GPollFD& w) { return w.fd == fd; });
            if (!wanted) {
                closeEpoll();
                openEpoll();
                mirrorDescriptors();
                break;
            }
        }
        finish();
    });
    return true;
}

void GLibLoopJoin::closeEpoll() {
    if (source_ != 0) loop_->remove_source(source_);
    source_ = 0;
    if (epoll_ >= 0) ::close(epoll_);
    epoll_ = -1;
    watched_.clear();
}

void GLibLoopJoin::beforeWait() {
    // The loop woke for something else since the last prepare: finish that
    // round first (GLib wants prepare, query, check, dispatch in turn).
    if (prepared_) finish();
    if (beforePrepare_) beforePrepare_();

    const gboolean ready = g_main_context_prepare(context_, &priority_);
    gint timeout = -1;
    for (;;) {
        const gint want = g_main_context_query(context_, priority_, &timeout, fds_.data(), gint(fds_.size()));
        if (want <= gint(fds_.size())) {
            fds_.resize(size_t(want));
            break;
        }
        fds_.resize(size_t(want));
    }
    if (ready) timeout = 0;
    prepared_ = true;
    mirrorDescriptors();

    if (timer_ != 0) loop_->cancel_timer(timer_);
    timer_ = 0;
    if (timeout >= 0) {
        timer_ = loop_->add_timer(std::chrono::milliseconds(timeout), [this] {
            timer_ = 0;
            finish();
        });
    }
}

void GLibLoopJoin::mirrorDescriptors() {
    if (epoll_ < 0) return;
    // One epoll entry per descriptor, with every event any source wants.
    std::vector<GPollFD> wanted;
    for (const GPollFD& f : fds_) {
        auto it = std::find_if(wanted.begin(), wanted.end(), [&](const GPollFD& w) { return w.fd == f.fd; });
        if (it != wanted.end()) {
            it->events |= f.events;
        } else {
            wanted.push_back({f.fd, f.events, 0});
        }
    }
    for (const GPollFD& w : watched_) {
        const bool kept = std::any_of(wanted.begin(), wanted.end(), [&](const GPollFD& f) { return f.fd == w.fd; });
        if (!kept) epoll_ctl(epoll_, EPOLL_CTL_DEL, w.fd, nullptr);
    }
    for (const GPollFD& f : wanted) {
        // GLib's G_IO_* bits are poll's, and poll's are epoll's.
        epoll_event ev{};
        ev.events = f.events;
        ev.data.fd = f.fd;
        // Modify first: a descriptor closed and opened again under the same
        // number has left the set on its own and must be added anew.
        if (epoll_ctl(epoll_, EPOLL_CTL_MOD, f.fd, &ev) != 0 && errno == ENOENT) {
            if (epoll_ctl(epoll_, EPOLL_CTL_ADD, f.fd, &ev) != 0) {
                log_error("<%s> epoll_ctl(%d): %s", "-[GLibLoopJoin mirrorDescriptors]", f.fd, g_strerror(errno));
            }
        }
    }
    watched_ = std::move(wanted);
}

void GLibLoopJoin::finish() {
    if (!prepared_) return;
    prepared_ = false;
    if (timer_ != 0) loop_->cancel_timer(timer_);
    timer_ = 0;
    for (GPollFD& f : fds_) f.revents = 0;
    if (!fds_.empty()) g_poll(fds_.data(), guint(fds_.size()), 0);
    if (g_main_context_check(context_, priority_, fds_.data(), gint(fds_.size()))) ++dispatches_;
    // Sources dispatched here may run the loop again (a nested turn
    // prepares its own round); nothing of this round is used after this.
    g_main_context_dispatch(context_);
}

}  // namespace vgps
