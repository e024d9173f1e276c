#include "platform/fd.h"

#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace vgps {
namespace {

// The milliseconds poll() may wait before `deadline`: -1 for none, 0 once
// it has passed, rounded up so that a wait never ends early.
int poll_timeout(Deadline deadline) {
    if (deadline == kNoDeadline) return -1;
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= left.zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > 1000 * 1000 * 1000 ? 1000 * 1000 * 1000 : static_cast<int>(ms);
}

// Closes `fd` keeping errno, and gives -1.
int fail_closing(int fd) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
}

template <typename Write>
size_t write_loop(int fd, const void* bytes, size_t length, Deadline deadline, Write write_some) {
    const auto* p = static_cast<const char*>(bytes);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = write_some(fd, p + done, length - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int r = wait_fd(fd, POLLOUT, deadline);
            if (r == 0) errno = ETIMEDOUT;
            if (r <= 0) break;
            continue;
        }
        if (n == 0) errno = EIO;  // a write that takes nothing would loop for ever
        break;
    }
    return done;
}

}  // namespace

bool local_address(std::string_view path, sockaddr_un* out) {
    std::memset(out, 0, sizeof *out);
    out->sun_family = AF_UNIX;
    if (path.size() > kMaxLocalSocketPath) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(out->sun_path, path.data(), path.size());
    out->sun_path[path.size()] = '\0';
    return true;
}

int connect_local(std::string_view path, int type_flags) {
    sockaddr_un address;
    if (!local_address(path, &address)) return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | type_flags, 0);
    if (fd < 0) return -1;
    int r;
    do {
        r = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (r != 0 && errno == EINTR);
    return r == 0 ? fd : fail_closing(fd);
}

int listen_local(std::string_view path, int backlog, int type_flags) {
    sockaddr_un address;
    if (!local_address(path, &address)) return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | type_flags, 0);
    if (fd < 0) return -1;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return fail_closing(fd);
    if (backlog >= 0 && ::listen(fd, backlog) != 0) return fail_closing(fd);
    return fd;
}

bool local_peer_uid(int fd, uid_t* uid) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return false;
    if (length != sizeof credentials) {
        errno = EPROTO;
        return false;
    }
    *uid = credentials.uid;
    return true;
}

std::string user_text(uid_t uid) {
    std::string text = "uid " + std::to_string(uid);
    passwd entry;
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr && found->pw_name[0] != '\0') {
        text += " (";
        text += found->pw_name;
        text += ')';
    }
    return text;
}

int wait_fd(int fd, short events, Deadline deadline) { return wait_fd(fd, events, deadline, -1); }

int wait_fd(int fd, short events, Deadline deadline, int interrupt_fd) {
    for (;;) {
        pollfd p[2] = {{fd, events, 0}, {interrupt_fd, POLLIN, 0}};
        const int r = ::poll(p, interrupt_fd >= 0 ? 2 : 1, poll_timeout(deadline));
        if (r > 0) {
            if (interrupt_fd >= 0 && p[1].revents != 0) return kWaitInterrupted;
            return p[0].revents;
        }
        if (r == 0) {
            // poll() may come back a little early: only the clock says
            // whether the deadline has passed.
            if (deadline == kNoDeadline || std::chrono::steady_clock::now() >= deadline) return 0;
            continue;
        }
        if (errno != EINTR) return -1;
    }
}

size_t send_all(int fd, const void* bytes, size_t length, Deadline deadline) {
    return write_loop(fd, bytes, length, deadline,
                      [](int s, const char* p, size_t n) { return ::send(s, p, n, MSG_NOSIGNAL); });
}

size_t write_all(int fd, const void* bytes, size_t length, Deadline deadline) {
    return write_loop(fd, bytes, length, deadline, [](int s, const char* p, size_t n) { return ::write(s, p, n); });
}

void ignore_sigpipe() {
    struct sigaction sa {};
    sa.sa_handler = SIG_IGN;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGPIPE, &sa, nullptr);
}

}  // namespace vgps
