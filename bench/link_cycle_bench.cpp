// Data links made and ended over and over, as a user taps a receiver, reads
// a few positions and leaves: the daemon manager against the vexod daemon
// at speed 0, one cycle per iteration (service search, RFCOMM connect, data
// socket, three position notifications, disconnectFromDevice, notification
// 31). Besides the time per cycle it reports the open descriptors and the
// resident memory of this process (app_*) and of vexod (vexod_*) after the
// first cycle, the middle one and the last: nothing may grow with the
// number of links.
//
//   ./build/release/bench/link_cycle_bench                           (1,000 cycles)
//   VGPS_LINK_CYCLES=10000 ./build/release/bench/link_cycle_bench
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench_vexod.h"
#include "link/DaemonManager.h"
#include "platform/log.h"
#include "platform/notification_center.h"
#include "platform/run_loop.h"
#include "registry/BTDevice.h"

namespace {

using namespace std::chrono_literals;

// Open descriptors of a process (its /proc/<pid>/fd, less the one reading it
// when it is this process).
double descriptors(const std::string& pid) {
    DIR* d = ::opendir(("/proc/" + pid + "/fd").c_str());
    if (d == nullptr) return -1;
    double n = 0;
    while (dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') ++n;
    ::closedir(d);
    return pid == "self" ? n - 1 : n;
}

// Resident memory of a process in KiB (/proc/<pid>/statm).
double resident_kib(const std::string& pid) {
    FILE* f = std::fopen(("/proc/" + pid + "/statm").c_str(), "r");
    if (f == nullptr) return -1;
    long size = 0, resident = 0;
    const int got = std::fscanf(f, "%ld %ld", &size, &resident);
    std::fclose(f);
    return got == 2 ? static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1024 : -1;
}

void BM_LinkCycle(benchmark::State& state) {
    vgps::bench::Vexod vexod(R"({"link": {"speed": 0}, "devices": [{"address": "00:1c:88:30:5e:01",
        "search_delay_ms": 0, "connect_delay_ms": 0, "services": [{"name": "GPS", "rfcomm_channel": 1}]}]})");
    if (!vexod.running()) {
        state.SkipWithError("cannot start vexod");
        return;
    }
    vgps::set_log_sink([](std::string_view) {});
    vgps::RunLoop* loop = vgps::RunLoop::main();
    vgps::DaemonManager* manager = vgps::DaemonManager::sharedManager();
    manager->setDaemonSocketPath(vexod.socket_path());
    uint64_t positions = 0;
    const auto observer = vgps::NotificationCenter::defaultCenter()->addObserver(
        vgps::kPositionNotificationName, [&](const vgps::Notification&) { ++positions; });
    const vgps::bdaddr address{{0x00, 0x1c, 0x88, 0x30, 0x5e, 0x01}};
    const vgps::BTDevice device(std::nullopt, 0x001f00, std::nullopt, &address);
    if (!manager->connectToDaemon()) {
        state.SkipWithError("no daemon connection");
    } else {
        const std::string vexod_pid = std::to_string(vexod.pid());
        int64_t cycle = 0;
        for (auto _ : state) {
            const uint64_t before = positions;
            manager->connectToDevice(device);
            if (!loop->run_until([&] { return manager->state() == vgps::DaemonStateLinked && positions >= before + 3; },
                                 5s)) {
                state.SkipWithError("no data link");
                break;
            }
            manager->disconnectFromDevice();
            if (!loop->run_until([&] { return manager->state() == vgps::DaemonStateConnected; }, 5s)) {
                state.SkipWithError("the data link did not end");
                break;
            }
            ++cycle;
            if (cycle == 1 || cycle == state.max_iterations / 2 || cycle == state.max_iterations) {
                const std::string at = "_" + std::to_string(cycle);
                state.counters["app_fds" + at] = descriptors("self");
                state.counters["app_rss_kib" + at] = resident_kib("self");
                state.counters["vexod_fds" + at] = descriptors(vexod_pid);
                state.counters["vexod_rss_kib" + at] = resident_kib(vexod_pid);
            }
        }
        manager->shutdownDaemon();
    }
    vgps::NotificationCenter::defaultCenter()->removeObserver(observer);
    vgps::set_log_sink({});
}
}  // namespace

int main(int argc, char** argv) {
    const char* cycles = std::getenv("VGPS_LINK_CYCLES");
    benchmark::RegisterBenchmark("BM_LinkCycle", BM_LinkCycle)
        ->Iterations(cycles != nullptr ? std::max(2LL, std::atoll(cycles)) : 1000)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
