#include "frontend/gtk/GtkFrontEnd.h"

#include <shumate/shumate.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "frontend/gtk/glib_loop.h"
#include "frontend/gtk/mirror.h"
#include "frontend/gtk/tile_source.h"
#include "frontend/gtk/view_box.h"
#include "platform/log.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIScrollView.h"
#include "uikit/UIWindow.h"

namespace vgps {
namespace {

// A finger that moves this far (pixels) scrolls instead of tapping.
constexpr double kDragThreshold = 8;

const char kStyle[] = R"css(
.vgps-button { min-height: 0; min-width: 0; padding: 0; margin: 0; border: none; border-radius: 0;
  background: none; box-shadow: none; outline: none; }
.vgps-button.vgps-highlighted { background: rgba(0, 0, 0, 0.15); }
.vgps-button.vgps-bar-button { border: 1px solid rgba(0, 0, 0, 0.5); border-radius: 6px;
  background: linear-gradient(rgba(255, 255, 255, 0.22), rgba(0, 0, 0, 0.12));
  box-shadow: inset 0 1px rgba(255, 255, 255, 0.25); }
.vgps-button.vgps-bar-button.vgps-highlighted { background: rgba(0, 0, 0, 0.3); }
spinner.vgps-white { color: white; }
spinner.vgps-gray { color: #7f7f7f; }
.vgps-section-header, .vgps-section-footer { text-shadow: 0 1px rgba(255, 255, 255, 0.85); }
.vgps-map { background-color: #ebe7dc; }
.vgps-callout { background-color: white; border-radius: 8px; padding: 3px 9px;
  box-shadow: 0 1px 4px rgba(0, 0, 0, 0.5); }
.vgps-callout-title { font-weight: bold; font-size: 13px; color: black; }
.vgps-callout-subtitle { font-size: 11px; color: #333333; }
switch.vgps-alternate:checked { background-color: #f7941d; }
window.vgps-alert .vgps-alert-title { font-weight: bold; font-size: 17px; }
window.vgps-alert .vgps-alert-message { font-size: 15px; }
)css";

void load_style() {
    static bool loaded = false;
    if (loaded) return;
    loaded = true;
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, kStyle, -1);
    gtk_style_context_add_provider_for_display(gdk_display_get_default(), GTK_STYLE_PROVIDER(provider),
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
}

bool truthy(const char* value) {
    return value != nullptr && (std::strcmp(value, "1") == 0 || g_ascii_strcasecmp(value, "true") == 0 ||
                                g_ascii_strcasecmp(value, "yes") == 0);
}

// Whether a press at (x, y) belongs to a widget that takes its own:
// switches and maps. Returns that widget.
GtkWidget* own_press_taker(GtkWidget* stage, double x, double y) {
    GtkWidget* picked = gtk_widget_pick(stage, x, y, GTK_PICK_DEFAULT);
    if (picked == nullptr) return nullptr;
    if (GtkWidget* sw = gtk_widget_get_ancestor(picked, GTK_TYPE_SWITCH)) return sw;
    return gtk_widget_get_ancestor(picked, SHUMATE_TYPE_SIMPLE_MAP);
}

std::string alert_signature(const UIAlertView& alert) {
    std::string s = alert.title().value_or("\x01") + '\0' + alert.message().value_or("\x01");
    for (const auto& b : alert.buttonTitles()) s += '\0' + b;
    return s;
}

}  // namespace

GtkFrontEndOptions GtkFrontEndOptions::fromEnvironment() {
    GtkFrontEndOptions options;
    options.offline = truthy(std::getenv("VEXOD_GPS_OFFLINE"));
    if (const char* url = std::getenv("VEXOD_GPS_TILE_URL"); url != nullptr && *url != '\0') {
        if (gtkfe::tile_url_template_valid(url)) {
            options.tileUrl = url;
        } else {
            log_error("<%s> VEXOD_GPS_TILE_URL \"%s\" is not an http(s) URL with {z}, {x} and {y}; using the default",
                      "+[GtkFrontEndOptions fromEnvironment]", url);
        }
    }
    return options;
}

std::string gtk_front_end_user_agent() {
    std::string agent = "vexod-gps/" VGPS_VERSION;
    const std::string contact = VGPS_CONTACT;
    agent += contact.empty() ? " (GPS receiver viewer; libshumate)" : " (+" + contact + ")";
    return agent;
}

bool gtk_front_end_init(std::string* error) {
    static int state = 0;  // 0 not tried, 1 up, -1 no display
    if (state == 0) {
        // Numbers are shown as the C locale writes them ("%f" with a dot),
        // whatever the desktop's language.
        gtk_disable_setlocale();
        state = gtk_init_check() ? 1 : -1;
    }
    if (state < 0 && error != nullptr) {
        *error = "GTK cannot open a display (is DISPLAY or WAYLAND_DISPLAY set?)";
    }
    return state > 0;
}

GtkFrontEnd::GtkFrontEnd(UIApplication* app, const GtkFrontEndOptions& options)
    : app_(app), options_(options), closeHandler_([app] { app->stop(); }) {}

std::unique_ptr<GtkFrontEnd> GtkFrontEnd::open(UIApplication* app, const GtkFrontEndOptions& options,
                                               std::string* error) {
    if (!gtk_front_end_init(error)) return nullptr;
    std::unique_ptr<GtkFrontEnd> front(new GtkFrontEnd(app, options));
    if (!front->start(error)) return nullptr;
    return front;
}

bool GtkFrontEnd::start(std::string* error) {
    join_ = std::make_unique<GLibLoopJoin>(app_->runLoop());
    if (!join_->ok()) {
        if (error != nullptr) *error = "GLib's main context cannot be joined to the run loop";
        return false;
    }
    join_->setBeforePrepare([this] { beforeWait(); });
    load_style();

    const double scale = options_.scale > 0 ? options_.scale : 1;
    options_.scale = scale;
    window_ = GTK_WINDOW(gtk_window_new());
    gtk_window_set_title(window_, options_.title.c_str());
    gtk_window_set_icon_name(window_, "vexod-gps");
    gtk_window_set_titlebar(window_, header_new());
    g_signal_connect(window_, "close-request", G_CALLBACK(+[](GtkWindow*, gpointer self) -> gboolean {
                         auto* front = static_cast<GtkFrontEnd*>(self);
                         if (front->closeHandler_) front->closeHandler_();
                         return TRUE;
                     }),
                     this);

    stage_ = gtkfe::view_box_new(scale);
    gtkfe::ViewBoxLook& look = gtkfe::view_box_look(stage_);
    look.boundsOrigin = {0, UIScreen::kStatusBarHeight};
    look.background = UIColor::whiteColor();
    look.clips = true;
    look.allocated = [this](int w, int h) { stageAllocated(w, h); };
    // The window opens at its natural size: the header bar and whatever
    // the theme puts around it, and the screen below the status bar.
    const CGSize screen = app_->mainScreen()->bounds().size;
    look.natural = {std::round(screen.width * scale), std::round((screen.height - UIScreen::kStatusBarHeight) * scale)};
    gtkfe::view_box_changed(stage_, true);
    gtk_widget_set_size_request(stage_, int(160 * scale), int(200 * scale));
    gtk_window_set_child(window_, stage_);

    // Every press of the window goes to the toolkit as a finger, except on
    // the widgets that take their own: switches (their toggle is sent as a
    // tap) and maps (dragged and zoomed in GTK).
    GtkGesture* drag = gtk_gesture_drag_new();
    gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(drag), GTK_PHASE_CAPTURE);
    g_signal_connect(drag, "drag-begin", G_CALLBACK(+[](GtkGestureDrag* g, double x, double y, gpointer self) {
                         auto* front = static_cast<GtkFrontEnd*>(self);
                         if (own_press_taker(front->stage_, x, y) != nullptr) {
                             gtk_gesture_set_state(GTK_GESTURE(g), GTK_EVENT_SEQUENCE_DENIED);
                             return;
                         }
                         gtk_gesture_set_state(GTK_GESTURE(g), GTK_EVENT_SEQUENCE_CLAIMED);
                         front->pointerPressed(x, y);
                     }),
                     this);
    g_signal_connect(drag, "drag-update", G_CALLBACK(+[](GtkGestureDrag*, double dx, double dy, gpointer self) {
                         static_cast<GtkFrontEnd*>(self)->pointerMoved(dx, dy);
                     }),
                     this);
    g_signal_connect(drag, "drag-end", G_CALLBACK(+[](GtkGestureDrag* g, double dx, double dy, gpointer self) {
                         double x = 0;
                         double y = 0;
                         gtk_gesture_drag_get_start_point(g, &x, &y);
                         static_cast<GtkFrontEnd*>(self)->pointerReleased(x + dx, y + dy);
                     }),
                     this);
    g_signal_connect(drag, "cancel", G_CALLBACK(+[](GtkGesture*, GdkEventSequence*, gpointer self) {
                         auto* front = static_cast<GtkFrontEnd*>(self);
                         if (!front->tracking_) return;
                         front->tracking_ = false;
                         front->app_->touchUpAtPoint({-1e6, -1e6});
                     }),
                     this);
    gtk_widget_add_controller(stage_, GTK_EVENT_CONTROLLER(drag));

    gtkfe::TileConfig tiles;
    tiles.offline = options_.offline;
    if (!options_.tileUrl.empty()) tiles.urlTemplate = options_.tileUrl;
    tiles.userAgent = gtk_front_end_user_agent();
    tiles.cacheDir = !options_.cacheDir.empty()
                         ? options_.cacheDir
                         : std::string(g_get_user_cache_dir()) + "/vexod-gps/tiles";
    mirror_ = std::make_unique<gtkfe::Mirror>(app_, stage_, scale, tiles);
    app_->setDisplayObserver(this);
    mirror_->rebuild();

    gtk_window_present(window_);
    clock_ = gtk_widget_get_frame_clock(GTK_WIDGET(window_));
    if (clock_ != nullptr) {
        g_object_ref(clock_);
        paintHandler_ = g_signal_connect(clock_, "after-paint", G_CALLBACK(+[](GdkFrameClock*, gpointer self) {
                                             ++static_cast<GtkFrontEnd*>(self)->frames_;
                                         }),
                                         this);
    }
    syncAlert();
    return true;
}

GtkWidget* GtkFrontEnd::header_new() {
    // The title, and under it a subtitle the application fills with what
    // it tells beside the screens (hidden while empty). A phone-size header
    // leaves the titles little room between the window's buttons: only the
    // close button is shown, as on a phone's desktop, the subtitle takes up
    // to two lines, and its whole text is the tooltip.
    GtkWidget* header = gtk_header_bar_new();
    gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(header), ":close");
    GtkWidget* titles = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_valign(titles, GTK_ALIGN_CENTER);
    GtkWidget* title = gtk_label_new(options_.title.c_str());
    gtk_widget_add_css_class(title, "title");
    subtitle_ = gtk_label_new("");
    gtk_widget_add_css_class(subtitle_, "subtitle");
    gtk_label_set_wrap(GTK_LABEL(subtitle_), TRUE);
    gtk_label_set_lines(GTK_LABEL(subtitle_), 2);
    gtk_label_set_ellipsize(GTK_LABEL(subtitle_), PANGO_ELLIPSIZE_END);
    gtk_label_set_justify(GTK_LABEL(subtitle_), GTK_JUSTIFY_CENTER);
    gtk_label_set_max_width_chars(GTK_LABEL(subtitle_), 34);
    gtk_box_append(GTK_BOX(titles), title);
    gtk_box_append(GTK_BOX(titles), subtitle_);
    gtk_header_bar_set_title_widget(GTK_HEADER_BAR(header), titles);
    // As tall from the start as with a subtitle of two lines, so that one
    // appearing takes no pixels from the screen.
    gtk_label_set_text(GTK_LABEL(subtitle_), "1\n2");
    int height = 0;
    gtk_widget_measure(header, GTK_ORIENTATION_VERTICAL, -1, nullptr, &height, nullptr, nullptr);
    gtk_widget_set_size_request(header, -1, height);
    gtk_label_set_text(GTK_LABEL(subtitle_), "");
    gtk_widget_set_visible(subtitle_, FALSE);
    return header;
}

void GtkFrontEnd::setSubtitle(const std::string& text) {
    if (text == gtk_label_get_text(GTK_LABEL(subtitle_))) return;
    gtk_label_set_text(GTK_LABEL(subtitle_), text.c_str());
    gtk_widget_set_tooltip_text(subtitle_, text.empty() ? nullptr : text.c_str());
    gtk_widget_set_visible(subtitle_, !text.empty());
}

std::string GtkFrontEnd::subtitle() const { return gtk_label_get_text(GTK_LABEL(subtitle_)); }

GtkFrontEnd::~GtkFrontEnd() {
    app_->setDisplayObserver(nullptr);
    closeAlert();
    mirror_.reset();
    if (clock_ != nullptr) {
        g_signal_handler_disconnect(clock_, paintHandler_);
        g_object_unref(clock_);
    }
    if (window_ != nullptr) gtk_window_destroy(window_);
    // What GTK still has to do for the window goes before the loop lets go
    // (a bounded number of rounds: nothing may keep it here).
    for (int i = 0; i < 100 && g_main_context_pending(nullptr); ++i) g_main_context_iteration(nullptr, FALSE);
    join_.reset();
}

GtkWidget* GtkFrontEnd::boxForView(uint64_t viewId) const { return mirror_->boxFor(viewId); }

GtkWidget* GtkFrontEnd::widgetForView(uint64_t viewId) const {
    GtkWidget* content = mirror_->contentFor(viewId);
    return content != nullptr ? content : mirror_->boxFor(viewId);
}

void GtkFrontEnd::beforeWait() {
    if (resizePending_) {
        resizePending_ = false;
        app_->setScreenSize(pendingSize_);
    }
    app_->displayIfNeeded();
    if (mirror_->refreshPending()) changedAt_ = frames_;
}

void GtkFrontEnd::applicationNeedsDisplay(UIApplication* /*app*/, const UIDisplayChanges& changes) {
    changedAt_ = frames_;
    mirror_->apply(changes);
    if (changes.alerts) syncAlert();
}

void GtkFrontEnd::stageAllocated(int width, int height) {
    // The toolkit is told on the next turn, never from inside GTK's layout.
    const double s = options_.scale;
    const CGSize size{width / s, height / s + UIScreen::kStatusBarHeight};
    const CGSize current = app_->mainScreen()->bounds().size;
    if (std::fabs(size.width - current.width) < 0.5 / s && std::fabs(size.height - current.height) < 0.5 / s) return;
    pendingSize_ = size;
    resizePending_ = true;
}

CGPoint GtkFrontEnd::toPoints(double x, double y) const {
    const CGPoint origin = gtkfe::view_box_look(stage_).boundsOrigin;
    return {x / options_.scale + origin.x, y / options_.scale + origin.y};
}

void GtkFrontEnd::click(double x, double y) {
    if (GtkWidget* own = own_press_taker(stage_, x, y)) {
        // What the switch's own click ends in; the map keeps its clicks.
        if (GTK_IS_SWITCH(own)) gtk_switch_set_active(GTK_SWITCH(own), !gtk_switch_get_active(GTK_SWITCH(own)));
        return;
    }
    pointerPressed(x, y);
    pointerReleased(x, y);
}

void GtkFrontEnd::pointerPressed(double x, double y) {
    tracking_ = true;
    scrolling_ = false;
    dragX_ = dragY_ = 0;
    downPoint_ = toPoints(x, y);
    app_->touchDownAtPoint(downPoint_);
}

void GtkFrontEnd::pointerMoved(double dx, double dy) {
    if (!tracking_) return;
    if (!scrolling_ && std::hypot(dx, dy) > kDragThreshold) {
        // The finger slid: no tap, the scroll view under it follows.
        scrolling_ = true;
        app_->touchUpAtPoint({-1e6, -1e6});
    }
    if (!scrolling_ || app_->keyWindow() == nullptr) return;
    for (UIView* v = app_->keyWindow()->hitTest(downPoint_); v != nullptr; v = v->superview()) {
        if (auto* scroll = dynamic_cast<UIScrollView*>(v)) {
            scroll->scrollBy({-(dx - dragX_) / options_.scale, -(dy - dragY_) / options_.scale});
            break;
        }
    }
    dragX_ = dx;
    dragY_ = dy;
}

void GtkFrontEnd::pointerReleased(double x, double y) {
    if (!tracking_) return;
    tracking_ = false;
    if (!scrolling_) app_->touchUpAtPoint(toPoints(x, y));
}

// --- alerts: the toolkit's first alert as a modal dialog over the window

void GtkFrontEnd::syncAlert() {
    UIAlertView* alert = app_->visibleAlert();
    if (alert == nullptr) {
        closeAlert();
        return;
    }
    const std::string signature = alert_signature(*alert);
    if (dialog_ != nullptr && dialogAlert_ == alert &&
        signature == static_cast<const char*>(g_object_get_data(G_OBJECT(dialog_), "vgps-signature"))) {
        return;
    }
    closeAlert();
    dialogAlert_ = alert;
    dialog_ = GTK_WINDOW(gtk_window_new());
    g_object_set_data_full(G_OBJECT(dialog_), "vgps-signature", g_strdup(signature.c_str()), g_free);
    gtk_widget_add_css_class(GTK_WIDGET(dialog_), "vgps-alert");
    gtk_window_set_title(dialog_, options_.title.c_str());
    gtk_window_set_transient_for(dialog_, window_);
    gtk_window_set_modal(dialog_, TRUE);
    gtk_window_set_resizable(dialog_, FALSE);
    gtk_window_set_default_size(dialog_, int(std::lround(UIAlertView::kWidth * options_.scale)), -1);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 10);
    gtk_widget_set_margin_top(box, 18);
    gtk_widget_set_margin_bottom(box, 14);
    gtk_widget_set_margin_start(box, 16);
    gtk_widget_set_margin_end(box, 16);
    auto add_text = [box](const std::optional<std::string>& text, const char* css) {
        if (!text) return;
        GtkWidget* label = gtk_label_new(text->c_str());
        gtk_widget_add_css_class(label, css);
        gtk_label_set_wrap(GTK_LABEL(label), TRUE);
        gtk_label_set_max_width_chars(GTK_LABEL(label), 30);
        gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
        gtk_box_append(GTK_BOX(box), label);
    };
    add_text(alert->title(), "vgps-alert-title");
    add_text(alert->message(), "vgps-alert-message");
    // Two buttons side by side, else one above the other, as the toolkit
    // lays them out.
    const int count = alert->numberOfButtons();
    GtkWidget* buttons = gtk_box_new(count == 2 ? GTK_ORIENTATION_HORIZONTAL : GTK_ORIENTATION_VERTICAL, 8);
    gtk_box_set_homogeneous(GTK_BOX(buttons), TRUE);
    gtk_widget_set_margin_top(buttons, 6);
    for (int i = 0; i < count; ++i) {
        GtkWidget* button = gtk_button_new_with_label(alert->buttonTitleAtIndex(i).c_str());
        g_object_set_data(G_OBJECT(button), "vgps-index", GINT_TO_POINTER(i));
        g_signal_connect(button, "clicked", G_CALLBACK(+[](GtkButton* b, gpointer self) {
                             static_cast<GtkFrontEnd*>(self)->alertButton(
                                 GPOINTER_TO_INT(g_object_get_data(G_OBJECT(b), "vgps-index")));
                         }),
                         this);
        gtk_box_append(GTK_BOX(buttons), button);
        if (i == alert->cancelButtonIndex()) gtk_window_set_default_widget(dialog_, button);
    }
    if (count > 0) gtk_box_append(GTK_BOX(box), buttons);
    gtk_window_set_child(dialog_, box);

    // Closing the dialog (or Escape) is its cancel button; an alert
    // without one stays until a button closes it.
    g_signal_connect(dialog_, "close-request", G_CALLBACK(+[](GtkWindow*, gpointer self) -> gboolean {
                         static_cast<GtkFrontEnd*>(self)->cancelAlert();
                         return TRUE;
                     }),
                     this);
    GtkEventController* keys = gtk_shortcut_controller_new();
    gtk_shortcut_controller_add_shortcut(
        GTK_SHORTCUT_CONTROLLER(keys),
        gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_Escape, GdkModifierType(0)),
                         gtk_callback_action_new(
                             +[](GtkWidget*, GVariant*, gpointer self) -> gboolean {
                                 static_cast<GtkFrontEnd*>(self)->cancelAlert();
                                 return TRUE;
                             },
                             this, nullptr)));
    gtk_widget_add_controller(GTK_WIDGET(dialog_), keys);
    gtk_window_present(dialog_);
}

void GtkFrontEnd::closeAlert() {
    if (dialog_ == nullptr) return;
    gtk_window_destroy(dialog_);
    dialog_ = nullptr;
    dialogAlert_ = nullptr;
}

void GtkFrontEnd::cancelAlert() {
    UIAlertView* visible = app_->visibleAlert();
    if (visible != nullptr && visible->cancelButtonIndex() >= 0) alertButton(visible->cancelButtonIndex());
}

void GtkFrontEnd::alertButton(int index) {
    app_->activate(UITappable{UITappable::AlertButton, nullptr, index, {}});
}

JSON GtkFrontEnd::dumpAlert() const {
    if (dialog_ == nullptr) return nullptr;
    JSON out = JSON::object();
    JSON texts = JSON::array();
    JSON buttons = JSON::array();
    GtkWidget* box = gtk_window_get_child(dialog_);
    for (GtkWidget* w = gtk_widget_get_first_child(box); w != nullptr; w = gtk_widget_get_next_sibling(w)) {
        if (GTK_IS_LABEL(w)) {
            texts.push_back(gtk_label_get_text(GTK_LABEL(w)));
        } else {
            for (GtkWidget* b = gtk_widget_get_first_child(w); b != nullptr; b = gtk_widget_get_next_sibling(b)) {
                buttons.push_back(gtk_button_get_label(GTK_BUTTON(b)));
            }
        }
    }
    out["gtk"] = G_OBJECT_TYPE_NAME(dialog_);
    out["modal"] = bool(gtk_window_get_modal(dialog_));
    out["mapped"] = bool(gtk_widget_get_mapped(GTK_WIDGET(dialog_)));
    out["texts"] = std::move(texts);
    out["buttons"] = std::move(buttons);
    return out;
}

// --- what tests and scripts read

JSON GtkFrontEnd::dumpWidgets() const {
    JSON out = JSON::object();
    JSON window = JSON::object();
    window["title"] = options_.title;
    window["subtitle"] = subtitle();
    window["width"] = gtk_widget_get_width(stage_);
    window["height"] = gtk_widget_get_height(stage_);
    window["scale"] = options_.scale;
    window["frames"] = frames_;
    out["window"] = std::move(window);
    out["widgets"] = mirror_->dump();
    out["alert"] = dumpAlert();
    return out;
}

bool GtkFrontEnd::screenshot(const std::string& path, std::string* error) const {
    const int w = gtk_widget_get_width(stage_), h = gtk_widget_get_height(stage_);
    GtkNative* native = gtk_widget_get_native(stage_);
    GskRenderer* renderer = native != nullptr ? gtk_native_get_renderer(native) : nullptr;
    if (w <= 0 || h <= 0 || renderer == nullptr) {
        if (error != nullptr) *error = "the window has not been drawn yet";
        return false;
    }
    GtkSnapshot* snapshot = gtk_snapshot_new();
    GdkPaintable* paintable = gtk_widget_paintable_new(stage_);
    gdk_paintable_snapshot(paintable, GDK_SNAPSHOT(snapshot), w, h);
    g_object_unref(paintable);
    // An alert's dialog is a window of its own: it is drawn over the
    // screen, centred on a dimmed window, as a person sees it.
    if (dialog_ != nullptr && gtk_widget_get_mapped(GTK_WIDGET(dialog_))) {
        const int dw = gtk_widget_get_width(GTK_WIDGET(dialog_)), dh = gtk_widget_get_height(GTK_WIDGET(dialog_));
        const GdkRGBA dim{0, 0, 0, 0.45f};
        const graphene_rect_t all = GRAPHENE_RECT_INIT(0, 0, float(w), float(h));
        gtk_snapshot_append_color(snapshot, &dim, &all);
        const graphene_point_t at = GRAPHENE_POINT_INIT(float((w - dw) / 2), float((h - dh) / 2));
        gtk_snapshot_translate(snapshot, &at);
        GdkPaintable* dialog = gtk_widget_paintable_new(GTK_WIDGET(dialog_));
        gdk_paintable_snapshot(dialog, GDK_SNAPSHOT(snapshot), dw, dh);
        g_object_unref(dialog);
    }
    GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
    if (node == nullptr) {
        if (error != nullptr) *error = "the window is being laid out (let it settle first)";
        return false;
    }
    const graphene_rect_t viewport = GRAPHENE_RECT_INIT(0, 0, float(w), float(h));
    GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &viewport);
    gsk_render_node_unref(node);
    GBytes* png = gdk_texture_save_to_png_bytes(texture);
    g_object_unref(texture);
    gsize size = 0;
    const auto* data = static_cast<const gchar*>(g_bytes_get_data(png, &size));
    GError* err = nullptr;
    // A temporary file renamed over the path: never half a picture.
    const bool ok = g_file_set_contents(path.c_str(), data, gssize(size), &err);
    g_bytes_unref(png);
    if (!ok) {
        if (error != nullptr) *error = err->message;
        g_error_free(err);
    }
    return ok;
}

bool GtkFrontEnd::upToDate() const {
    // A frame drawn after the last change to the widgets and after the
    // last request, with nothing left for the toolkit to show.
    return frames_ > std::max(requestedAt_, changedAt_) && !resizePending_ && !app_->needsDisplay();
}

void GtkFrontEnd::requestFrame() {
    requestedAt_ = frames_;
    gtk_widget_queue_draw(stage_);
}

bool GtkFrontEnd::settle(std::chrono::milliseconds timeout) {
    requestFrame();
    return app_->runLoop()->run_until([this] { return upToDate(); }, timeout);
}

}  // namespace vgps
