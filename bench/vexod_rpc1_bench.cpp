// One synchronous request round trip (vexod_get_power_state) against a peer
// thread on a socketpair, beside the raw floor on the same kind of pair: a
// 20-byte write and a 24-byte read with no framing at all.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "link/utility.h"
#include "link/vexod_rpc1.h"
#include "platform/log.h"

namespace {

using namespace vgps;

// The application's end is non-blocking, as the daemon socket is; the peer
// answers every 20-byte request with a 24-byte response echoing its id.
struct Peer {
    int fds[2];
    std::thread thread;

    Peer() {
        ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
        set_nonblocking(fds[0]);
        thread = std::thread([fd = fds[1]] {
            uint8_t req[VEXOD_HEADER_SIZE];
            uint8_t resp[VEXOD_HEADER_SIZE + vexod_fixed_size<vexod_result_msg>()];
            for (;;) {
                size_t got = 0;
                while (got < sizeof req) {
                    ssize_t n = ::read(fd, req + got, sizeof req - got);
                    if (n <= 0) return;
                    got += static_cast<size_t>(n);
                }
                vexod_encode(resp, VEXOD_RESULT_SUCCESS, vexod_header_load(req).msgid, 1, vexod_result_msg{1});
                if (::write(fd, resp, sizeof resp) != sizeof resp) return;
            }
        });
    }
    ~Peer() {
        ::shutdown(fds[0], SHUT_RDWR);
        thread.join();
        ::close(fds[0]);
        ::close(fds[1]);
    }
};

void BM_GetPowerStateRoundTrip(benchmark::State& state) {
    // Requests log one line each; measure the formatting, not the terminal.
    LogSink previous = set_log_sink([](std::string_view) {});
    Peer peer;
    uint32_t power = 0;
    for (auto _ : state) {
        if (vexod_get_power_state(peer.fds[0], &power) != 0) state.SkipWithError("request failed");
        benchmark::DoNotOptimize(power);
    }
    set_log_sink(std::move(previous));
}
BENCHMARK(BM_GetPowerStateRoundTrip)->UseRealTime();

void BM_RawFloor(benchmark::State& state) {
    Peer peer;
    uint8_t req[20] = {};
    uint8_t resp[24];
    const int fd = peer.fds[0];
    for (auto _ : state) {
        if (::write(fd, req, sizeof req) != sizeof req) state.SkipWithError("write failed");
        size_t got = 0;
        while (got < sizeof resp) {
            ssize_t n = ::read(fd, resp + got, sizeof resp - got);
            if (n > 0) {
                got += static_cast<size_t>(n);
            } else {
                pollfd p{fd, POLLIN, 0};
                ::poll(&p, 1, -1);
            }
        }
        benchmark::DoNotOptimize(resp);
    }
}
BENCHMARK(BM_RawFloor)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
