// A finger on the toolkit: taps that land where a person's would, on what
// is on screen now. Each tap looks for a point of the window where the
// toolkit's hit test reaches the thing (a row, a button, the switch), so a
// row half hidden under the banner is tapped where it shows, and one that is
// hidden whole is not tapped at all. Used by the script player and by the
// headless front-end's scripted user alike; knows the toolkit only.
#pragma once

#include <optional>
#include <string>

#include "uikit/CGGeometry.h"
#include "uikit/NSIndexPath.h"
#include "uikit/UIApplication.h"
#include "uikit/UITableView.h"
#include "uikit/json_line.h"

namespace vgps::finger {

enum class Tap {
    Done,         // tapped (what follows is the toolkit's and the screen's)
    NotOnScreen,  // no visible spot of it could be touched (or an alert covers it)
    Missing,      // there is no such thing to tap (no alert, no detail button…)
};

// The table of the screen on top: the top of the navigation stack in the key
// window, or the key window's own table screen. Null when there is none.
UITableView* top_table(UIApplication* app);

// A window point where a tap reaches `target`, a control or a table cell
// (for its row), within `area` (window coordinates); none when every such
// point is covered or outside the screen.
std::optional<CGPoint> touch_point(UIApplication* app, UIView* target, CGRect area);

// The row of the top table (not its controls, not its detail button).
Tap tap_row(UIApplication* app, NSIndexPath row);
// The detail-disclosure button of a row of the top table.
Tap tap_detail(UIApplication* app, NSIndexPath row);
// The first button inside a row of the top table.
Tap tap_button_in_row(UIApplication* app, NSIndexPath row);
// The first switch shown in the key window.
Tap tap_switch(UIApplication* app);
// The back button of the navigation bar.
Tap tap_back(UIApplication* app);
// The first button of the alert on screen.
Tap dismiss_alert(UIApplication* app);
// Scrolls the top table as a finger drags it, so that the row comes as
// near the top as the content allows. False when the table has no such row.
bool scroll_to_row(UIApplication* app, NSIndexPath row);

// Whether `text` occurs in a text the window shows: a label, a section
// header or footer, a screen or bar title, a back button, an annotation's
// callout, an alert's title, message or buttons.
bool shows_text(UIApplication* app, const std::string& text);
bool dump_shows_text(const JSON& dump, const std::string& text);

}  // namespace vgps::finger
