// Cost of serving one daemon notification: reading the frame from a real
// socket, checking it, copying its text fields and running the handler.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "link/vexod_notify.h"
#include "link/vexod_wire.h"
#include "platform/log.h"

namespace {

// A name-complete notification (function 29) with a name of `state.range(0)`
// bytes; no manager is installed, so the handler only logs.
void BM_ServeNameComplete(benchmark::State& state) {
    vgps::set_log_sink([](std::string_view) {});
    int fds[2];
    ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
    const std::string name(static_cast<size_t>(state.range(0)), 'n');
    const auto frame =
        vgps::vexod_frame(vgps::vexod_name_complete_msg{{{1, 2, 3, 4, 5, 6}}, vgps::vexod_bytes(name), 0});
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
