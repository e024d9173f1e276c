#include "support/sockets.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vgps::test {

SocketPair::SocketPair() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        ADD_FAILURE() << "socketpair: " << std::strerror(errno);
    }
}

SocketPair::~SocketPair() {
    close_app();
    close_peer();
}

void SocketPair::close_peer() {
    if (fds[1] >= 0) ::close(fds[1]);
    fds[1] = -1;
}

void SocketPair::close_app() {
    if (fds[0] >= 0) ::close(fds[0]);
    fds[0] = -1;
}

int listen_unix(const std::string& path) {
    sockaddr_un a{};
    if (path.size() >= sizeof a.sun_path) return -1;
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

Bytes read_exact(int fd, size_t n) {
    Bytes out(n);
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::read(fd, out.data() + got, n - got);
        if (r > 0) {
            got += static_cast<size_t>(r);
        } else if (r < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, 1000);
        } else {
            break;
        }
    }
    out.resize(got);
    return out;
}

bool write_all(int fd, const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t w = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (w > 0) {
            done += static_cast<size_t>(w);
        } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 1000);
        } else {
            return false;
        }
    }
    return true;
}

void put32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t get32(const Bytes& in, size_t at) {
    return static_cast<uint32_t>(in.at(at)) | static_cast<uint32_t>(in.at(at + 1)) << 8 |
           static_cast<uint32_t>(in.at(at + 2)) << 16 | static_cast<uint32_t>(in.at(at + 3)) << 24;
}

Bytes le32(uint32_t v) {
    Bytes out;
    put32(out, v);
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes frame(uint32_t funcid, uint32_t msgid, uint32_t resp, const Bytes& payload, uint32_t magic,
            int64_t msgsize) {
    Bytes out;
    put32(out, magic);
    put32(out, msgsize < 0 ? static_cast<uint32_t>(20 + payload.size()) : static_cast<uint32_t>(msgsize));
    put32(out, resp);
    put32(out, msgid);
    put32(out, funcid);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

size_t open_descriptor_count() {
    size_t n = 0;
    DIR* d = ::opendir("/proc/self/fd");
    if (d == nullptr) return 0;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.') ++n;
    }
    ::closedir(d);
    return n - 1;  // the directory's own descriptor
}

}  // namespace vgps::test
