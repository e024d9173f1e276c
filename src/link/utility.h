// Descriptor routines under the daemon protocol: whole writes and reads on
// non-blocking sockets.
#pragma once

#include <cstdint>

namespace vgps {

// How long a read waits for the next byte before giving up. A daemon that
// never answers must not block the application for ever: a wait that runs
// out fails like a short read.
inline constexpr int kReadTimeoutMs = 5000;

// How long each wait for writability lasts; writen keeps waiting in periods
// of this length while the socket stays full.
inline constexpr int kWriteWaitMs = 5000;

// Adds O_NONBLOCK. 1 when the descriptor is now non-blocking, 0 otherwise.
int set_nonblocking(int fd);

// Writes all `length` bytes, waiting for writability when the socket is
// full. Returns `length`, or -1 on failure (logged).
int writen(int fd, const void* bytes, int32_t length);

// Waits until fd is writable; a failed wait is logged and ends the wait.
void wait_for_write(int fd);

// Reads exactly `count` bytes, waiting for readability when none are there.
// Returns `count`, or -1 when the peer closed, a read failed, or no byte
// arrived for the read time-out.
int readn(int fd, void* buffer, uint32_t count);

// The read time-out in milliseconds (kReadTimeoutMs unless changed; tests
// shorten it).
int read_timeout_ms();
void set_read_timeout_ms(int ms);

}  // namespace vgps
