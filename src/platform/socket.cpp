#include "platform/socket.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fd.h"

namespace vgps {

std::unique_ptr<Socket> Socket::create(int family, int type, int protocol, uint32_t callback_types,
                                       SocketCallBack callback, void* info) {
    const int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) return nullptr;
    return std::unique_ptr<Socket>(new Socket(fd, callback_types, callback, info));
}

Socket::Socket(int fd, uint32_t callback_types, SocketCallBack callback, void* info)
    : fd_(fd), callback_types_(callback_types), callback_(callback), info_(info) {}

Socket::~Socket() { invalidate(); }

void Socket::schedule(RunLoop* loop) {
    if (!valid_ || loop_ != nullptr || loop == nullptr) return;
    loop_ = loop;
    if ((callback_types_ & kSocketReadCallBack) && callback_ != nullptr) {
        source_ = loop_->add_source(fd_, [this] { on_readable(); });
    }
}

void Socket::on_readable() {
    // Without automatic re-enabling the callback is one-shot until
    // enable_read_callback(). That is decided before the call: the callback
    // may invalidate and destroy this object, which must not be touched
    // after it returns.
    if (!(flags_ & kSocketAutomaticallyReenableReadCallBack)) loop_->set_source_enabled(source_, false);
    callback_(this, kSocketReadCallBack, nullptr, nullptr, info_);
}

void Socket::enable_read_callback() {
    if (valid_ && loop_ != nullptr && source_ != 0) loop_->set_source_enabled(source_, true);
}

SocketError Socket::connect_to_address(const sockaddr* address, socklen_t length, double timeout) {
    if (!valid_) {
        errno = EBADF;
        return kSocketError;
    }
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0) return kSocketError;
    if (!(flags & O_NONBLOCK)) ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    auto restore = [&] {
        if (!(flags & O_NONBLOCK)) {
            const int saved = errno;
            ::fcntl(fd_, F_SETFL, flags);
            errno = saved;
        }
    };

    int r;
    do {
        r = ::connect(fd_, address, length);
    } while (r < 0 && errno == EINTR);
    if (r == 0) {
        restore();
        return kSocketSuccess;
    }
    if (errno != EINPROGRESS || timeout < 0) {
        restore();
        return kSocketError;
    }

    const Deadline deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<Deadline::duration>(std::chrono::duration<double>(timeout));
    const int ready = wait_fd(fd_, POLLOUT, deadline);
    int error = 0;
    if (ready > 0) {
        socklen_t len = sizeof error;
        ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len);
    }
    restore();
    if (ready < 0) return kSocketError;
    if (ready == 0) {
        errno = ETIMEDOUT;
        return kSocketTimeout;
    }
    if (error != 0) {
        errno = error;
        return kSocketError;
    }
    return kSocketSuccess;
}

void Socket::invalidate() {
    if (!valid_) return;
    valid_ = false;
    if (loop_ != nullptr && source_ != 0) loop_->remove_source(source_);
    source_ = 0;
    if (flags_ & kSocketCloseOnInvalidate) ::close(fd_);
}

}  // namespace vgps
