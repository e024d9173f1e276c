// vexod-gps: the application. This build has the headless front-end only.

#include <signal.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "app/HeadlessFrontEnd.h"
#include "platform/alert.h"
#include "platform/command_line.h"
#include "platform/run_loop.h"
#include "platform/stop_signals.h"

int main(int argc, char** argv) {
    bool headless = false;
    bool exit_when_done = false;
    double timeout_s = 0;
    long long max_positions = 0;
    vgps::bdaddr device{};
    std::string socket_path;
    vgps::CommandLine cli("vexod-gps",
                          "--headless [--socket PATH] [--device ADDRESS] [--positions N]\n"
                          "                 [--exit-when-done] [--timeout SECONDS]",
                          "Connects to the vexod daemon, searches for devices once, resolves the names of the new\n"
                          "ones, then connects to one device and prints every position it sends. Every report is\n"
                          "one line on stdout.",
                          "Exit status: 0 done or interrupted, 1 daemon not reachable, gone or not answering,\n"
                          "2 bad arguments, 3 time-out. Log lines go to stderr.");
    cli.app().add_flag("--headless", headless, "run without screens (the only front-end of this build)");
    cli.app().add_option("--socket", socket_path, "the daemon's socket (default /tmp/vexod)")->type_name("PATH");
    CLI::Option* device_option = cli.add_parsed<vgps::bdaddr>(
        "--device", &device,
        [](const std::string& text, vgps::bdaddr* out) { return vgps::bdaddr_from_text(text, out); }, "ADDRESS",
        "an address xx:xx:xx:xx:xx:xx",
        "the device to connect to, xx:xx:xx:xx:xx:xx\n(default: the first device the search found)");
    cli.add_integer("--positions", &max_positions, 1, INT64_MAX, "N", "a count of 1 or more",
                    "exit once N positions have been printed");
    cli.app().add_flag("--exit-when-done", exit_when_done,
                       "exit once the names are resolved and the data link\nhas ended (or could not be made)");
    // At most a million seconds: the deadline stays far inside the clock.
    cli.add_number("--timeout", &timeout_s, std::numeric_limits<double>::denorm_min(), 1e6, "SECONDS",
                   "a number of seconds above 0 and at most 1000000",
                   "exit with status 3 when still running after this long");
    if (const auto status = cli.parse(argc, argv)) return *status;
    if (!headless) return cli.fail("this build has no screens yet; run it with --headless");

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    vgps::HeadlessAlertPresenter alerts(stdout);
    vgps::set_alert_presenter(&alerts);

    // Stop signals and the time-out are watched from the start: a request
    // waiting for the daemon gives way to them at once.
    vgps::RunLoop* loop = vgps::RunLoop::main();
    if (!vgps::watch_stop_signals(loop, [](int) {})) return 1;
    if (timeout_s > 0 && !vgps::stop_after(std::chrono::milliseconds(static_cast<int64_t>(std::ceil(timeout_s * 1000))))) {
        std::perror("vexod-gps: setitimer");
        return 1;
    }
    // 0 for a stop signal, 3 for the time-out.
    auto stop_status = [] { return vgps::stop_signal_received() == SIGALRM ? 3 : 0; };

    vgps::DaemonManager* manager = vgps::DaemonManager::sharedManager();
    if (!socket_path.empty()) manager->setDaemonSocketPath(socket_path);
    vgps::HeadlessFrontEnd front(stdout, manager, vgps::BTDeviceCache::sharedCache());
    if (device_option->count() > 0) front.setDeviceAddress(device);
    front.setPositionLimit(static_cast<uint64_t>(max_positions));
    front.printRemembered();
    if (!front.start()) return vgps::stop_signal_received() != 0 ? stop_status() : 1;

    auto done = [&] {
        return vgps::stop_signal_received() != 0 || front.daemonGone() || (exit_when_done && front.finished()) ||
               (max_positions > 0 && front.positionCount() >= static_cast<uint64_t>(max_positions));
    };
    while (!loop->run_until(done, std::chrono::hours(24))) {
    }

    // A stop that came while a request waited has closed the connection
    // already; it is not a daemon that went away.
    const bool stopped = vgps::stop_signal_received() != 0;
    if (front.daemonGone() && !stopped) return 1;
    if (manager->state() > vgps::DaemonStateConnected) manager->disconnectFromDevice();
    if (manager->isConnected()) manager->shutdownDaemon();
    vgps::set_alert_presenter(nullptr);
    return stopped ? stop_status() : 0;
}
