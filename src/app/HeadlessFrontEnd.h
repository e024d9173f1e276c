// The front-end without a display: the application runs on its screens
// (main screen, GPS inspector) in the toolkit stand-in, and either a script
// plays the user (--script: dumps on stdout) or the built-in scripted user
// plays the road of a position while HeadlessReport prints a line per
// report: it dismisses the notice, taps the search row, waits for the
// names, taps the chosen device, and lets the positions come.
#pragma once

#include "app/front_end.h"

namespace vgps {

// Exit status: 0 done or interrupted, 1 daemon not reachable or gone (the
// road only), 2 a script that cannot be read, 3 --timeout, 4 a script's
// wait-for that ran out of time.
int run_headless(const AppOptions& options);

}  // namespace vgps
