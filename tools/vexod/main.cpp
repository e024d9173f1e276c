// vexod: the radio daemon with a simulated radio. See --help.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "daemon.h"
#include "link/vexod_wire.h"
#include "platform/command_line.h"
#include "platform/fd.h"
#include "platform/run_loop.h"
#include "platform/stop_signals.h"
#include "vexod_log.h"

int main(int argc, char** argv) {
    std::string socket_path = vgps::kDaemonSocketPath;
    std::string scenario_path;
    double speed = 0;
    vgps::CommandLine cli("vexod", "[--socket PATH] [--scenario FILE] [--speed FACTOR]",
                          "The radio daemon of vexod-gps, with a simulated radio. It listens on a local stream\n"
                          "socket, serves one client at a time, answers its requests and sends the radio's\n"
                          "notifications as the scenario file describes.",
                          "It logs what it does to stderr and stops on SIGINT or SIGTERM, removing its socket\n"
                          "file. The scenario format is described in README.md.\n"
                          "Exit status: 0 stopped by a signal; 1 cannot listen; 2 bad arguments or scenario.");
    cli.app().add_option("--socket", socket_path, "where to listen (default /tmp/vexod)")->type_name("PATH");
    cli.app()
        .add_option("--scenario", scenario_path,
                    "the simulated radio, as JSON\n(default: radio on, no devices in range)")
        ->type_name("FILE");
    CLI::Option* speed_option =
        cli.add_number("--speed", &speed, 0, 1e6, "FACTOR", "a number from 0 to 1000000",
                       "how fast receivers stream over their data links:\n"
                       "FACTOR epochs a second (default 1, as a real receiver;\n"
                       "overrides the scenario's link.speed); 0 streams as fast\n"
                       "as the application reads");
    if (const auto status = cli.parse(argc, argv)) return *status;

    vexod::Scenario scenario;
    if (!scenario_path.empty()) {
        std::string error;
        if (!vexod::load_scenario(scenario_path, &scenario, &error)) {
            std::fprintf(stderr, "vexod: bad scenario file %s: %s\n", scenario_path.c_str(), error.c_str());
            return 2;
        }
    }

    if (speed_option->count() > 0) scenario.speed = speed;

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
    VLOG("signal %d (%s), stopping", stop_signal, strsignal(stop_signal));
    daemon.stop();
    return 0;
}
