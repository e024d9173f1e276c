#include "link/utility.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/fd.h"
#include "platform/log.h"

namespace vgps {
namespace {

std::atomic<int> g_read_timeout_ms{kReadTimeoutMs};

int read_exactly(int fd, void* buffer, uint32_t count, bool wait_first) {
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t got = 0;
    bool wait = wait_first;
    while (got < count) {
        if (wait) {
            wait = false;
            const int timeout = read_timeout_ms();
            // Readable, at the end of the stream or in error: the read says
            // which.
            if (wait_fd(fd, POLLIN, deadline_after(std::chrono::milliseconds(timeout))) == 0) {
                log_from("readn", "no data for %d ms, giving up", timeout);
                break;
            }
        }
        const ssize_t n = ::read(fd, out + got, count - got);
        if (n > 0) {
            got += static_cast<uint32_t>(n);
            continue;
        }
        if (n == 0) {
            log_from("readn", "socket read return 0, disconnected");
            break;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            wait = true;
            continue;
        }
        break;
    }
    return got == count ? static_cast<int>(count) : -1;
}

}  // namespace

int read_timeout_ms() { return g_read_timeout_ms.load(std::memory_order_relaxed); }
void set_read_timeout_ms(int ms) { g_read_timeout_ms.store(ms, std::memory_order_relaxed); }

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

int readn(int fd, void* buffer, uint32_t count) { return read_exactly(fd, buffer, count, false); }

int readn_awaiting(int fd, void* buffer, uint32_t count) { return read_exactly(fd, buffer, count, true); }

}  // namespace vgps
