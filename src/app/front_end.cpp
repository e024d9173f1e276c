#include "app/front_end.h"

#include "app/HeadlessFrontEnd.h"
#include "app/TerminalApp.h"
#include "frontend/terminal/TerminalFrontEnd.h"

namespace vgps {

FrontEndChoice choose_front_end(const AppOptions& options) {
    if (options.headless) return {FrontEnd::Headless, ""};
    // A person plays the user on the screens: the road's options are the
    // headless front-end's.
    if (options.device || options.positions > 0 || options.exitWhenDone) {
        return {std::nullopt, "--device, --positions and --exit-when-done go with --headless"};
    }
    if (options.terminal || term::TerminalFrontEnd::usable(0, 1)) return {FrontEnd::Terminal, ""};
    return {std::nullopt, "standard input and output are not a terminal; run it with --headless"};
}

int run_front_end(FrontEnd frontEnd, const AppOptions& options) {
    switch (frontEnd) {
        case FrontEnd::Headless: return run_headless(options);
        case FrontEnd::Terminal: return run_terminal(options);
    }
    return 2;
}

}  // namespace vgps
