// Descriptors and local sockets: local socket addresses with their length
// check, connecting and listening on a path, the user at the other end of a
// local socket, waiting for a descriptor with a deadline, writing every
// byte, and keeping SIGPIPE from ending the process. Plain POSIX; nothing
// here logs.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace vgps {

// Longest path a local socket address holds, without its terminating zero.
inline constexpr size_t kMaxLocalSocketPath = sizeof(sockaddr_un::sun_path) - 1;

// Fills `out` (zeroed first) with the family AF_UNIX and `path` with its
// terminating zero. False, with errno ENAMETOOLONG, when the path does not
// fit: a path is never cut short to another one.
bool local_address(std::string_view path, sockaddr_un* out);

// A local stream socket connected to `path` (a blocking connect), made with
// the extra type flags given (SOCK_CLOEXEC, SOCK_NONBLOCK). -1 with errno
// set when it cannot be made or connected.
int connect_local(std::string_view path, int type_flags = SOCK_CLOEXEC);

// A local stream socket bound to `path` and, with a backlog of 0 or more,
// listening. -1 with errno set on failure (nothing is left open).
inline constexpr int kBindOnly = -1;
int listen_local(std::string_view path, int backlog, int type_flags = SOCK_CLOEXEC);

// The user id of the process at the other end of a connected local socket,
// as it was when the connection was made (for the connecting side: when the
// peer started listening). False, with errno set, when the socket carries
// no credentials (not a local socket).
bool local_peer_uid(int fd, uid_t* uid);
// "uid 65534 (nobody)", or "uid 1234" for a user without a name.
std::string user_text(uid_t uid);

// Waits on descriptors end at a point of the steady clock.
using Deadline = std::chrono::steady_clock::time_point;
inline constexpr Deadline kNoDeadline = Deadline::max();
inline Deadline deadline_after(std::chrono::milliseconds wait) { return std::chrono::steady_clock::now() + wait; }

// Waits until `fd` reports one of `events` (poll flags; errors and hang-ups
// are always reported), across interruptions. The events seen; 0 when the
// deadline passed first; -1 when the wait itself failed (errno).
int wait_fd(int fd, short events, Deadline deadline);
// The same, ending early, with kWaitInterrupted, as soon as `interrupt_fd`
// is readable (nothing is read from it; -1 watches nothing): a wait that
// must give way to a stop request watches the stop-signal pipe this way.
inline constexpr int kWaitInterrupted = -2;
int wait_fd(int fd, short events, Deadline deadline, int interrupt_fd);

// Writes all `length` bytes, continuing after partial writes and
// interruptions and waiting for writability while the descriptor is full.
// Returns the number of bytes written: `length`, or fewer when a write
// failed (errno) or the deadline passed (errno ETIMEDOUT).
// send_all is for sockets: a peer that has gone gives EPIPE, never SIGPIPE.
size_t send_all(int fd, const void* bytes, size_t length, Deadline deadline = kNoDeadline);
// write_all takes any descriptor (files, pipes, terminals).
size_t write_all(int fd, const void* bytes, size_t length, Deadline deadline = kNoDeadline);

// Ignores SIGPIPE for the whole process, for programs in which a library
// writes to sockets without MSG_NOSIGNAL. The project's own sends use
// send_all and need no such call.
void ignore_sigpipe();

}  // namespace vgps
