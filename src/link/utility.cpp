#include "link/utility.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/log.h"

namespace vgps {
namespace {

std::atomic<int> g_read_timeout_ms{kReadTimeoutMs};

// Waits for readability up to `timeout_ms`, across interruptions. True when
// something can be read (data, end of stream or an error to collect).
bool wait_for_read(int fd, int timeout_ms) {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
        if (left.count() < 0) return false;
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r > 0) return true;
        if (r == 0) return false;
        if (errno != EINTR) return true;  // let read() report the error
    }
}

}  // namespace

int read_timeout_ms() { return g_read_timeout_ms.load(std::memory_order_relaxed); }
void set_read_timeout_ms(int ms) { g_read_timeout_ms.store(ms, std::memory_order_relaxed); }

int set_nonblocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return 0;
    if (::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        log_error("<%s> fcntl(): %s", "set_nonblocking", std::strerror(errno));
        return 0;
    }
    return 1;
}

void wait_for_write(int fd) {
    // poll() rather than select(): select() cannot watch descriptors at or
    // above FD_SETSIZE. The log text stays the one people know.
    for (;;) {
        pollfd p{fd, POLLOUT, 0};
        int r = ::poll(&p, 1, kWriteWaitMs);
        if (r > 0) return;
        if (r < 0) {
            log_error("<%s> select(): %s\n", "wait_for_write", std::strerror(errno));
            return;
        }
    }
}

int writen(int fd, const void* bytes, int32_t length) {
    const auto* start = static_cast<const uint8_t*>(bytes);
    int32_t left = length;
    while (left > 0) {
        errno = 0;
        ssize_t n = ::write(fd, start + (length - left), static_cast<size_t>(left));
        if (n > 0) {
            left -= static_cast<int32_t>(n);
            continue;
        }
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
            wait_for_write(fd);
            continue;
        }
        log_error("<%s> write(%d, %p, %d): %s\n", "writen", fd, bytes, left, std::strerror(errno));
        return -1;
    }
    return length;
}

int readn(int fd, void* buffer, uint32_t count) {
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t got = 0;
    while (got < count) {
        ssize_t n = ::read(fd, out + got, count - got);
        if (n > 0) {
            got += static_cast<uint32_t>(n);
            continue;
        }
        if (n == 0) {
            log_error("<%s> socket read return 0, disconnected", "readn");
            break;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            const int timeout = read_timeout_ms();
            if (wait_for_read(fd, timeout)) continue;
            log_error("<%s> no data for %d ms, giving up", "readn", timeout);
            break;
        }
        break;
    }
    return got == count ? static_cast<int>(count) : -1;
}

}  // namespace vgps
