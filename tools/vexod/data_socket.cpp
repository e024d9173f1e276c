#include "data_socket.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/fd.h"
#include "vexod_log.h"

namespace vexod {
namespace {

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
        case LinkEnd::DeviceClosed: return "the device closed the link";
    }
    return "?";
}

DataSocket::DataSocket(vgps::RunLoop* loop, DataSocketOptions options, std::function<void(int fd)> on_connected)
    : loop_(loop), options_(options), on_connected_(std::move(on_connected)) {}

DataSocket::~DataSocket() { remove(); }

void DataSocket::fail(std::string* error, const std::string& what, const std::string& path) {
    *error = what + " " + path + ": " + std::strerror(errno);
    remove();
}

bool DataSocket::open(std::string* error, Make make) {
    std::string templ = link_parent_dir() + "/" + kLinkFolderPrefix + "XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) {  // mode 0700
        fail(error, "mkdtemp", templ);
        return false;
    }
    dir_ = templ;
    const std::optional<gid_t> group = options_.group;
    // The group may pass through the folder to the socket, not list it.
    if (group && (::chown(dir_.c_str(), static_cast<uid_t>(-1), *group) != 0 || ::chmod(dir_.c_str(), 0710) != 0)) {
        fail(error, "cannot give the group access to", dir_);
        return false;
    }
    const std::string socket_path = dir_ + "/" + kLinkSocketName;
    path_ = socket_path;
    if (make == Make::LongPath) {
        path_ = dir_ + "/" + std::string(std::max<size_t>(8, vgps::kMaxLocalSocketPath + 8 - dir_.size()), 'l');
    }
    if (make == Make::Listening || make == Make::BoundOnly) {
        const char* what = make == Make::Listening ? "cannot listen on" : "cannot bind";
        // Nobody can connect before listen(): the mode is right by then.
        listen_fd_ = vgps::listen_local(socket_path, vgps::kBindOnly, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (listen_fd_ < 0) {
            fail(error, what, socket_path);
            return false;
        }
        socket_file_ = socket_path;
        if (group && (::chown(socket_path.c_str(), static_cast<uid_t>(-1), *group) != 0 ||
                      ::chmod(socket_path.c_str(), 0660) != 0)) {
            fail(error, "cannot give the group access to", socket_path);
            return false;
        }
        if (make == Make::Listening) {
            if (::listen(listen_fd_, 1) != 0) {
                fail(error, what, socket_path);
                return false;
            }
            listen_source_ = loop_->add_source(listen_fd_, [this] { on_accept(); });
        }
    }
    accept_timer_ = loop_->add_timer(options_.accept_timeout, [this] {
        accept_timer_ = 0;
        // The callback may destroy this socket: it runs from a copy, and
        // nothing here is touched after it.
        auto on_connected = on_connected_;
        on_connected(-1);
    });
    return true;
}

void DataSocket::on_accept() {
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;  // the peer gave up already
    // One connection per link: nobody else gets in.
    loop_->remove_source(listen_source_);
    listen_source_ = 0;
    ::close(listen_fd_);
    listen_fd_ = -1;
    loop_->cancel_timer(accept_timer_);
    accept_timer_ = 0;
    VLOG("data socket %s connected", path_.c_str());
    auto on_connected = on_connected_;
    on_connected(fd);
}

void DataSocket::remove() {
    if (accept_timer_) loop_->cancel_timer(accept_timer_);
    accept_timer_ = 0;
    if (listen_source_) loop_->remove_source(listen_source_);
    listen_source_ = 0;
    if (!socket_file_.empty()) ::unlink(socket_file_.c_str());
    socket_file_.clear();
    if (!dir_.empty() && ::rmdir(dir_.c_str()) != 0) VLOG("cannot remove %s: %s", dir_.c_str(), std::strerror(errno));
    dir_.clear();
    if (listen_fd_ >= 0) ::close(listen_fd_);
    listen_fd_ = -1;
}

}  // namespace vexod
