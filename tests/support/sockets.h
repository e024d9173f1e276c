// Real socket plumbing for tests: connected pairs, blocking exact reads and
// writes on the test's side, and a peer thread that plays the other end.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

namespace vgps::test {

using Bytes = std::vector<uint8_t>;

// A connected AF_UNIX stream pair; both ends closed on destruction unless
// released. fds[0] is the application's end, fds[1] the peer's.
struct SocketPair {
    SocketPair();
    ~SocketPair();
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;

    int app() const { return fds[0]; }
    int peer() const { return fds[1]; }
    void close_peer();

    int fds[2] = {-1, -1};
};

// A listening AF_UNIX stream socket bound to `path`, or -1.
int listen_unix(const std::string& path);
// A local stream socket connected to `path` whose reads give up after 10 s
// of silence; -1 with errno set when it cannot connect.
int connect_unix(const std::string& path);

// Reads exactly n bytes (blocking, polling a non-blocking descriptor);
// returns fewer only when the other side closed.
Bytes read_exact(int fd, size_t n);
// Writes every byte; false when the other side has gone.
bool write_all(int fd, const Bytes& bytes);

// Little-endian numbers of the daemon protocol (vexod_wire.h), for payloads
// written out byte by byte; get32 checks that the bytes are there.
uint32_t get32(const Bytes& in, size_t at);
Bytes le32(uint32_t v);
// The parts one after another.
Bytes concat(std::initializer_list<Bytes> parts);

// A frame with the given header fields and raw payload; msgsize defaults to
// the real size. (Well-formed messages come from vexod_frame.)
Bytes frame(uint32_t funcid, uint32_t msgid, uint32_t resp, const Bytes& payload = {},
            uint32_t magic = 0x12345678, int64_t msgsize = -1);

// How many descriptors this process has open (from /proc/self/fd).
size_t open_descriptor_count();

// Runs `body` on its own thread; joined on destruction.
class PeerThread {
public:
    explicit PeerThread(std::function<void()> body) : thread_(std::move(body)) {}
    ~PeerThread() { join(); }
    void join() {
        if (thread_.joinable()) thread_.join();
    }

private:
    std::thread thread_;
};

}  // namespace vgps::test
