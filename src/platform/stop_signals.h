// Turns SIGINT and SIGTERM into a run-loop callback. The handler only writes
// the signal's number into a pipe that the loop watches, so the callback runs
// on the loop's thread like any other event. A wait that blocks the loop's
// thread (a request waiting for its answer) watches the same pipe, so that a
// stop is never kept waiting by a slow peer.
#pragma once

#include <chrono>
#include <functional>

#include "platform/run_loop.h"

namespace vgps {

// Installs the handlers (once per process) and a source on `loop` that calls
// `on_signal` with each signal's number. False when the pipe cannot be made.
bool watch_stop_signals(RunLoop* loop, std::function<void(int sig)> on_signal);

// Raises a stop `delay` from now: SIGALRM, handled like SIGINT and SIGTERM
// (a time limit on the whole run). Needs watch_stop_signals first; false
// without it or when the timer cannot be set.
bool stop_after(std::chrono::milliseconds delay);

// The first stop signal caught (SIGINT, SIGTERM or, through stop_after,
// SIGALRM); 0 while none has come.
int stop_signal_received();

// The pipe's read end, readable from the moment a stop signal is caught
// until the loop's source has read it; -1 before watch_stop_signals. Waits
// watch it and check stop_signal_received() first (see wait_fd).
int stop_signal_descriptor();

}  // namespace vgps
