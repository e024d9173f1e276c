#include "data_link.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/fd.h"
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

constexpr char kLinkFolderPrefix[] = "vexod-link-";
constexpr char kLinkSocketName[] = "rfcomm";

// Where the links' private folders go: $TMPDIR, or /tmp.
std::string link_parent_dir() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

// The paths of the local sockets bound in this network namespace, from
// /proc/net/unix (the path is what follows the seventh field); none when
// that cannot be read.
std::optional<std::vector<std::string>> bound_socket_paths() {
    std::ifstream in("/proc/net/unix");
    if (!in) return std::nullopt;
    std::vector<std::string> paths;
    std::string line;
    std::getline(in, line);  // the column names
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string field, path;
        int skipped = 0;
        while (skipped < 7 && fields >> field) ++skipped;
        if (skipped == 7 && std::getline(fields >> std::ws, path) && !path.empty()) paths.push_back(path);
    }
    return paths;
}

bool owned_by_me(const struct stat& st) { return st.st_uid == ::geteuid(); }

// True when `folder` (named `name`) holds nothing but its link socket, a
// socket of this user that nobody has bound any more: the sockets of live
// daemons show in `bound`, also one bound but not listening (which refuses
// connections like a dead one). A connection that is not refused means a
// listener nobody here can see: left alone as well.
bool holds_only_a_dead_socket(const std::string& folder, const std::string& name,
                              const std::vector<std::string>& bound) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    int entries = 0;
    bool only_socket = true;
    while (const dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        ++entries;
        only_socket = only_socket && std::strcmp(e->d_name, kLinkSocketName) == 0;
    }
    ::closedir(dir);
    const std::string socket_path = folder + "/" + kLinkSocketName;
    struct stat st;
    if (entries != 1 || !only_socket || ::lstat(socket_path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) ||
        !owned_by_me(st) || socket_path.size() > vgps::kMaxLocalSocketPath)
        return false;
    const std::string tail = name + "/" + kLinkSocketName;
    for (const std::string& path : bound) {
        if (path.size() >= tail.size() && path.compare(path.size() - tail.size(), tail.size(), tail) == 0) return false;
    }
    const int fd = vgps::connect_local(socket_path);
    if (fd >= 0) ::close(fd);
    return fd < 0 && errno == ECONNREFUSED;
}

}  // namespace

void remove_stale_link_folders() {
    const std::string parent = link_parent_dir();
    DIR* dir = ::opendir(parent.c_str());
    if (!dir) return;
    std::optional<std::vector<std::string>> bound;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name.rfind(kLinkFolderPrefix, 0) != 0) continue;
        const std::string folder = parent + "/" + name;
        struct stat st;
        if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !owned_by_me(st)) continue;
        if (!bound) {
            bound = bound_socket_paths();
            if (!bound) break;  // a live link cannot be told from a dead one
        }
        if (!holds_only_a_dead_socket(folder, name, *bound)) continue;
        const std::string socket_path = folder + "/" + kLinkSocketName;
        if (::unlink(socket_path.c_str()) == 0 && ::rmdir(folder.c_str()) == 0) {
            VLOG("removed %s, left by a daemon that is gone", folder.c_str());
        } else {
            VLOG("cannot remove %s, left by a daemon that is gone: %s", folder.c_str(), std::strerror(errno));
        }
    }
    ::closedir(dir);
}

const char* link_end_text(LinkEnd why) {
    switch (why) {
        case LinkEnd::StreamEnded: return "end of the recorded stream";
        case LinkEnd::Dropped: return "fault: link dropped";
        case LinkEnd::NotConnected: return "the application did not connect";
        case LinkEnd::AppClosed: return "the application closed the data socket";
    }
    return "?";
}

DataLink::DataLink(vgps::RunLoop* loop, EpochSource source, LinkOptions options, std::function<void(LinkEnd)> on_end)
    : loop_(loop), source_(std::move(source)), options_(std::move(options)), on_end_(std::move(on_end)) {
    if (options_.speed > 0) {
        // At most a day between epochs: any slower is a stopped receiver.
        const double seconds = std::min(1.0 / options_.speed, 86400.0);
        interval_ = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }
}

DataLink::~DataLink() { teardown(); }

bool DataLink::open(std::string* error) {
    std::string templ = link_parent_dir() + "/" + kLinkFolderPrefix + "XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) {  // mode 0700
        *error = "mkdtemp " + templ + ": " + std::strerror(errno);
        return false;
    }
    dir_ = templ;
    const std::string socket_path = dir_ + "/rfcomm";

    switch (options_.faults.socket_path) {
        case SocketPathFault::None:
            listen_fd_ = vgps::listen_local(socket_path, 1, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (listen_fd_ < 0) {
                *error = "cannot listen on " + socket_path + ": " + std::strerror(errno);
                teardown();
                return false;
            }
            socket_file_ = socket_path;
            listen_source_ = loop_->add_source(listen_fd_, [this] { on_accept(); });
            path_ = socket_path;
            break;
        case SocketPathFault::Missing:
            path_ = socket_path;
            break;
        case SocketPathFault::Refused:
            // Bound but never listening: connecting to it is refused.
            listen_fd_ = vgps::listen_local(socket_path, vgps::kBindOnly, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (listen_fd_ < 0) {
                *error = "cannot bind " + socket_path + ": " + std::strerror(errno);
                teardown();
                return false;
            }
            socket_file_ = socket_path;
            path_ = socket_path;
            break;
        case SocketPathFault::Long:
            path_ = dir_ + "/" + std::string(std::max<size_t>(8, vgps::kMaxLocalSocketPath + 8 - dir_.size()), 'l');
            break;
    }
    accept_timer_ = loop_->add_timer(std::chrono::milliseconds(options_.accept_timeout_ms), [this] {
        accept_timer_ = 0;
        finish(LinkEnd::NotConnected);
    });
    return true;
}

void DataLink::on_accept() {
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;  // the peer gave up already
    // One connection per link: nobody else gets in.
    loop_->remove_source(listen_source_);
    listen_source_ = 0;
    ::close(listen_fd_);
    listen_fd_ = -1;
    loop_->cancel_timer(accept_timer_);
    accept_timer_ = 0;

    data_fd_ = fd;
    data_source_ = loop_->add_source(data_fd_, [this] { on_data_readable(); });
    VLOG("data socket %s connected", path_.c_str());
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
    if (accept_timer_) loop_->cancel_timer(accept_timer_);
    if (pump_timer_) loop_->cancel_timer(pump_timer_);
    accept_timer_ = pump_timer_ = 0;
    if (listen_source_) loop_->remove_source(listen_source_);
    if (data_source_) loop_->remove_source(data_source_);
    listen_source_ = data_source_ = 0;
    // The files go first: by the time the application sees the end of the
    // stream, nothing of the link is left on disk.
    if (!socket_file_.empty()) ::unlink(socket_file_.c_str());
    socket_file_.clear();
    if (!dir_.empty() && ::rmdir(dir_.c_str()) != 0) VLOG("cannot remove %s: %s", dir_.c_str(), std::strerror(errno));
    dir_.clear();
    if (listen_fd_ >= 0) ::close(listen_fd_);
    if (data_fd_ >= 0) ::close(data_fd_);
    listen_fd_ = data_fd_ = -1;
    writes_.clear();
}

}  // namespace vexod
