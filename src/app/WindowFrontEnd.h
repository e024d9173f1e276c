// The desktop front-end: the application's screens in a GTK window
// (frontend/gtk), the user's clicks and keys as the toolkit's taps, the map
// with tiles (none with --offline). With --script the script plays the user
// in the window, with three commands of the window's own:
//   screenshot PATH   the window as GTK draws it, to a PNG file
//   widgets           one line on stdout: {"gtk": the window's widget dump,
//                     "toolkit": the toolkit's dump of the same moment}
//   click X Y         a click at pixel X Y of the window
// Each waits until GTK has drawn what the screens show.
#pragma once

#include "app/ScriptPlayer.h"
#include "app/front_end.h"

namespace vgps {

class GtkFrontEnd;

// The window's script commands, acting on `*window` (set once the window
// is open).
void add_window_commands(ScriptCommands& commands, GtkFrontEnd* const* window);

// Exit status: as run_headless, and 1 when no window can be opened.
int run_window(const AppOptions& options);

}  // namespace vgps
