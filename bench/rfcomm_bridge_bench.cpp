// The RFCOMM bridge of the real radio moving a receiver's stream to the
// application: a thread plays the receiver, writing 4 KiB blocks into one
// end of a socket pair (standing in for the RFCOMM socket) as fast as it
// can; another plays the application, reading the data socket; the bridge
// runs on the benchmark thread's run loop. Bytes per second through the
// bridge, for the default buffer of 64 KiB and a small one of 4 KiB. A real
// RFCOMM link carries at most a few hundred KiB/s, a GPS receiver about
// 1 KiB/s.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "bluez/rfcomm_bridge.h"
#include "platform/log.h"
#include "platform/run_loop.h"

namespace {

using namespace std::chrono_literals;
using vexod::LinkEnd;
using vexod::bluez::BridgeOptions;
using vexod::bluez::RfcommBridge;

constexpr size_t kBytesPerRun = 64 << 20;

void BM_ReceiverToApplication(benchmark::State& state) {
    vgps::set_log_sink([](std::string_view) {});
    const size_t buffer = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        vgps::RunLoop loop;
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
            state.SkipWithError("socketpair");
            return;
        }
        ::fcntl(fds[0], F_SETFL, O_NONBLOCK);  // the bridge's end, as an RFCOMM socket opened non-blocking
        bool ended = false;
        RfcommBridge bridge(&loop, fds[0], BridgeOptions{.buffer_bytes = buffer},
                            [&](LinkEnd, int) { ended = true; });
        std::string error;
        if (!bridge.open(&error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        const int app = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, bridge.path().c_str(), sizeof addr.sun_path - 1);
        if (::connect(app, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            state.SkipWithError("connect");
            return;
        }
        std::atomic<size_t> received{0};
        std::thread receiver([fd = fds[1]] {
            const std::string block(4096, 'x');
            for (size_t sent = 0; sent < kBytesPerRun; sent += block.size()) {
                if (::send(fd, block.data(), block.size(), MSG_NOSIGNAL) != ssize_t(block.size())) break;
            }
            ::close(fd);
        });
        std::thread application([app, &received] {
            char in[65536];
            for (;;) {
                const ssize_t n = ::read(app, in, sizeof in);
                if (n <= 0) break;
                received += static_cast<size_t>(n);
            }
            ::close(app);
        });
        loop.run_until([&] { return ended; }, 60000ms);
        receiver.join();
        application.join();
        if (received != kBytesPerRun) state.SkipWithError("bytes lost");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytesPerRun));
    vgps::set_log_sink({});
}
BENCHMARK(BM_ReceiverToApplication)->Arg(64 * 1024)->Arg(4 * 1024)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
