// How fast the vexod daemon feeds a data link that streams as fast as the
// socket allows (speed 0): the application's side reads blocks of at most
// 1023 bytes, as its data socket callback does. Starts the vexod binary
// built beside this program (or $VEXOD_BINARY).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "bench_vexod.h"
#include "link/vexod_wire.h"
#include "platform/fd.h"

namespace {

bool read_all(int fd, uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t r = ::read(fd, p, n);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

// The next frame with this function id (responses and other notifications
// are skipped).
std::vector<uint8_t> next_frame(int fd, uint32_t funcid) {
    for (;;) {
        std::vector<uint8_t> f(20);
        if (!read_all(fd, f.data(), 20)) return {};
        const vgps::vexod_msg_header h = vgps::vexod_header_load(f.data());
        f.resize(h.msgsize);
        if (h.msgsize < 20 || !read_all(fd, f.data() + 20, h.msgsize - 20)) return {};
        if (h.funcid == funcid) return f;
    }
}

void BM_VexodStream(benchmark::State& state) {
    vgps::bench::Vexod vexod(R"({"link": {"speed": 0}, "devices": [{"address": "00:1c:88:30:5e:01",
        "connect_delay_ms": 0, "services": [{"rfcomm_channel": 1}]}]})");
    if (!vexod.running()) {
        state.SkipWithError("cannot start vexod");
        return;
    }
    const int client = vgps::connect_local(vexod.socket_path());
    int data = -1;
    if (client >= 0) {
        const auto request =
            vgps::vexod_frame(vgps::vexod_rfcomm_connect_msg{{{0x00, 0x1c, 0x88, 0x30, 0x5e, 0x01}}, 1, 1},
                              vgps::VEXOD_RFCOMM_CONNECT, 1);
        if (vgps::send_all(client, request.data(), request.size()) == request.size()) {
            const std::vector<uint8_t> frame = next_frame(client, vgps::VEXOD_NOTIFY_RFCOMM_CONNECTED);
            vgps::vexod_rfcomm_connected_msg n;
            if (vgps::vexod_decode(frame.data(), static_cast<uint32_t>(frame.size()), &n) && n.result == 0)
                data = vgps::connect_local(n.path.text());
        }
    }
    if (data < 0) {
        state.SkipWithError("no data link");
    } else {
        char block[1024];
        int64_t bytes = 0;
        for (auto _ : state) {
            const ssize_t r = ::read(data, block, 1023);
            if (r <= 0) {
                state.SkipWithError("the link ended");
                break;
            }
            bytes += r;
        }
        state.SetBytesProcessed(bytes);
        state.counters["blocks/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                        benchmark::Counter::kIsRate);
        ::close(data);
    }
    if (client >= 0) ::close(client);
}
BENCHMARK(BM_VexodStream)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
