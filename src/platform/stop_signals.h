// Turns SIGINT and SIGTERM into a run-loop callback. The handler only writes
// the signal's number into a pipe that the loop watches, so the callback runs
// on the loop's thread like any other event.
#pragma once

#include <functional>

#include "platform/run_loop.h"

namespace vgps {

// Installs the handlers (once per process) and a source on `loop` that calls
// `on_signal` with each signal's number. False when the pipe cannot be made.
bool watch_stop_signals(RunLoop* loop, std::function<void(int sig)> on_signal);

}  // namespace vgps
