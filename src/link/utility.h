// Descriptor routines under the daemon protocol: whole writes and reads on
// non-blocking sockets, with the log lines the protocol's users know.
#pragma once

#include <cstdint>

namespace vgps {

// How long a read waits for the next byte before giving up. A daemon that
// never answers must not block the application for ever: a wait that runs
// out fails like a short read.
inline constexpr int kReadTimeoutMs = 5000;

// Adds O_NONBLOCK. 1 when the descriptor is now non-blocking, 0 otherwise.
int set_nonblocking(int fd);

// Writes all `length` bytes of a socket, waiting for writability when it is
// full. Returns `length`, or -1 on failure (logged). A peer that has gone
// gives EPIPE, never SIGPIPE.
int writen(int fd, const void* bytes, int32_t length);

// Reads exactly `count` bytes, waiting for readability when none are there.
// Returns `count`, or -1 when the peer closed, a read failed, or no byte
// arrived for the read time-out.
int readn(int fd, void* buffer, uint32_t count);
// The same, waiting for readability before the first read: for an answer
// that cannot have arrived yet, it saves a read that would find nothing.
int readn_awaiting(int fd, void* buffer, uint32_t count);

// The read time-out in milliseconds (kReadTimeoutMs unless changed; tests
// shorten it).
int read_timeout_ms();
void set_read_timeout_ms(int ms);

}  // namespace vgps
