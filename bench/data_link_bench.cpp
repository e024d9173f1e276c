// The GPS data link as the application runs it: a receiver thread writes NMEA
// into a real local socket, the manager's read callback on the run loop
// reads it, parses it and posts the position notification.
//
// BM_SentenceToNotification: time from the writer starting the write of a
// whole sentence (its last byte included) to the notification being posted;
// the median and 99th percentile over all iterations are reported as
// counters (microseconds).
// BM_StreamAsFastAsPossible: the writer streams a recorded-style epoch
// stream without pause; notifications and sentences per second.
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

#include "link/DaemonManager.h"
#include "platform/fd.h"
#include "platform/log.h"
#include "platform/notification_center.h"
#include "platform/run_loop.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string sentence(const std::string& body) {
    unsigned crc = 0;
    for (unsigned char c : body) crc ^= c;
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", crc);
    return "$" + body + tail;
}

// One second of a receiver with a 3D fix: GGA, GSA, three GSV, RMC, VTG.
std::string epoch(int second) {
    char t[16];
    std::snprintf(t, sizeof t, "1208%02d.00", second % 60);
    const std::string time = t;
    return sentence("GPGGA," + time + ",4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,") +
           sentence("GPGSA,A,3,04,05,09,12,24,25,29,31,,,,,1.8,0.9,1.5") +
           sentence("GPGSV,3,1,12,04,77,200,45,05,40,080,42,09,32,300,40,12,20,240,38") +
           sentence("GPGSV,3,2,12,24,15,140,35,25,55,060,44,29,10,320,30,31,05,010,28") +
           sentence("GPGSV,3,3,12,02,03,100,20,06,02,200,18,10,01,300,15,14,00,020,12") +
           sentence("GPRMC," + time + ",A,4807.0380,N,01131.0000,E,022.4,084.4,150911,003.1,W") +
           sentence("GPVTG,084.4,T,087.5,M,022.4,N,041.5,K");
}

// A linked manager and the receiver's end of its data socket.
struct Link {
    Link() {
        vgps::set_log_sink([](std::string_view) {});
        char dir[] = "/tmp/vgps-bench.XXXXXX";
        folder = ::mkdtemp(dir);
        path = folder + "/rfcomm";
        listen_fd = vgps::listen_local(path, 1);
        manager = vgps::DaemonManager::sharedManager();
        manager->connectWithSocketPath_status(path.c_str(), 0);
        peer = ::accept(listen_fd, nullptr, nullptr);
        observer = vgps::NotificationCenter::defaultCenter()->addObserver(
            vgps::kPositionNotificationName, [this](const vgps::Notification&) {
                posted_at = Clock::now();
                ++notifications;
            });
    }
    ~Link() {
        vgps::NotificationCenter::defaultCenter()->removeObserver(observer);
        manager->disconnectFromDevice();
        if (peer >= 0) ::close(peer);
        ::close(listen_fd);
        ::unlink(path.c_str());
        ::rmdir(folder.c_str());
        vgps::set_log_sink({});
    }
    bool ok() const { return peer >= 0 && manager->state() == vgps::DaemonStateLinked; }

    std::string folder, path;
    int listen_fd = -1;
    int peer = -1;
    vgps::DaemonManager* manager = nullptr;
    vgps::NotificationCenter::ObserverId observer = 0;
    Clock::time_point posted_at;
    uint64_t notifications = 0;
};

bool write_all(int fd, const std::string& bytes) {
    return vgps::send_all(fd, bytes.data(), bytes.size()) == bytes.size();
}

void BM_SentenceToNotification(benchmark::State& state) {
    Link link;
    if (!link.ok()) {
        state.SkipWithError("no data link");
        return;
    }
    const std::string rmc = sentence("GPRMC,120800.00,A,4807.0380,N,01131.0000,E,022.4,084.4,150911,003.1,W");

    // The writer thread plays the daemon: on each go it writes one whole
    // sentence and records when the write began.
    std::atomic<uint64_t> go{0};
    std::atomic<bool> quit{false};
    std::atomic<int64_t> written_at{0};
    std::thread writer([&] {
        uint64_t seen = 0;
        while (!quit.load()) {
            if (go.load() == seen) {
                std::this_thread::yield();
                continue;
            }
            seen = go.load();
            written_at.store(Clock::now().time_since_epoch().count());
            write_all(link.peer, rmc);
        }
    });

    std::vector<double> latencies;
    latencies.reserve(1 << 16);
    vgps::RunLoop* loop = vgps::RunLoop::main();
    for (auto _ : state) {
        const uint64_t before = link.notifications;
        go.fetch_add(1);
        while (link.notifications == before) loop->run_once(1000ms);
        const Clock::time_point start{Clock::duration{written_at.load()}};
        latencies.push_back(std::chrono::duration<double, std::micro>(link.posted_at - start).count());
    }
    quit.store(true);
    writer.join();

    std::sort(latencies.begin(), latencies.end());
    auto pct = [&](double p) {
        return latencies[std::min(latencies.size() - 1, static_cast<size_t>(p * static_cast<double>(latencies.size())))];
    };
    state.counters["median_us"] = pct(0.5);
    state.counters["p99_us"] = pct(0.99);
}
BENCHMARK(BM_SentenceToNotification)->UseRealTime();

void BM_StreamAsFastAsPossible(benchmark::State& state) {
    Link link;
    if (!link.ok()) {
        state.SkipWithError("no data link");
        return;
    }
    std::string stream;
    for (int s = 0; s < 60; ++s) stream += epoch(s);
    const size_t sentences_per_stream = 60 * 7;

    std::atomic<bool> quit{false};
    std::atomic<uint64_t> streams_written{0};
    std::thread writer([&] {
        while (!quit.load()) {
            if (!write_all(link.peer, stream)) return;
            streams_written.fetch_add(1);
        }
    });

    vgps::RunLoop* loop = vgps::RunLoop::main();
    const uint64_t start_count = link.notifications;
    const uint64_t start_streams = streams_written.load();
    const auto started = Clock::now();
    for (auto _ : state) {
        loop->run_once(1000ms);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    const uint64_t posted = link.notifications - start_count;
    // Whole streams the writer got into the socket meanwhile (the socket
    // buffer holds a few more bytes than were read).
    const uint64_t streams = streams_written.load() - start_streams;

    // Unblock and stop the writer: the reader side goes away.
    quit.store(true);
    ::shutdown(link.peer, SHUT_RDWR);
    writer.join();

    // The stream was decoded, not just read.
    if (link.manager->gpsInfo().smask != (vgps::NMEA_GPGGA | vgps::NMEA_GPGSA | vgps::NMEA_GPGSV | vgps::NMEA_GPRMC |
                                          vgps::NMEA_GPVTG)) {
        state.SkipWithError("sentences were not decoded");
    }
    state.counters["notifications_per_s"] = static_cast<double>(posted) / seconds;
    state.counters["sentences_per_s"] =
        static_cast<double>(streams * sentences_per_stream) / seconds;
    state.counters["MB_per_s"] = static_cast<double>(streams * stream.size()) / seconds / 1e6;
}
BENCHMARK(BM_StreamAsFastAsPossible)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
