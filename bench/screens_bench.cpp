// The GPS inspector as the application shows it: the main screen opens it
// when the data link comes up, and it follows each position.
//
// BM_SentenceToInspector: a thread plays the daemon's end of a real data
// socket and writes one RMC sentence with a new position; the time from
// the start of that write to the inspector's latitude label and its map
// holding the new position (median and 99th percentile as counters, in
// microseconds).
// BM_InspectorPositionUpdate: the CPU time of one position notification
// handled by the inspector on screen (labels, map, pin), positions
// alternating so that the map moves every time; ..AndLayout adds the
// toolkit's pass of the turn (layout, the front-end told what changed).
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "inspector_fixture.h"
#include "link/DaemonManager.h"
#include "nmea/info.h"
#include "platform/fd.h"
#include "platform/log.h"
#include "platform/notification_center.h"
#include "platform/run_loop.h"
#include "ui/GPSInspector.h"
#include "ui/MapViewCell.h"
#include "ui/vexod_gps_trialAppDelegate.h"
#include "uikit/UIApplication.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

void BM_SentenceToInspector(benchmark::State& state) {
    Shown shown;
    if (!shown.ok()) {
        state.SkipWithError("no inspector on screen");
        return;
    }
    vgps::MapViewCell* map = shown.map();
    // Told after the inspector (observers are told in the order they came):
    // the labels and the map have taken the position by then.
    Clock::time_point shown_at;
    uint64_t updates = 0;
    const auto observer = shown.center.addObserver(vgps::kPositionNotificationName, [&](const vgps::Notification&) {
        shown_at = Clock::now();
        ++updates;
    });

    std::atomic<uint64_t> go{0};
    std::atomic<bool> quit{false};
    std::atomic<int64_t> written_at{0};
    std::vector<std::string> sentences(10000);
    std::vector<double> minutes(sentences.size());
    for (size_t i = 0; i < sentences.size(); ++i) sentences[i] = rmc(i, &minutes[i]);
    std::thread writer([&] {
        uint64_t seen = 0;
        while (!quit.load()) {
            const uint64_t now = go.load();
            if (now == seen) {
                std::this_thread::yield();
                continue;
            }
            seen = now;
            const std::string& s = sentences[now % sentences.size()];
            written_at.store(Clock::now().time_since_epoch().count());
            vgps::send_all(shown.peer, s.data(), s.size());
        }
    });

    std::vector<double> latencies;
    latencies.reserve(1 << 16);
    uint64_t i = 0;
    bool wrong = false;
    for (auto _ : state) {
        ++i;
        const uint64_t before = updates;
        go.store(i);
        while (updates == before) shown.loop.run_once(1000ms);
        const Clock::time_point start{Clock::duration{written_at.load()}};
        latencies.push_back(std::chrono::duration<double, std::micro>(shown_at - start).count());
        const double lat = vgps::nmea_ndeg2degree(static_cast<float>(4800.0 + minutes[i % minutes.size()]));
        wrong = wrong || std::abs(map->mapView()->centerCoordinate().latitude - lat) > 1e-4;
    }
    quit.store(true);
    writer.join();
    shown.center.removeObserver(observer);
    if (wrong) state.SkipWithError("the map did not follow");

    std::sort(latencies.begin(), latencies.end());
    auto pct = [&](double p) {
        return latencies[std::min(latencies.size() - 1, static_cast<size_t>(p * static_cast<double>(latencies.size())))];
    };
    state.counters["median_us"] = pct(0.5);
    state.counters["p99_us"] = pct(0.99);
}
BENCHMARK(BM_SentenceToInspector)->UseRealTime();

void position_updates(benchmark::State& state, bool layout) {
    Shown shown;
    if (!shown.ok()) {
        state.SkipWithError("no inspector on screen");
        return;
    }
    vgps::nmeaINFO a{}, b{};
    a.fix = b.fix = 3;
    a.lat = 4807.038;
    a.lon = 1131.0;
    b.lat = 4807.138;
    b.lon = 1131.1;
    a.utc = b.utc = vgps::nmeaTIME{111, 8, 15, 12, 8, 0, 0};
    const vgps::Notification first{vgps::kPositionNotificationName, nullptr, vgps::position_user_info(a)};
    const vgps::Notification second{vgps::kPositionNotificationName, nullptr, vgps::position_user_info(b)};
    bool odd = false;
    for (auto _ : state) {
        shown.inspector->nmeaSentencesAvaiable(odd ? first : second);
        if (layout) shown.app.displayIfNeeded();
        odd = !odd;
    }
}

void BM_InspectorPositionUpdate(benchmark::State& state) { position_updates(state, false); }
BENCHMARK(BM_InspectorPositionUpdate);

void BM_InspectorPositionUpdateAndLayout(benchmark::State& state) { position_updates(state, true); }
BENCHMARK(BM_InspectorPositionUpdateAndLayout);

}  // namespace

BENCHMARK_MAIN();
