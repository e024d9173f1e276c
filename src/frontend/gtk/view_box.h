// The GTK widget that stands for one toolkit view: it paints the view's
// background (rounded when the layer says so), clips to its bounds when the
// view does, lets a painter draw what the view adds (table groups, a cell's
// accessory), and places each child widget at a rectangle in points of the
// view's own coordinates, as the toolkit's frames are: at
// (rect - bounds origin) x scale. Its size comes from its parent's
// placement of it, never from its children, so a view box can be any size.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <optional>

#include "uikit/CGGeometry.h"
#include "uikit/UIColor.h"

namespace vgps::gtkfe {

// How a child fills its rectangle: exactly (at least at its minimum size,
// centred on the rectangle when that is larger), or at its natural size
// centred on the rectangle (switches, spinners).
enum class Fit { Fill, Natural };

struct ViewBoxLook {
    double scale = 1;              // pixels per point
    CGPoint boundsOrigin;          // scroll offset, in points
    std::optional<UIColor> background;
    double cornerRadius = 0;       // points
    bool clips = false;
    // Draws between the background and the children, in the box's pixels.
    std::function<void(GtkSnapshot* snapshot, double width, double height)> painter;
    // The size the box asks for when given the choice (pixels).
    CGSize natural;
    // Told of every allocation of the box (pixels).
    std::function<void(int width, int height)> allocated;
};

GType vgps_view_box_get_type();
GtkWidget* view_box_new(double scale);
bool is_view_box(GtkWidget* widget);
// The box's look; change it, then call view_box_changed.
ViewBoxLook& view_box_look(GtkWidget* box);
// Redraws (and, when `relayout`, places the children again).
void view_box_changed(GtkWidget* box, bool relayout);

// Where `child` goes in its parent box, in the parent's coordinates
// (points). The parent is laid out again.
void view_box_place(GtkWidget* child, CGRect rect, Fit fit = Fit::Fill);
std::optional<CGRect> view_box_placement(GtkWidget* child);

// The toolkit view a widget stands for (0: none).
void set_widget_view_id(GtkWidget* widget, uint64_t id);
uint64_t widget_view_id(GtkWidget* widget);

}  // namespace vgps::gtkfe
