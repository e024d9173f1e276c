#include "app/front_end.h"

#include <unistd.h>

#include <cstdlib>

#include "app/HeadlessFrontEnd.h"
#include "app/TerminalApp.h"
#include "app/WindowFrontEnd.h"
#include "frontend/terminal/TerminalFrontEnd.h"

namespace vgps {

bool display_present() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

FrontEndChoice choose_front_end(const AppOptions& options) {
    if (options.headless) return {FrontEnd::Headless, ""};
    // A person plays the user on the screens: the road's options are the
    // headless front-end's.
    if (options.device || options.positions > 0 || options.exitWhenDone) {
        return {std::nullopt, "--device, --positions and --exit-when-done go with --headless"};
    }
    if (options.gtk) return {FrontEnd::Window, ""};
    if (options.terminal || term::TerminalFrontEnd::usable(0, 1)) return {FrontEnd::Terminal, ""};
    // Started from a desktop's menu: no terminal, but a display.
    if (display_present()) return {FrontEnd::Window, ""};
    return {std::nullopt,
            "standard input and output are not a terminal and no display is named; run it with --headless"};
}

int run_front_end(FrontEnd frontEnd, const AppOptions& options) {
    switch (frontEnd) {
        case FrontEnd::Headless: return run_headless(options);
        case FrontEnd::Terminal: return run_terminal(options);
        case FrontEnd::Window: return run_window(options);
    }
    return 2;
}

}  // namespace vgps
