// The application in a terminal: its screens (main screen, GPS inspector)
// drawn by the terminal front-end, a person's keys and clicks as taps. A
// script (--script) may play the user here too; its dumps and complaints
// are held while the terminal is in use and written out once it is given
// back, as are log lines when stderr is the terminal.
#pragma once

#include "app/front_end.h"

namespace vgps {

// Exit status: 0 the person quit (q, Ctrl-C), SIGINT or SIGTERM, or the
// script ended; 1 the terminal cannot be used, the daemon was never
// reachable, or it went away (once its alert is dismissed); 2 a script that
// cannot be read; 3 --timeout; 4 a script's wait-for that ran out of time.
int run_terminal(const AppOptions& options);

}  // namespace vgps
