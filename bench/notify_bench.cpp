// Cost of serving one daemon notification: reading the frame from a real
// socket, checking it, copying its text fields and running the handler.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/vexod_notify.h"
#include "link/vexod_rpc1.h"
#include "platform/log.h"

namespace {

std::vector<uint8_t> notification(uint32_t funcid, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> f(20 + payload.size());
    vgps::vexod_header_store(f.data(), {vgps::VEXOD_MAGIC, static_cast<uint32_t>(f.size()), 0, 0, funcid});
    std::memcpy(f.data() + 20, payload.data(), payload.size());
    return f;
}

void append32(std::vector<uint8_t>& v, uint32_t x) {
    uint8_t b[4];
    vgps::put_le32(b, x);
    v.insert(v.end(), b, b + 4);
}

// A name-complete notification (function 29) with a name of `state.range(0)`
// bytes; no manager is installed, so the handler only logs.
void BM_ServeNameComplete(benchmark::State& state) {
    vgps::set_log_sink([](std::string_view) {});
    int fds[2];
    ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
    const std::string name(static_cast<size_t>(state.range(0)), 'n');
    std::vector<uint8_t> p = {1, 2, 3, 4, 5, 6};
    append32(p, static_cast<uint32_t>(name.size()));
    append32(p, 0);
    p.insert(p.end(), name.begin(), name.end());
    const auto frame = notification(29, p);
    for (auto _ : state) {
        if (::write(fds[1], frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) state.SkipWithError("write");
        benchmark::DoNotOptimize(vgps::vexod_rpc_serve(fds[0]));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame.size()));
    ::close(fds[0]);
    ::close(fds[1]);
    vgps::set_log_sink({});
}
BENCHMARK(BM_ServeNameComplete)->Arg(8)->Arg(248)->Arg(4096);

}  // namespace

BENCHMARK_MAIN();
