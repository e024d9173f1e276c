// terminal-demo: a toolkit window in the terminal front-end, for the tests
// and for looking at it: a navigation stack whose root is a grouped table
// with a switch row, device rows (idle, connecting, connected with the
// detail button, remembered and bookmarked), the search row, a footer, a
// banner and an alert at start; a device row or the detail button pushes a
// screen with four value rows and a map whose pin moves.
//
//   terminal-demo [--events FILE] [--move-ms N] [--no-alert]
//
// --events writes one line per thing a person did (for the tests);
// --move-ms moves the pin every N milliseconds (none by default). q,
// Ctrl-C, SIGINT and SIGTERM end it with status 0.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "demo_screens.h"
#include "frontend/terminal/TerminalFrontEnd.h"
#include "platform/run_loop.h"
#include "platform/stop_signals.h"

int main(int argc, char** argv) {
    FILE* events = nullptr;
    bool alert = true;
    int moveMs = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--events") == 0 && i + 1 < argc) {
            events = std::fopen(argv[++i], "w");
        } else if (std::strcmp(argv[i], "--move-ms") == 0 && i + 1 < argc) {
            moveMs = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--no-alert") == 0) {
            alert = false;
        } else {
            std::fprintf(stderr, "usage: terminal-demo [--events FILE] [--move-ms N] [--no-alert]\n");
            return 2;
        }
    }
    vgps::demo::event_sink() = [events](const std::string& what) {
        if (events == nullptr) return;
        std::fprintf(events, "%s\n", what.c_str());
        std::fflush(events);
    };
    vgps::RunLoop* loop = vgps::RunLoop::main();
    vgps::UIApplication app(loop);
    if (!vgps::watch_stop_signals(loop, [&](int) { app.stop(); })) return 1;
    vgps::demo::event("pid " + std::to_string(::getpid()));
    vgps::term::TerminalFrontEnd front(&app);
    front.setQuitHandler([&] { app.stop(); });
    if (!front.start()) return 1;
    vgps::demo::Delegate delegate(alert, moveMs);
    const int status = vgps::UIApplicationMain(&app, &delegate);
    front.stop();
    vgps::demo::event("exit");
    return status;
}
