// vexod: the radio daemon with a simulated radio. See --help.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "daemon.h"
#include "link/vexod_wire.h"
#include "platform/fd.h"
#include "platform/log.h"
#include "platform/run_loop.h"
#include "platform/stop_signals.h"

namespace {

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: vexod [--socket PATH] [--scenario FILE] [--speed FACTOR]\n"
                 "\n"
                 "The radio daemon of vexod-gps, with a simulated radio. It listens on a\n"
                 "local stream socket, serves one client at a time, answers its requests\n"
                 "and sends the radio's notifications as the scenario file describes.\n"
                 "\n"
                 "  --socket PATH     where to listen (default /tmp/vexod)\n"
                 "  --scenario FILE   the simulated radio, as JSON (default: radio on,\n"
                 "                    no devices in range)\n"
                 "  --speed FACTOR    how fast receivers stream over their data links:\n"
                 "                    FACTOR epochs a second (default 1, as a real\n"
                 "                    receiver; overrides the scenario's link.speed);\n"
                 "                    0 streams as fast as the application reads\n"
                 "  -h, --help        this text\n"
                 "\n"
                 "It logs what it does to stderr and stops on SIGINT or SIGTERM, removing\n"
                 "its socket file. The scenario format is described in README.md.\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string socket_path = vgps::kDaemonSocketPath;
    std::string scenario_path;
    std::optional<double> speed;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        }
        if (arg == "--speed" && i + 1 < argc) {
            const std::string value = argv[++i];
            char* end = nullptr;
            const double factor = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(factor >= 0 && factor <= 1e6)) {
                std::fprintf(stderr, "vexod: --speed needs a number from 0 to 1000000, not %s\n", value.c_str());
                return 2;
            }
            speed = factor;
            continue;
        }
        if ((arg == "--socket" || arg == "--scenario") && i + 1 < argc) {
            (arg == "--socket" ? socket_path : scenario_path) = argv[++i];
            continue;
        }
        std::fprintf(stderr, "vexod: unknown or incomplete argument: %s\n", arg.c_str());
        usage(stderr);
        return 2;
    }

    vexod::Scenario scenario;
    if (!scenario_path.empty()) {
        std::string error;
        if (!vexod::load_scenario(scenario_path, &scenario, &error)) {
            std::fprintf(stderr, "vexod: bad scenario file %s: %s\n", scenario_path.c_str(), error.c_str());
            return 2;
        }
    }

    if (speed) scenario.speed = *speed;

    // The daemon's own sends never raise SIGPIPE; libraries it calls may
    // write to sockets without saying so.
    vgps::ignore_sigpipe();

    vgps::RunLoop loop;
    vexod::Daemon daemon(std::move(scenario), socket_path, &loop);
    std::string error;
    if (!daemon.start(&error)) {
        std::fprintf(stderr, "vexod: %s\n", error.c_str());
        return 1;
    }
    int stop_signal = 0;
    if (!vgps::watch_stop_signals(&loop, [&](int sig) {
            stop_signal = sig;
            loop.stop();
        })) {
        std::perror("vexod: pipe");
        return 1;
    }
    loop.run();
    vgps::log_error("<%s> signal %d (%s), stopping", "vexod", stop_signal, strsignal(stop_signal));
    daemon.stop();
    return 0;
}
