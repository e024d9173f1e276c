#include "link/utility.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/fd.h"
#include "platform/log.h"
#include "platform/stop_signals.h"

namespace vgps {
namespace {

std::atomic<int> g_read_timeout_ms{kReadTimeoutMs};

// Waits for readability (or the end of the stream, or an error: the next
// read says which). Nothing when the descriptor is ready, otherwise why the
// wait ended: the deadline, a stop signal, or a failed wait.
std::optional<ReadEnd> wait_readable(int fd, Deadline deadline) {
    if (stop_signal_received() != 0) return ReadEnd::Stopped;
    switch (wait_fd(fd, POLLIN, deadline, stop_signal_descriptor())) {
        case 0: return ReadEnd::TimedOut;
        case kWaitInterrupted: return ReadEnd::Stopped;
        case -1: return ReadEnd::Failed;
        default: return std::nullopt;
    }
}

}  // namespace

int read_timeout_ms() { return g_read_timeout_ms.load(std::memory_order_relaxed); }
void set_read_timeout_ms(int ms) { g_read_timeout_ms.store(ms, std::memory_order_relaxed); }
Deadline read_deadline() { return deadline_after(std::chrono::milliseconds(read_timeout_ms())); }

bool trusted_local_peer(const char* who, int fd, const std::string& what) {
    uid_t peer = 0;
    if (!local_peer_uid(fd, &peer)) {
        log_from(who, "refusing %s: its owner cannot be told: %s", what.c_str(), std::strerror(errno));
        return false;
    }
    const uid_t self = ::geteuid();
    if (peer == 0 || peer == self) return true;
    log_from(who, "refusing %s: it runs as %s, neither root nor this user (uid %u)", what.c_str(),
             user_text(peer).c_str(), static_cast<unsigned>(self));
    return false;
}

int set_nonblocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return 0;
    if (::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        log_from("set_nonblocking", "fcntl(): %s", std::strerror(errno));
        return 0;
    }
    return 1;
}

int writen(int fd, const void* bytes, int32_t length) {
    if (length <= 0) return length;
    const size_t written = send_all(fd, bytes, static_cast<size_t>(length));
    if (written < static_cast<size_t>(length)) {
        log_from("writen", "write(%d, %p, %d): %s\n", fd, bytes, static_cast<int>(length - written),
                 std::strerror(errno));
        return -1;
    }
    return length;
}

ReadEnd readn_by(int fd, void* buffer, uint32_t count, Deadline deadline, bool awaiting) {
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t got = 0;
    bool wait = awaiting;
    while (got < count) {
        if (wait) {
            wait = false;
            const std::optional<ReadEnd> end = wait_readable(fd, deadline);
            if (end == ReadEnd::TimedOut) log_from("readn", "timed out with %u of %u bytes read", got, count);
            if (end == ReadEnd::Stopped) log_from("readn", "stop signal, giving up with %u of %u bytes read", got, count);
            if (end) return *end;
        }
        const ssize_t n = ::read(fd, out + got, count - got);
        if (n > 0) {
            got += static_cast<uint32_t>(n);
            continue;
        }
        if (n == 0) {
            log_from("readn", "socket read return 0, disconnected");
            return ReadEnd::Closed;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            wait = true;
            continue;
        }
        return ReadEnd::Failed;
    }
    return ReadEnd::Complete;
}

int readn(int fd, void* buffer, uint32_t count) {
    return readn_by(fd, buffer, count, read_deadline()) == ReadEnd::Complete ? static_cast<int>(count) : -1;
}

int readn_awaiting(int fd, void* buffer, uint32_t count) {
    return readn_by(fd, buffer, count, read_deadline(), true) == ReadEnd::Complete ? static_cast<int>(count) : -1;
}

}  // namespace vgps
