// The GTK window's part of a position on the GPS inspector with the map
// (offline): from the position notification (the inspector has taken the
// position: labels, map, pin) to the end of the frame GTK draws with it,
// and from the data link's peer writing the RMC sentence to that frame.
// Positions come as a receiver sends them: the window is idle between two.
// Median and 99th percentile as counters, in milliseconds. Needs a display:
//   xvfb-run -a env GSK_RENDERER=cairo ./build/release/bench/gtk_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "frontend/gtk/GtkFrontEnd.h"
#include "inspector_fixture.h"
#include "uikit/UIAlertView.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// An RMC sentence a hundredth of a minute further north for each `i`: the
// latitude travels in single precision (ddmm.mmmm near 4807 is good to
// half a thousandth of a minute), so every sentence is a new position on
// screen.
std::string moving_rmc(uint64_t i) {
    char body[128];
    std::snprintf(body, sizeof body, "GPRMC,120800.00,A,48%07.4f,N,01131.0000,E,022.4,084.4,150911,003.1,W",
                  7.0 + static_cast<double>(i % 5000) * 0.01);
    return sentence(body);
}

void BM_PositionToFrame(benchmark::State& state) {
    std::string error;
    if (!vgps::gtk_front_end_init(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    Shown shown;
    if (!shown.ok()) {
        state.SkipWithError("no inspector on screen");
        return;
    }
    // The notice and the missing daemon's alert, out of the way.
    while (vgps::UIAlertView* alert = shown.app.visibleAlert()) alert->dismissWithClickedButtonIndex_animated(0, false);
    vgps::GtkFrontEndOptions options;
    options.offline = true;
    auto front = vgps::GtkFrontEnd::open(&shown.app, options, &error);
    if (!front || !front->settle(10s)) {
        state.SkipWithError(front ? "the window was not drawn" : error.c_str());
        return;
    }

    Clock::time_point notified;
    bool told = false;
    const auto observer = shown.center.addObserver(vgps::kPositionNotificationName, [&](const vgps::Notification&) {
        notified = Clock::now();
        told = true;
    });
    std::vector<double> fromNotification, fromSentence;
    uint64_t i = 0;
    for (auto _ : state) {
        shown.loop.run_until([] { return false; }, 40ms);  // idle, as between two positions
        const std::string line = moving_rmc(++i);
        const uint64_t frames = front->framesDrawn();
        told = false;
        const auto written = Clock::now();
        if (::write(shown.peer, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
            state.SkipWithError("write");
            break;
        }
        shown.loop.run_until([&] { return told && front->framesDrawn() > frames; }, 5s);
        const auto drawn = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(drawn - notified).count());
        fromNotification.push_back(ms(drawn - notified));
        fromSentence.push_back(ms(drawn - written));
    }
    shown.center.removeObserver(observer);
    state.counters["notification_to_frame_p50_ms"] = percentile(fromNotification, 0.5);
    state.counters["notification_to_frame_p99_ms"] = percentile(fromNotification, 0.99);
    state.counters["sentence_to_frame_p50_ms"] = percentile(fromSentence, 0.5);
    state.counters["sentence_to_frame_p99_ms"] = percentile(fromSentence, 0.99);
}
BENCHMARK(BM_PositionToFrame)->UseManualTime()->Iterations(300)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
