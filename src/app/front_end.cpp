#include "app/front_end.h"

#include "app/HeadlessFrontEnd.h"

namespace vgps {

FrontEndChoice choose_front_end(const AppOptions& options) {
    if (options.headless) return {FrontEnd::Headless, ""};
    return {std::nullopt, "this build has no screen front-end yet; run it with --headless"};
}

int run_front_end(FrontEnd frontEnd, const AppOptions& options) {
    switch (frontEnd) {
        case FrontEnd::Headless: return run_headless(options);
    }
    return 2;
}

}  // namespace vgps
