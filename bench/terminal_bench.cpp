// The terminal front-end on the application's screens, drawing into a
// pseudo-terminal (TERM=xterm-256color, UTF-8), whose other end a thread
// reads as a terminal would.
//
// BM_RenderMainScreen / BM_RenderInspector: the CPU time of drawing the
//   window into the front-end's cells (what every redraw does).
// BM_RedrawMainScreen / BM_RedrawInspector: one full redraw: the window
//   into cells, every cell to ncurses and the whole screen written to the
//   terminal (as after Ctrl-L or a resize).
// BM_PositionToTerminal: a sentence with a new position written to the
//   data socket; the time until the terminal has been sent the new text
//   (the end of the turn's redraw), from the position notification
//   (notification_us) and from the start of the write (sentence_us),
//   median and 99th percentile.
//
// The main screen is the one after a search against the real vexod (three
// devices, names resolved); the inspector comes up on a data link of the
// benchmark's own socket, as in screens_bench.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/finger.h"
#include "frontend/terminal/TerminalFrontEnd.h"
#include "link/DaemonManager.h"
#include "link/GPSDataLink.h"
#include "platform/fd.h"
#include "platform/log.h"
#include "platform/notification_center.h"
#include "platform/run_loop.h"
#include "ui/GPSInspector.h"
#include "ui/vexod_gps_trialAppDelegate.h"
#include "uikit/UIApplication.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kScenario = R"({"radio": {"powered": false},
  "inquiry": {"end_after_ms": 200, "ends_with": "complete"},
  "devices": [
    {"address": "00:0b:0d:88:a2:3c", "class": "0x001f00", "name": "GPSlim236", "inquiry_delay_ms": 20,
     "name_delay_ms": 20, "services": [{"name": "SPP Slave", "rfcomm_channel": 1}],
     "generator": {"lat": 48.117302, "lon": 11.516666, "speed_knots": 5, "course_deg": 45}},
    {"address": "00:1c:88:30:5e:01", "class": "0x001f00", "name": "BT-GPS 5E01", "inquiry_delay_ms": 40,
     "name_delay_ms": 20, "services": [{"name": "GPS Serial Port", "rfcomm_channel": 2}]},
    {"address": "00:02:78:14:c9:7d", "class": "0x5a020c", "name": "Pocket Phone", "inquiry_delay_ms": 60,
     "name_delay_ms": 20}]})";

// A pseudo-terminal of 40 by 30 whose far end is read (and dropped) by a
// thread; `last` is when bytes last came.
struct Pty {
    Pty() {
        struct winsize ws {};
        ws.ws_col = 40;
        ws.ws_row = 30;
        if (::openpty(&master, &slave, nullptr, nullptr, &ws) != 0) return;
        reader = std::thread([this] {
            char buf[8192];
            for (;;) {
                const ssize_t n = ::read(master, buf, sizeof buf);
                if (n <= 0) return;
                bytes += static_cast<uint64_t>(n);
                last.store(Clock::now().time_since_epoch().count());
            }
        });
    }
    ~Pty() {
        if (slave >= 0) ::close(slave);
        if (reader.joinable()) reader.join();  // the read ends with the slave
        if (master >= 0) ::close(master);
    }
    int master = -1, slave = -1;
    std::thread reader;
    std::atomic<uint64_t> bytes{0};
    std::atomic<int64_t> last{0};
};

// The application on its screens in the terminal front-end.
struct Screens {
    Screens() {
        if (std::getenv("BENCH_LOG") == nullptr) vgps::set_log_sink([](std::string_view) {});
        ::setenv("TERM", "xterm-256color", 1);
        ::setenv("LC_ALL", "C.UTF-8", 1);
        char dir[] = "/tmp/vgps-term-bench.XXXXXX";
        folder = ::mkdtemp(dir);
        manager.installAsNotificationTarget();
        manager.setDaemonSocketPath(folder + "/nobody");
        app.setDelegate(&delegate);
    }
    ~Screens() {
        front.stop();
        if (manager.state() > vgps::DaemonStateConnected) manager.disconnectFromDevice();
        if (manager.isConnected()) manager.shutdownDaemon();
        if (daemon > 0) {
            ::kill(daemon, SIGTERM);
            ::waitpid(daemon, nullptr, 0);
        }
        std::system(("rm -rf " + folder).c_str());
        vgps::set_log_sink({});
    }
    bool start() { return pty.slave >= 0 && front.start(pty.slave, pty.slave) && app.launch(); }
    // Turns the loop until `done` or 10 s.
    bool until(const std::function<bool()>& done) {
        return loop.run_until([&] { return done(); }, 10000ms);
    }
    // vexod with the scenario, and the main screen after a search.
    bool mainScreenWithDevices() {
        std::ofstream(folder + "/scenario.json") << kScenario;
        const std::string socket = folder + "/vexod.sock";
        std::vector<std::string> argv{VEXOD_BINARY, "--socket", socket, "--scenario", folder + "/scenario.json"};
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int rc = posix_spawn(&daemon, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) return false;
        for (int i = 0; i < 200 && ::access(socket.c_str(), F_OK) != 0; ++i) std::this_thread::sleep_for(10ms);
        manager.setDaemonSocketPath(socket);
        if (!start()) return fail("no terminal");
        if (!until([&] { return vgps::finger::shows_text(&app, "Discover more ..."); })) return fail("not connected");
        vgps::finger::dismiss_alert(&app);
        app.displayIfNeeded();
        if (vgps::finger::tap_row(&app, {1, 0}) != vgps::finger::Tap::Done) return fail("no search row");
        if (!until([&] { return vgps::finger::shows_text(&app, "Tap on one device to connect."); })) {
            return fail("no names");
        }
        return true;
    }
    bool fail(const char* why) {
        std::fprintf(stderr, "terminal_bench: %s\n", why);
        return false;
    }
    // The inspector on screen, on a data link of our own.
    bool inspectorOnScreen() {
        if (!start()) return false;
        vgps::finger::dismiss_alert(&app);
        path = folder + "/rfcomm";
        listen_fd = vgps::listen_local(path, 1);
        manager.connectWithSocketPath_status(path.c_str(), 0);
        peer = ::accept(listen_fd, nullptr, nullptr);
        loop.run_once(0ms);
        return peer >= 0 &&
               dynamic_cast<vgps::GPSInspector*>(delegate.navigationController()->topViewController()) != nullptr;
    }
    // One full redraw, as after Ctrl-L.
    void fullRedraw() {
        vgps::term::InputEvent ctrlL;
        ctrlL.kind = vgps::term::InputEvent::Control;
        ctrlL.character = 0x0c;
        front.controller()->handle(ctrlL);
        front.redraw();
    }

    std::string folder, path;
    Pty pty;
    pid_t daemon = 0;
    int listen_fd = -1, peer = -1;
    vgps::RunLoop loop;
    vgps::UIApplication app{&loop};
    vgps::BTDeviceCache devices;
    vgps::NotificationCenter center;
    vgps::DaemonManager manager{&devices, &center, &loop};  // the daemon's notifications come here
    vgps::vexod_gps_trialAppDelegate delegate{&manager, &center};
    vgps::term::TerminalFrontEnd front{&app};
};

void BM_RenderMainScreen(benchmark::State& state) {
    Screens s;
    if (!s.mainScreenWithDevices()) return state.SkipWithError("no main screen with devices");
    for (auto _ : state) benchmark::DoNotOptimize(s.front.controller()->render());
}
BENCHMARK(BM_RenderMainScreen);

void BM_RedrawMainScreen(benchmark::State& state) {
    Screens s;
    if (!s.mainScreenWithDevices()) return state.SkipWithError("no main screen with devices");
    const uint64_t before = s.pty.bytes;
    for (auto _ : state) s.fullRedraw();
    std::this_thread::sleep_for(50ms);
    state.counters["bytes_per_redraw"] =
        static_cast<double>(s.pty.bytes - before) / static_cast<double>(std::max<int64_t>(1, state.iterations()));
}
BENCHMARK(BM_RedrawMainScreen);

void BM_RenderInspector(benchmark::State& state) {
    Screens s;
    if (!s.inspectorOnScreen()) return state.SkipWithError("no inspector");
    for (auto _ : state) benchmark::DoNotOptimize(s.front.controller()->render());
}
BENCHMARK(BM_RenderInspector);

void BM_RedrawInspector(benchmark::State& state) {
    Screens s;
    if (!s.inspectorOnScreen()) return state.SkipWithError("no inspector");
    for (auto _ : state) s.fullRedraw();
}
BENCHMARK(BM_RedrawInspector);

// An RMC sentence 0.001 minutes further north for each `i`: a latitude
// the inspector shows differently every time.
std::string sentence(uint64_t i) {
    char body[128];
    std::snprintf(body, sizeof body, "GPRMC,120800.00,A,48%07.4f,N,01131.0000,E,022.4,084.4,150911,003.1,W",
                  7.0 + static_cast<double>(i % 5000) * 0.001);
    unsigned crc = 0;
    for (const char* p = body; *p != '\0'; ++p) crc ^= static_cast<unsigned char>(*p);
    char out[160];
    std::snprintf(out, sizeof out, "$%s*%02X\r\n", body, crc);
    return out;
}

void BM_PositionToTerminal(benchmark::State& state) {
    Screens s;
    // Told before the inspector: the moment the position is posted.
    Clock::time_point posted;
    uint64_t positions = 0;
    s.center.addObserver(vgps::kPositionNotificationName, [&](const vgps::Notification&) {
        posted = Clock::now();
        ++positions;
    });
    if (!s.inspectorOnScreen()) return state.SkipWithError("no inspector");
    // Runs after the front-end at the start of each turn: the terminal has
    // been sent what changed.
    Clock::time_point drawn;
    s.loop.add_before_wait_observer([&] { drawn = Clock::now(); });
    std::vector<double> fromNotification, fromSentence;
    const uint64_t bytesBefore = s.pty.bytes;
    uint64_t i = 0;
    for (auto _ : state) {
        const std::string line = sentence(++i);
        const uint64_t before = positions;
        const Clock::time_point written = Clock::now();
        vgps::send_all(s.peer, line.data(), line.size());
        while (positions == before) s.loop.run_once(1000ms);
        s.loop.run_once(0ms);  // the turn that draws
        fromNotification.push_back(std::chrono::duration<double, std::micro>(drawn - posted).count());
        fromSentence.push_back(std::chrono::duration<double, std::micro>(drawn - written).count());
    }
    std::this_thread::sleep_for(50ms);
    state.counters["bytes_per_update"] =
        static_cast<double>(s.pty.bytes - bytesBefore) / static_cast<double>(std::max<int64_t>(1, state.iterations()));
    auto pct = [](std::vector<double>& v, double p) {
        std::sort(v.begin(), v.end());
        return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
    };
    state.counters["notification_median_us"] = pct(fromNotification, 0.5);
    state.counters["notification_p99_us"] = pct(fromNotification, 0.99);
    state.counters["sentence_median_us"] = pct(fromSentence, 0.5);
    state.counters["sentence_p99_us"] = pct(fromSentence, 0.99);
}
BENCHMARK(BM_PositionToTerminal)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
