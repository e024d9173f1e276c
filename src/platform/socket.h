// Socket objects of the run loop: a stream socket whose readability is
// reported by calling a given function on the main run loop, a connect with
// a time-out, access to the native descriptor, flags, and invalidation,
// which unregisters the socket and closes it as the flags say.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/run_loop.h"

namespace vgps {

class Socket;

// Callback types. Only the read callback is used by this system.
enum SocketCallBackType : uint32_t {
    kSocketNoCallBack = 0,
    kSocketReadCallBack = 1,
};

// Flags. The default is both: the read callback comes again after each call
// while data remains, and invalidation closes the descriptor.
enum SocketFlags : uint32_t {
    kSocketAutomaticallyReenableReadCallBack = 1,
    kSocketCloseOnInvalidate = 128,
};

// Called on the run loop's thread with the socket, the callback type, and
// two values this system does not use (always null), plus the context.
using SocketCallBack = void (*)(Socket* s, uint32_t type, const void* address, const void* data, void* info);

// Result of connect_to_address.
enum SocketError : int {
    kSocketSuccess = 0,
    kSocketError = -1,    // errno tells why
    kSocketTimeout = -2,  // errno is ETIMEDOUT
};

class Socket {
public:
    // Makes a socket of the given family, type and protocol whose callback
    // is called for the types in `callback_types`. Null when the socket
    // cannot be made (errno tells why).
    static std::unique_ptr<Socket> create(int family, int type, int protocol, uint32_t callback_types,
                                          SocketCallBack callback, void* info);
    ~Socket();  // invalidates
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Registers the socket with a run loop. Once only; a later call with
    // another loop is ignored.
    void schedule(RunLoop* loop);

    // Connects the socket to `address`, waiting at most `timeout` seconds
    // (a negative time-out does not wait for a connection in progress).
    // The descriptor's blocking mode is what it was before the call.
    SocketError connect_to_address(const sockaddr* address, socklen_t length, double timeout);

    int native() const { return fd_; }
    uint32_t flags() const { return flags_; }
    void set_flags(uint32_t flags) { flags_ = flags; }
    // Re-arms the read callback after a call when automatic re-enabling is
    // off.
    void enable_read_callback();

    bool valid() const { return valid_; }
    // Unregisters the socket from its run loop and, with
    // kSocketCloseOnInvalidate, closes the descriptor. Idempotent.
    void invalidate();

private:
    Socket(int fd, uint32_t callback_types, SocketCallBack callback, void* info);
    void on_readable();

    int fd_;
    uint32_t callback_types_;
    SocketCallBack callback_;
    void* info_;
    uint32_t flags_ = kSocketAutomaticallyReenableReadCallBack | kSocketCloseOnInvalidate;
    bool valid_ = true;
    RunLoop* loop_ = nullptr;
    RunLoop::SourceId source_ = 0;
};

}  // namespace vgps
