// Descriptor routines under the daemon protocol: whole writes and reads on
// non-blocking sockets, with the log lines the protocol's users know.
#pragma once

#include <cstdint>
#include <string>

#include "platform/fd.h"

namespace vgps {

// How long one whole message may take to arrive, however it trickles in: a
// daemon that never answers, or answers a byte at a time, must not block
// the application for ever.
inline constexpr int kReadTimeoutMs = 5000;

// Whether the process at the other end of the connected local socket `fd`
// may be trusted: it runs as root or as this process's own user (its
// credentials as they were when the connection was made). Otherwise logs,
// under `who`, "refusing WHAT: it runs as uid N (name), neither root nor
// this user (uid M)" (or why its credentials cannot be read) and returns
// false. Any local user can bind a path in /tmp before the daemon does.
bool trusted_local_peer(const char* who, int fd, const std::string& what);

// Adds O_NONBLOCK. 1 when the descriptor is now non-blocking, 0 otherwise.
int set_nonblocking(int fd);

// Writes all `length` bytes of a socket, waiting for writability when it is
// full. Returns `length`, or -1 on failure (logged). A peer that has gone
// gives EPIPE, never SIGPIPE.
int writen(int fd, const void* bytes, int32_t length);

// How a bounded read ended.
enum class ReadEnd {
    Complete,  // every byte arrived
    Closed,    // the peer closed the stream
    Failed,    // a read failed (errno)
    TimedOut,  // the deadline passed first
    Stopped,   // a stop signal came (stop_signals.h)
};

// Reads exactly `count` bytes by `deadline`, waiting for readability when
// none are there; with `awaiting`, the wait comes before the first read
// (for an answer that cannot have arrived yet, it saves a read that would
// find nothing). The waits also end as soon as a stop signal has come.
// Every end but Complete is logged under "readn".
ReadEnd readn_by(int fd, void* buffer, uint32_t count, Deadline deadline, bool awaiting = false);

// Reads exactly `count` bytes within the read time-out. Returns `count`,
// or -1 when the peer closed, a read failed, the time ran out or a stop
// signal came.
int readn(int fd, void* buffer, uint32_t count);
// The same, waiting for readability before the first read.
int readn_awaiting(int fd, void* buffer, uint32_t count);

// The read time-out in milliseconds (kReadTimeoutMs unless changed; tests
// shorten it), and the deadline of a message whose reading starts now.
int read_timeout_ms();
void set_read_timeout_ms(int ms);
Deadline read_deadline();

}  // namespace vgps
