// The options of vexod-gps and the one place that picks the front-end which
// presents the screens. A front-end takes the options, runs the
// application on the main run loop and returns the exit status.
//
// To add a front-end: a value in FrontEnd, its option in main.cpp, a line
// in choose_front_end (which may also look at the environment: a display,
// a terminal) and a case in run_front_end. Scripts (--script) run on any
// of them: see ScriptPlayer.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "registry/bdaddr.h"

namespace vgps {

struct AppOptions {
    bool headless = false;
    bool terminal = false;              // --terminal
    bool gtk = false;                   // --gtk: the desktop window
    bool offline = false;               // --offline: no map tiles, no network
    std::optional<std::string> script;  // --script FILE ("-": stdin)
    std::string socketPath;             // --socket; empty: the default
    std::optional<bdaddr> device;       // --device
    uint64_t positions = 0;             // --positions; 0: no limit
    bool exitWhenDone = false;          // --exit-when-done
    double timeoutSeconds = 0;          // --timeout; 0: none
};

enum class FrontEnd {
    Headless,  // no display: a script, or the scripted road that prints report lines
    Terminal,  // the screens in the terminal on stdin and stdout (front-end/terminal)
    Window,    // a GTK window on the desktop (WindowFrontEnd.h)
};

struct FrontEndChoice {
    std::optional<FrontEnd> frontEnd;
    std::string whyNone;  // when there is none to run
};

// The asked-for front-end; without one, the window when the program has no
// terminal (stdin and stdout are not both terminals) but a display
// (DISPLAY or WAYLAND_DISPLAY set): started from a desktop's menu.
FrontEndChoice choose_front_end(const AppOptions& options);
// Whether a desktop's display is named in the environment.
bool display_present();

// Runs the application with `frontEnd`; the process's exit status.
int run_front_end(FrontEnd frontEnd, const AppOptions& options);

}  // namespace vgps
