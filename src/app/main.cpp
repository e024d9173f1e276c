// vexod-gps: the process entry. It ignores SIGUSR1, tries the optional
// plug-in, reads the options, picks the front-end (front_end.h) and runs
// the application on it.

#include <dlfcn.h>

#include <csignal>
#include <limits>
#include <string>

#include "app/front_end.h"
#include "platform/command_line.h"

namespace {

// A library loaded at start when it is there, to extend the program from
// outside; its absence (the usual case) changes nothing.
constexpr const char* kOptionalPluginPath = "/usr/local/lib/vexod-gps/plugin.so";

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGUSR1, SIG_IGN);
    // Not examined: a missing or unloadable plug-in is no reason to stop.
    (void)::dlopen(kOptionalPluginPath, RTLD_LAZY);

    vgps::AppOptions options;
    long long positions = 0;
    vgps::bdaddr device{};
    std::string script;
    vgps::CommandLine cli(
        "vexod-gps",
        "[--terminal | --gtk [--offline]] [--script FILE] [--socket PATH] [--timeout SECONDS]\n"
        "       vexod-gps --headless [--script FILE] [--socket PATH] [--device ADDRESS] [--positions N]\n"
        "                 [--exit-when-done] [--timeout SECONDS]",
        "The application: its main screen connects to the vexod daemon, searches for devices, resolves\n"
        "their names and connects to one; its GPS inspector shows the positions. On a terminal the\n"
        "screens are drawn in it and a person plays the user with the keys and the mouse (q quits).\n"
        "With --gtk (the default without a terminal when a display is there) they are a desktop window\n"
        "whose map shows OpenStreetMap tiles around the position, fetched from the network, unless\n"
        "--offline. With --headless and no script, a scripted user plays that road and every report is\n"
        "one line on stdout; with --script, the script plays the user and each of its dumps is one line\n"
        "on stdout (in a terminal, once it is given back).",
        "Exit status: 0 done, quit or interrupted (or the window closed), 1 daemon not reachable, gone\n"
        "or not answering (or no usable terminal, or no display for the window), 2 bad arguments or\n"
        "script, 3 time-out, 4 a script's wait-for (or a window command) that ran out of time. Log lines\n"
        "go to stderr (held while the screens are drawn on the terminal).");
    CLI::App& app = cli.app();
    CLI::Option* headless_option =
        app.add_flag("--headless", options.headless, "run without a display: report lines or a script's dumps");
    CLI::Option* terminal_option =
        app.add_flag("--terminal", options.terminal,
                     "draw the screens in the terminal (the default when stdin and\nstdout are one)")
            ->excludes(headless_option);
    CLI::Option* gtk_option = app.add_flag("--gtk", options.gtk, "the screens in a window on the desktop (GTK)");
    gtk_option->excludes(headless_option)->excludes(terminal_option);
    app.add_flag("--offline", options.offline,
                 "the window's map uses no network: no tiles, the pin on a plain\nbackground "
                 "(also VEXOD_GPS_OFFLINE=1)");
    CLI::Option* script_option =
        app.add_option("--script", script, "play the user from FILE (\"-\": stdin), one command a line")
            ->type_name("FILE");
    app.add_option("--socket", options.socketPath, "the daemon's socket (default /tmp/vexod)")->type_name("PATH");
    CLI::Option* device_option = cli.add_parsed<vgps::bdaddr>(
        "--device", &device,
        [](const std::string& text, vgps::bdaddr* out) { return vgps::bdaddr_from_text(text, out); }, "ADDRESS",
        "an address xx:xx:xx:xx:xx:xx",
        "without a script: the device to connect to, xx:xx:xx:xx:xx:xx\n(default: the first device the search found)");
    CLI::Option* positions_option =
        cli.add_integer("--positions", &positions, 1, INT64_MAX, "N", "a count of 1 or more",
                        "without a script: exit once N positions have been printed");
    CLI::Option* done_option = app.add_flag("--exit-when-done", options.exitWhenDone,
                                            "without a script: exit once the names are resolved and the\n"
                                            "data link has ended (or could not be made)");
    // At most a million seconds: the deadline stays far inside the clock.
    cli.add_number("--timeout", &options.timeoutSeconds, std::numeric_limits<double>::denorm_min(), 1e6, "SECONDS",
                   "a number of seconds above 0 and at most 1000000",
                   "exit with status 3 when still running after this long");
    script_option->excludes(device_option)->excludes(positions_option)->excludes(done_option);
    gtk_option->excludes(device_option)->excludes(positions_option)->excludes(done_option);
    if (const auto status = cli.parse(argc, argv)) return *status;

    if (script_option->count() > 0) options.script = script;
    if (device_option->count() > 0) options.device = device;
    options.positions = static_cast<uint64_t>(positions);

    const vgps::FrontEndChoice choice = vgps::choose_front_end(options);
    if (!choice.frontEnd) return cli.fail(choice.whyNone);
    return vgps::run_front_end(*choice.frontEnd, options);
}
