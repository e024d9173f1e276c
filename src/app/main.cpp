// vexod-gps: the application. This build has the headless front-end only.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "app/HeadlessFrontEnd.h"
#include "platform/alert.h"
#include "platform/run_loop.h"
#include "platform/stop_signals.h"

namespace {

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: vexod-gps --headless [--socket PATH] [--device ADDRESS] [--positions N]\n"
                 "                 [--exit-when-done] [--timeout SECONDS]\n"
                 "\n"
                 "Connects to the vexod daemon, searches for devices once, resolves the\n"
                 "names of the new ones, then connects to one device and prints every\n"
                 "position it sends. Every report is one line on stdout.\n"
                 "\n"
                 "  --headless         run without screens (the only front-end of this build)\n"
                 "  --socket PATH      the daemon's socket (default /tmp/vexod)\n"
                 "  --device ADDRESS   the device to connect to, xx:xx:xx:xx:xx:xx (default:\n"
                 "                     the first device the search found)\n"
                 "  --positions N      exit once N positions have been printed\n"
                 "  --exit-when-done   exit once the names are resolved and the data link\n"
                 "                     has ended (or could not be made)\n"
                 "  --timeout SECONDS  exit with status 3 when still running after this long\n"
                 "\n"
                 "Exit status: 0 done or interrupted, 1 daemon not reachable or gone,\n"
                 "2 bad arguments, 3 time-out. Log lines go to stderr.\n");
}

}  // namespace

int main(int argc, char** argv) {
    bool headless = false;
    bool exit_when_done = false;
    double timeout_s = 0;
    uint64_t max_positions = 0;
    std::optional<vgps::bdaddr> device;
    std::string socket_path;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        } else if (arg == "--headless") {
            headless = true;
        } else if (arg == "--exit-when-done") {
            exit_when_done = true;
        } else if (arg == "--socket" && i + 1 < argc) {
            socket_path = argv[++i];
        } else if (arg == "--device" && i + 1 < argc) {
            vgps::bdaddr address;
            if (std::strlen(argv[++i]) != 17 || !vgps::str2ba(argv[i], &address)) {
                std::fprintf(stderr, "vexod-gps: bad device address: %s\n", argv[i]);
                return 2;
            }
            device = address;
        } else if (arg == "--positions" && i + 1 < argc) {
            char* end = nullptr;
            errno = 0;
            const unsigned long long n = std::strtoull(argv[++i], &end, 10);
            if (*end != '\0' || errno != 0 || n == 0 || argv[i][0] == '-') {
                std::fprintf(stderr, "vexod-gps: bad position count: %s\n", argv[i]);
                return 2;
            }
            max_positions = n;
        } else if (arg == "--timeout" && i + 1 < argc) {
            char* end = nullptr;
            timeout_s = std::strtod(argv[++i], &end);
            if (*end != '\0' || timeout_s <= 0) {
                std::fprintf(stderr, "vexod-gps: bad time-out: %s\n", argv[i]);
                return 2;
            }
        } else {
            std::fprintf(stderr, "vexod-gps: unknown or incomplete argument: %s\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (!headless) {
        std::fprintf(stderr, "vexod-gps: this build has no screens yet; run it with --headless\n");
        return 2;
    }

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    vgps::HeadlessAlertPresenter alerts(stdout);
    vgps::set_alert_presenter(&alerts);

    vgps::DaemonManager* manager = vgps::DaemonManager::sharedManager();
    if (!socket_path.empty()) manager->setDaemonSocketPath(socket_path);
    vgps::HeadlessFrontEnd front(stdout, manager, vgps::BTDeviceCache::sharedCache());
    if (device) front.setDeviceAddress(*device);
    front.setPositionLimit(max_positions);
    front.printRemembered();
    if (!front.start()) return 1;

    vgps::RunLoop* loop = vgps::RunLoop::main();
    bool interrupted = false;
    if (!vgps::watch_stop_signals(loop, [&](int) { interrupted = true; })) return 1;
    auto done = [&] {
        return interrupted || front.daemonGone() || (exit_when_done && front.finished()) ||
               (max_positions > 0 && front.positionCount() >= max_positions);
    };
    const auto limit = timeout_s > 0 ? std::chrono::milliseconds(static_cast<int64_t>(timeout_s * 1000))
                                     : std::chrono::milliseconds(std::chrono::hours(24 * 365));
    const bool finished = loop->run_until(done, limit);

    if (front.daemonGone()) return 1;
    if (manager->state() > vgps::DaemonStateConnected) manager->disconnectFromDevice();
    if (manager->isConnected()) manager->shutdownDaemon();
    vgps::set_alert_presenter(nullptr);
    return finished ? 0 : 3;
}
