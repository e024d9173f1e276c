#include "data_link.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "vexod_log.h"

namespace vexod {
namespace {

// The most a link writes in one turn of the run loop when it streams as
// fast as it can, so that the daemon's client is still served in between.
constexpr size_t kTurnBudget = 256 * 1024;
// How soon a write that found the socket full is tried again: at once for
// a reader that is only a little behind, less and less often for one that
// has stopped reading.
constexpr std::chrono::milliseconds kFirstRetry{1};
constexpr std::chrono::milliseconds kLastRetry{64};

}  // namespace

DataLink::DataLink(vgps::RunLoop* loop, EpochSource source, LinkOptions options, std::function<void(LinkEnd)> on_end)
    : loop_(loop),
      source_(std::move(source)),
      options_(std::move(options)),
      on_end_(std::move(on_end)),
      socket_(loop, DataSocketOptions{std::chrono::milliseconds(options_.accept_timeout_ms), options_.group},
              [this](int fd) { on_connected(fd); }) {
    if (options_.speed > 0) {
        // At most a day between epochs: any slower is a stopped receiver.
        const double seconds = std::min(1.0 / options_.speed, 86400.0);
        interval_ = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }
}

DataLink::~DataLink() { teardown(); }

bool DataLink::open(std::string* error) {
    DataSocket::Make make = DataSocket::Make::Listening;
    switch (options_.faults.socket_path) {
        case SocketPathFault::None: break;
        case SocketPathFault::Missing: make = DataSocket::Make::Nothing; break;
        case SocketPathFault::Refused: make = DataSocket::Make::BoundOnly; break;
        case SocketPathFault::Long: make = DataSocket::Make::LongPath; break;
    }
    return socket_.open(error, make);
}

void DataLink::on_connected(int fd) {
    if (fd < 0) {
        finish(LinkEnd::NotConnected);
        return;
    }
    data_fd_ = fd;
    data_source_ = loop_->add_source(data_fd_, [this] { on_data_readable(); });
    next_due_ = Clock::now();
    pump();
}

void DataLink::on_data_readable() {
    // Whatever the application sends towards the receiver is dropped; only
    // the end of its stream matters.
    char scratch[4096];
    for (;;) {
        const ssize_t n = ::read(data_fd_, scratch, sizeof scratch);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        finish(LinkEnd::AppClosed);
        return;
    }
}

void DataLink::pump() {
    pump_timer_ = 0;
    size_t budget = kTurnBudget;
    for (;;) {
        if (!writes_.empty()) {
            Write& w = writes_.front();
            if (w.pause_before_ms > 0) {
                schedule(std::chrono::milliseconds(w.pause_before_ms));
                w.pause_before_ms = 0;
                return;
            }
            while (w.offset < w.bytes.size()) {
                const ssize_t n = ::send(data_fd_, w.bytes.data() + w.offset, w.bytes.size() - w.offset, MSG_NOSIGNAL);
                if (n > 0) {
                    w.offset += static_cast<size_t>(n);
                    budget -= std::min(budget, static_cast<size_t>(n));
                    retry_ = kFirstRetry;
                } else if (n < 0 && errno == EINTR) {
                    continue;
                } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                    schedule(retry_);  // the application is behind
                    retry_ = std::min(retry_ * 2, kLastRetry);
                    return;
                } else {
                    finish(LinkEnd::AppClosed);
                    return;
                }
            }
            writes_.pop_front();
            continue;
        }

        if (options_.speed > 0) {
            const auto now = Clock::now();
            if (now < next_due_) {
                schedule(std::chrono::ceil<std::chrono::milliseconds>(next_due_ - now));
                return;
            }
            // A reader that fell behind gets the stream at the usual pace
            // again afterwards, not a burst of epochs to catch up.
            if (now - next_due_ > interval_) next_due_ = now;
            next_due_ += interval_;
        } else if (budget == 0) {
            schedule(std::chrono::milliseconds(0));
            return;
        }
        // A dropped link, like the end of the file, comes when the next
        // epoch would have been due.
        const auto& drop = options_.faults.drop_after_epochs;
        if (drop && epochs_sent_ >= *drop) {
            finish(LinkEnd::Dropped);
            return;
        }
        std::string epoch;
        if (!source_(&epoch)) {
            finish(LinkEnd::StreamEnded);
            return;
        }
        ++epochs_sent_;
        queue_epoch(std::move(epoch));
    }
}

void DataLink::queue_epoch(std::string epoch) {
    const LinkFaults& f = options_.faults;
    if (f.burst_at_epoch && *f.burst_at_epoch == epochs_sent_) {
        // Whole epochs adding up to more than 1023 bytes in one write: a
        // reader taking at most 1023 bytes at a time finds a full block and
        // more behind it.
        std::string more;
        while (epoch.size() <= 1023 && source_(&more)) {
            ++epochs_sent_;
            epoch += more;
        }
        VLOG("fault: %zu bytes in one write", epoch.size());
        writes_.push_back(Write{std::move(epoch)});
        return;
    }
    if (f.split_at_epoch && *f.split_at_epoch == epochs_sent_) {
        // The first sentence of the epoch cut in the middle.
        const size_t end = epoch.find("\r\n");
        const size_t cut = (end == std::string::npos ? epoch.size() : end + 2) / 2;
        if (cut > 0) {
            VLOG("fault: a sentence split after %zu bytes, %u ms apart", cut, f.split_pause_ms);
            writes_.push_back(Write{epoch.substr(0, cut)});
            writes_.push_back(Write{epoch.substr(cut), 0, f.split_pause_ms});
            return;
        }
    }
    writes_.push_back(Write{std::move(epoch)});
}

void DataLink::schedule(std::chrono::milliseconds delay) {
    if (pump_timer_) loop_->cancel_timer(pump_timer_);
    pump_timer_ = loop_->add_timer(delay, [this] { pump(); });
}

void DataLink::finish(LinkEnd why) {
    if (finished_) return;
    finished_ = true;
    teardown();
    // The callback may destroy this link: it runs from a copy, and nothing
    // here is touched after it.
    auto on_end = on_end_;
    if (on_end) on_end(why);
}

void DataLink::teardown() {
    if (pump_timer_) loop_->cancel_timer(pump_timer_);
    pump_timer_ = 0;
    if (data_source_) loop_->remove_source(data_source_);
    data_source_ = 0;
    // The files go first: by the time the application sees the end of the
    // stream, nothing of the link is left on disk.
    socket_.remove();
    if (data_fd_ >= 0) ::close(data_fd_);
    data_fd_ = -1;
    writes_.clear();
}

}  // namespace vexod
