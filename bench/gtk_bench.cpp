// The GTK front-end's cost of a position: from the position handler's
// changes (the labels, the map cell's region and pin) to the frame GTK draws
// with them, on the inspector with the map, positions coming as a receiver
// sends them (the window idle in between). Needs a display:
//   xvfb-run -a env GSK_RENDERER=cairo ./build/release/bench/gtk_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

#include "frontend/gtk/GtkFrontEnd.h"
#include "frontend/gtk/dev/gallery_screens.h"
#include "platform/run_loop.h"

namespace {

using namespace vgps;
using Clock = std::chrono::steady_clock;

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

void BM_PositionToFrame(benchmark::State& state) {
    std::string error;
    if (!gtk_front_end_init(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    RunLoop loop;
    UIApplication app(&loop);
    gallery::Gallery gallery(&app);
    GtkFrontEndOptions options;
    options.offline = true;
    auto front = GtkFrontEnd::open(&app, options, &error);
    if (!front) {
        state.SkipWithError(error.c_str());
        return;
    }
    gallery.pushInspector();
    front->settle(std::chrono::seconds(5));

    std::vector<double> latencies, cpu;
    int step = 0;
    for (auto _ : state) {
        // The window idle, as between two positions of a receiver.
        loop.run_until([] { return false; }, std::chrono::milliseconds(40));
        ++step;
        const uint64_t frames = front->framesDrawn();
        const auto start = Clock::now();
        const double cpuStart = cpu_seconds();
        gallery.showPosition(48.117302 + step * 1e-5, 11.516666 + step * 1e-5, 3, "12:00:00");
        loop.run_until([&] { return front->framesDrawn() > frames; }, std::chrono::seconds(5));
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        latencies.push_back(seconds * 1e3);
        cpu.push_back((cpu_seconds() - cpuStart) * 1e3);
    }
    state.counters["p50_ms"] = percentile(latencies, 0.5);
    state.counters["p99_ms"] = percentile(latencies, 0.99);
    state.counters["cpu_ms_per_position"] = percentile(cpu, 0.5);
}
BENCHMARK(BM_PositionToFrame)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
