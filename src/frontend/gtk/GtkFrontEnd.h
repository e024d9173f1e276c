// The desktop front-end: the application's key window mirrored into a
// GTK 4 window (toolkit views as widgets at their frames, the map as a
// libshumate map, alerts as modal dialogs), a person's clicks, keys and
// wheel turned into the toolkit's own touches, and GLib served by the
// application's run loop (glib_loop.h).
//
// The window shows the toolkit's screen below its status bar: a window of
// W by H pixels is a screen of W/scale by H/scale + 20 points. Resizing the
// window resizes the screen.
#pragma once

#include <gtk/gtk.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "uikit/UIApplication.h"
#include "uikit/json_line.h"

namespace vgps {

class GLibLoopJoin;
namespace gtkfe {
class Mirror;
}

struct GtkFrontEndOptions {
    std::string title = "vexod-gps";
    double scale = 1;  // pixels per point
    // No tiles and no network at all: the map is a plain background.
    bool offline = false;
    // Tile URL with {z}, {x} and {y}; empty: OpenStreetMap's standard tiles.
    std::string tileUrl;
    // Tile cache folder; empty: "vexod-gps/tiles" in the user's cache folder.
    std::string cacheDir;

    // The defaults with what the environment sets: VEXOD_GPS_OFFLINE=1
    // (offline), VEXOD_GPS_TILE_URL (tileUrl).
    static GtkFrontEndOptions fromEnvironment();
};

// The User-Agent of the tile requests: the application and its version.
std::string gtk_front_end_user_agent();

// Initialises GTK once; false (with the reason) when no display can be
// opened.
bool gtk_front_end_init(std::string* error);

class GtkFrontEnd : public UIDisplayObserver {
public:
    // Opens the window for `app` (whose run loop then serves GLib); null,
    // with the reason, when GTK has no display.
    static std::unique_ptr<GtkFrontEnd> open(UIApplication* app, const GtkFrontEndOptions& options,
                                             std::string* error);
    ~GtkFrontEnd() override;
    GtkFrontEnd(const GtkFrontEnd&) = delete;
    GtkFrontEnd& operator=(const GtkFrontEnd&) = delete;

    // What closing the window does; by default the application stops.
    void setCloseHandler(std::function<void()> handler) { closeHandler_ = std::move(handler); }

    GtkWindow* window() const { return window_; }
    // The header bar's subtitle under the title ("" hides it): what the
    // application tells beside the screens.
    void setSubtitle(const std::string& text);
    std::string subtitle() const;
    // The widget that stands for a toolkit view, and the one inside it that
    // shows what the view is (a GtkLabel, GtkSwitch…); null when none.
    GtkWidget* boxForView(uint64_t viewId) const;
    GtkWidget* widgetForView(uint64_t viewId) const;
    // The alert dialog on screen, or null.
    GtkWindow* alertDialog() const { return dialog_; }

    // {"window":{"title","subtitle","width","height","scale","frames"},"widgets":[…],"alert":{…}|null}:
    // every widget of the window, depth first in drawing order, with the
    // toolkit view it stands for, its GTK type, its frame in window points
    // as GTK placed it and what it shows.
    JSON dumpWidgets() const;
    // Writes the window as GTK renders it to a PNG file (atomically), with
    // the alert's dialog, if one is up, over it.
    bool screenshot(const std::string& path, std::string* error) const;
    // Whether GTK has drawn a frame with everything the toolkit showed so
    // far; requestFrame() asks for one when none is coming.
    bool upToDate() const;
    void requestFrame();
    // Runs the loop until it is, at most `timeout`. False on time-out.
    bool settle(std::chrono::milliseconds timeout);
    // Frames GTK has drawn so far.
    uint64_t framesDrawn() const { return frames_; }

    // A click of the mouse's primary button at a point of the window in
    // pixels, to whatever takes it there: a switch toggles itself (and its
    // toggle is a tap), a map keeps it, anything else is a finger's tap.
    void click(double x, double y);
    // A finger (or the mouse's primary button) at a point of the window in
    // pixels: what the window's press, motion and release do.
    void pointerPressed(double x, double y);
    void pointerMoved(double dx, double dy);
    void pointerReleased(double x, double y);

    void applicationNeedsDisplay(UIApplication* app, const UIDisplayChanges& changes) override;

private:
    GtkFrontEnd(UIApplication* app, const GtkFrontEndOptions& options);
    bool start(std::string* error);
    GtkWidget* header_new();
    void beforeWait();
    void stageAllocated(int width, int height);
    CGPoint toPoints(double x, double y) const;
    void syncAlert();
    void closeAlert();
    void alertButton(int index);
    void cancelAlert();
    JSON dumpAlert() const;

    UIApplication* app_;
    GtkFrontEndOptions options_;
    std::unique_ptr<GLibLoopJoin> join_;
    std::unique_ptr<gtkfe::Mirror> mirror_;
    GtkWindow* window_ = nullptr;
    GtkWidget* stage_ = nullptr;
    GtkWidget* subtitle_ = nullptr;
    GtkWindow* dialog_ = nullptr;
    const void* dialogAlert_ = nullptr;
    std::function<void()> closeHandler_;
    uint64_t frames_ = 0;
    uint64_t changedAt_ = 0;    // frames_ when the widgets last changed
    uint64_t requestedAt_ = 0;  // frames_ when a frame was last asked for
    gulong paintHandler_ = 0;
    GdkFrameClock* clock_ = nullptr;
    CGSize pendingSize_{};
    bool resizePending_ = false;
    // The finger: where it went down, and whether it became a scroll.
    bool tracking_ = false;
    bool scrolling_ = false;
    CGPoint downPoint_{};
    double dragX_ = 0, dragY_ = 0;
};

}  // namespace vgps
