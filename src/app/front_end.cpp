#include "app/front_end.h"

#include <unistd.h>

#include <cstdlib>

#include "app/HeadlessFrontEnd.h"
#include "app/WindowFrontEnd.h"

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
    if (options.gtk) return {FrontEnd::Window, ""};
    const bool terminal = ::isatty(STDIN_FILENO) != 0 && ::isatty(STDOUT_FILENO) != 0;
    if (!terminal && display_present()) return {FrontEnd::Window, ""};
    return {std::nullopt, "no front-end for this terminal yet; run it with --gtk (a window) or --headless"};
}

int run_front_end(FrontEnd frontEnd, const AppOptions& options) {
    switch (frontEnd) {
        case FrontEnd::Headless: return run_headless(options);
        case FrontEnd::Window: return run_window(options);
    }
    return 2;
}

}  // namespace vgps
