#include "support/sockets.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "link/vexod_wire.h"
#include "platform/fd.h"

namespace vgps::test {

SocketPair::SocketPair() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        ADD_FAILURE() << "socketpair: " << std::strerror(errno);
    }
}

SocketPair::~SocketPair() {
    if (fds[0] >= 0) ::close(fds[0]);
    close_peer();
}

void SocketPair::close_peer() {
    if (fds[1] >= 0) ::close(fds[1]);
    fds[1] = -1;
}

int listen_unix(const std::string& path) { return listen_local(path, 4); }

int connect_unix(const std::string& path) {
    const int fd = connect_local(path);
    if (fd < 0) return -1;
    const timeval tv{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
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

bool write_all(int fd, const Bytes& bytes) { return send_all(fd, bytes.data(), bytes.size()) == bytes.size(); }

uint32_t get32(const Bytes& in, size_t at) {
    if (at + 4 > in.size()) throw std::out_of_range("get32 beyond the bytes");
    return get_le32(in.data() + at);
}

Bytes le32(uint32_t v) {
    Bytes out(4);
    put_le32(out.data(), v);
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes frame(uint32_t funcid, uint32_t msgid, uint32_t resp, const Bytes& payload, uint32_t magic, int64_t msgsize) {
    Bytes out(VEXOD_HEADER_SIZE + payload.size());
    const auto size = msgsize < 0 ? static_cast<uint32_t>(out.size()) : static_cast<uint32_t>(msgsize);
    vexod_header_store(out.data(), {magic, size, resp, msgid, funcid});
    std::copy(payload.begin(), payload.end(), out.begin() + VEXOD_HEADER_SIZE);
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
