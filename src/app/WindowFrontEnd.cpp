#include "app/WindowFrontEnd.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/AppSession.h"
#include "app/LinkStatusWatch.h"
#include "frontend/gtk/GtkFrontEnd.h"

namespace vgps {
namespace {

// How long a window command waits for GTK to draw.
constexpr std::chrono::seconds kDrawTimeout(10);
constexpr int kDrawTimeoutStatus = 4;

std::string check_pixels(const std::vector<std::string>& args) {
    for (const auto& a : args) {
        char* end = nullptr;
        const double v = std::strtod(a.c_str(), &end);
        if (a.empty() || *end != '\0' || !std::isfinite(v) || v < 0 || v > 1e5) {
            return "\"" + a + "\" is not a pixel position (0 or more)";
        }
    }
    return "";
}

// Runs `act` once the window shows everything the screens show (GTK has
// drawn it), then the script goes on.
ScriptStep when_drawn(ScriptPlayer& player, GtkFrontEnd* window, const std::string& what,
                      std::function<void()> act) {
    window->requestFrame();
    return player.resumeWhen(
        [window, act] {
            if (!window->upToDate()) return false;
            act();
            return true;
        },
        kDrawTimeout, [&player, what] { player.complain(what + ": the window was not drawn"); },
        kDrawTimeoutStatus);
}

}  // namespace

void add_window_commands(ScriptCommands& commands, GtkFrontEnd* const* window) {
    commands.add({"screenshot", "PATH", 1, 1, nullptr, [window](ScriptPlayer& player, const ScriptLine& line) {
                      const std::string path = line.args[0];
                      return when_drawn(player, *window, "screenshot " + path, [&player, window, path] {
                          std::string error;
                          if (!(*window)->screenshot(path, &error)) player.complain("screenshot " + path + ": " + error);
                      });
                  }});
    commands.add({"widgets", "", 0, 0, nullptr, [window](ScriptPlayer& player, const ScriptLine&) {
                      // With the toolkit's dump of the same moment, for
                      // comparing the two.
                      return when_drawn(player, *window, "widgets", [&player, window] {
                          JSON out = JSON::object();
                          out["gtk"] = (*window)->dumpWidgets();
                          out["toolkit"] = player.app()->dumpJSON();
                          player.print(json_line(out));
                      });
                  }});
    commands.add({"click", "X Y", 2, 2, check_pixels, [window](ScriptPlayer& player, const ScriptLine& line) {
                      const double x = std::strtod(line.args[0].c_str(), nullptr);
                      const double y = std::strtod(line.args[1].c_str(), nullptr);
                      return when_drawn(player, *window, "click", [window, x, y] { (*window)->click(x, y); });
                  }});
}

int run_window(const AppOptions& options) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    GtkFrontEnd* window = nullptr;
    ScriptCommands commands = ScriptCommands::standard();
    add_window_commands(commands, &window);
    std::optional<ScriptReading> script = read_app_script(options, commands);
    if (!script) return 2;

    AppSession session(options);
    if (!session.ok()) return 1;
    GtkFrontEndOptions windowOptions = GtkFrontEndOptions::fromEnvironment();
    windowOptions.offline = windowOptions.offline || options.offline;
    std::string error;
    std::unique_ptr<GtkFrontEnd> front = GtkFrontEnd::open(session.app(), windowOptions, &error);
    if (!front) {
        print_line(stderr, "vexod-gps: " + error);
        return 1;
    }
    window = front.get();
    front->setCloseHandler([&session] { session.stop(); });
    // The verdict on the data link as the header's subtitle while the
    // inspector is up.
    const std::unique_ptr<LinkStatusWatch> status =
        LinkStatusWatch::forInspector(session.manager(), session.loop(), session.delegate(),
                                      [&front](const std::string& text) { front->setSubtitle(text); });
    if (options.script) session.playScript(std::move(script->lines), std::move(commands));

    const int launched = session.run();
    if (launched != 0) return 1;
    session.closeConnections();
    if (session.timedOut()) return 3;
    return session.scriptStatus();
}

}  // namespace vgps
