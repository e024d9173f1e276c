// vexod: the radio daemon, with a simulated radio or BlueZ's. See --help.

#include <grp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bluez/bluez_radio.h"
#include "bluez/bt_sockets.h"
#include "daemon.h"
#include "link/vexod_wire.h"
#include "platform/command_line.h"
#include "platform/fd.h"
#include "platform/run_loop.h"
#include "platform/stop_signals.h"
#include "sim_radio.h"
#include "vexod_log.h"

namespace {

// A group of this system, by name or number.
bool parse_group(const std::string& text, gid_t* out) {
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (::getgrnam_r(text.c_str(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        *out = found->gr_gid;
        return true;
    }
    long long number = 0;
    if (!vgps::parse_integer(text, 0, 0xFFFFFFFE, &number)) return false;
    if (::getgrgid_r(static_cast<gid_t>(number), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    *out = found->gr_gid;
    return true;
}

// "hci" and the adapter's number.
bool parse_adapter(const std::string& text, std::string* out) {
    long long number = 0;
    if (text.size() < 4 || text.compare(0, 3, "hci") != 0 || !vgps::parse_integer(text.substr(3), 0, 65535, &number))
        return false;
    *out = text;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string socket_path = vgps::kDaemonSocketPath;
    std::string radio_kind = "sim";
    std::string scenario_path;
    double speed = 0;
    std::string adapter;
    double inquiry_seconds = 0;
    gid_t group = 0;
    vgps::CommandLine cli("vexod",
                          "[--socket PATH] [--socket-group GROUP] [--radio sim|bluez]\n"
                          "             [--scenario FILE] [--speed FACTOR] [--adapter hciN] [--inquiry-time SECONDS]",
                          "The radio daemon of vexod-gps. It listens on a local stream socket, serves one client\n"
                          "at a time, answers its requests and sends the radio's notifications: a simulated\n"
                          "radio as the scenario file describes, or with --radio bluez the computer's Bluetooth\n"
                          "adapter through BlueZ.",
                          "It logs what it does to stderr and stops on SIGINT or SIGTERM, removing its socket\n"
                          "file. The scenario format and the use of a real receiver are described in README.md.\n"
                          "Exit status: 0 stopped by a signal; 1 cannot listen, or the radio cannot start;\n"
                          "2 bad arguments or scenario.");
    cli.app().add_option("--socket", socket_path, "where to listen (default /tmp/vexod)")->type_name("PATH");
    CLI::Option* group_option = cli.add_parsed<gid_t>(
        "--socket-group", &group, parse_group, "GROUP", "a group of this system",
        "let GROUP use the daemon and its data links too\n(socket mode 0660; default: this user only, 0600)");
    cli.add_parsed<std::string>(
        "--radio", &radio_kind,
        [](const std::string& text, std::string* out) {
            if (text != "sim" && text != "bluez") return false;
            *out = text;
            return true;
        },
        "sim|bluez", "sim or bluez", "the simulated radio (default) or BlueZ's");
    CLI::Option* scenario_option =
        cli.app()
            .add_option("--scenario", scenario_path,
                        "sim: the simulated radio, as JSON\n(default: radio on, no devices in range)")
            ->type_name("FILE");
    CLI::Option* speed_option =
        cli.add_number("--speed", &speed, 0, 1e6, "FACTOR", "a number from 0 to 1000000",
                       "sim: how fast receivers stream over their data links:\n"
                       "FACTOR epochs a second (default 1, as a real receiver;\n"
                       "overrides the scenario's link.speed); 0 streams as fast\n"
                       "as the application reads");
    CLI::Option* adapter_option = cli.add_parsed<std::string>(
        "--adapter", &adapter, parse_adapter, "hciN", "an adapter name such as hci0",
        "bluez: the Bluetooth adapter to use\n(default: the first one BlueZ reports)");
    CLI::Option* inquiry_option =
        cli.add_number("--inquiry-time", &inquiry_seconds, 1, 600, "SECONDS", "a number of seconds from 1 to 600",
                       "bluez: how long a device search runs (default 10.24)");
    if (const auto status = cli.parse(argc, argv)) return *status;
    const bool bluez = radio_kind == "bluez";
    if (bluez && (scenario_option->count() > 0 || speed_option->count() > 0))
        return cli.fail("--scenario and --speed are for the simulated radio (--radio sim)");
    if (!bluez && (adapter_option->count() > 0 || inquiry_option->count() > 0))
        return cli.fail("--adapter and --inquiry-time are for --radio bluez");
    std::optional<gid_t> share;
    if (group_option->count() > 0) share = group;

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
    std::unique_ptr<vexod::Radio> radio;
    vexod::Faults faults;
    if (bluez) {
        vexod::bluez::BluezRadioOptions options;
        options.bluez.adapter = adapter;
        if (inquiry_option->count() > 0)
            options.inquiry_length = std::chrono::milliseconds(static_cast<long long>(inquiry_seconds * 1000));
        options.bridge.group = share;
        options.open_sdp = vexod::bluez::open_sdp_socket;
        options.open_rfcomm = vexod::bluez::open_rfcomm_socket;
        radio = std::make_unique<vexod::bluez::BluezRadio>(&loop, std::move(options));
    } else {
        faults = scenario.faults;
        radio = std::make_unique<vexod::SimRadio>(std::move(scenario), &loop, share);
    }
    // Watched before the start: a signal that comes as soon as the socket
    // is there still stops the daemon cleanly, removing it.
    int stop_signal = 0;
    if (!vgps::watch_stop_signals(&loop, [&](int sig) {
            stop_signal = sig;
            loop.stop();
        })) {
        std::perror("vexod: pipe");
        return 1;
    }
    vexod::Daemon daemon(std::move(radio), std::move(faults), socket_path, &loop);
    if (share) daemon.share_with_group(*share);
    std::string error;
    if (!daemon.start(&error)) {
        std::fprintf(stderr, "vexod: %s\n", error.c_str());
        return 1;
    }
    // The radio's start may have turned the loop and served the signal.
    if (stop_signal == 0) loop.run();
    VLOG("signal %d (%s), stopping", stop_signal, strsignal(stop_signal));
    daemon.stop();
    return 0;
}
