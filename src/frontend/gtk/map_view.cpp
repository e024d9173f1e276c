#include "frontend/gtk/map_view.h"

#include <algorithm>
#include <cmath>

#include "uikit/MKAnnotationView.h"

namespace vgps::gtkfe {
namespace {

constexpr double kTileSize = 256;
constexpr double kMaxMercatorLatitude = 85.05112878;
// The pin: a head on a needle whose tip is the widget's centre (markers
// are centred on their coordinate), so the lower half stays empty.
constexpr int kPinWidth = 22, kPinHeight = 56;
constexpr int kCalloutGap = 2;

double mercator_y(double latitude) {
    const double phi = std::clamp(latitude, -kMaxMercatorLatitude, kMaxMercatorLatitude) * M_PI / 180;
    return std::log(std::tan(M_PI / 4 + phi / 2));
}

GdkRGBA pin_color(int color, std::string* name) {
    switch (color) {
        case MKPinAnnotationColorGreen:
            *name = "green";
            return {0.22f, 0.66f, 0.21f, 1};
        case MKPinAnnotationColorPurple:
            *name = "purple";
            return {0.58f, 0.25f, 0.78f, 1};
        default:
            *name = "red";
            return {0.86f, 0.18f, 0.16f, 1};
    }
}

void draw_pin(GtkDrawingArea* /*area*/, cairo_t* cr, int width, int height, gpointer data) {
    const GdkRGBA& c = *static_cast<const GdkRGBA*>(data);
    const double cx = width / 2.0, tip = height / 2.0;
    const double r = width / 2.0 - 2;
    const double head = r + 1.5;
    // Shadow at the tip, needle, then the head with a light spot.
    cairo_set_source_rgba(cr, 0, 0, 0, 0.25);
    cairo_save(cr);
    cairo_translate(cr, cx, tip);
    cairo_scale(cr, 1, 0.4);
    cairo_arc(cr, 0, 0, 4, 0, 2 * M_PI);
    cairo_restore(cr);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0.35, 0.35, 0.38);
    cairo_set_line_width(cr, 2);
    cairo_move_to(cr, cx, head + r - 2);
    cairo_line_to(cr, cx, tip);
    cairo_stroke(cr);
    cairo_pattern_t* shade = cairo_pattern_create_radial(cx - r / 3, head - r / 3, 1, cx, head, r);
    cairo_pattern_add_color_stop_rgb(shade, 0, std::min(1.0, c.red + 0.45), std::min(1.0, c.green + 0.45),
                                     std::min(1.0, c.blue + 0.45));
    cairo_pattern_add_color_stop_rgb(shade, 1, c.red * 0.8, c.green * 0.8, c.blue * 0.8);
    cairo_arc(cr, cx, head, r, 0, 2 * M_PI);
    cairo_set_source(cr, shade);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(shade);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.45);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

std::string text_of(GtkWidget* label) { return gtk_label_get_text(GTK_LABEL(label)); }

}  // namespace

double zoom_for_region(const MKCoordinateRegion& region, double width, double height, double minZoom, double maxZoom) {
    const double lonSpan = std::max(region.span.longitudeDelta, 1e-9);
    const double lat = region.center.latitude, half = region.span.latitudeDelta / 2;
    const double ySpan = std::max(std::fabs(mercator_y(lat + half) - mercator_y(lat - half)), 1e-12);
    // World width: 360 degrees of longitude, or 2 pi of Mercator y, is
    // kTileSize * 2^zoom pixels.
    const double zx = std::log2(std::max(width, 1.0) * 360 / (kTileSize * lonSpan));
    const double zy = std::log2(std::max(height, 1.0) * 2 * M_PI / (kTileSize * ySpan));
    return std::clamp(std::min(zx, zy), minZoom, maxZoom);
}

MapContent::MapContent(const TileConfig& tiles) : offline_(tiles.offline) {
    map_ = shumate_simple_map_new();
    g_object_ref_sink(map_);
    gtk_widget_add_css_class(GTK_WIDGET(map_), "vgps-map");
    if (offline_) gtk_widget_add_css_class(GTK_WIDGET(map_), "vgps-offline");
    ShumateMapSource* source = tile_map_source_new(tiles);
    shumate_simple_map_set_map_source(map_, source);
    g_object_unref(source);
    shumate_simple_map_set_show_zoom_buttons(map_, FALSE);
    // The screens put the banner over the map's lower edge: the tiles'
    // attribution and the scale go to the top, where they stay visible.
    gtk_widget_set_valign(GTK_WIDGET(shumate_simple_map_get_license(map_)), GTK_ALIGN_START);
    // Offline nothing is shown that needs crediting.
    gtk_widget_set_visible(GTK_WIDGET(shumate_simple_map_get_license(map_)), !offline_);
    gtk_widget_set_valign(GTK_WIDGET(shumate_simple_map_get_scale(map_)), GTK_ALIGN_START);
    shumate_scale_set_unit(shumate_simple_map_get_scale(map_), SHUMATE_UNIT_METRIC);
    ShumateViewport* viewport = shumate_simple_map_get_viewport(map_);
    markers_ = shumate_marker_layer_new(viewport);
    shumate_simple_map_add_overlay_layer(map_, SHUMATE_LAYER(markers_));
}

MapContent::~MapContent() {
    for (Pin* pin : pins_) delete pin;
    g_object_unref(map_);
}

void MapContent::addPin() {
    auto* pin = new Pin();
    pin->marker = shumate_marker_new();
    pin->pinArea = gtk_drawing_area_new();
    gtk_widget_set_size_request(pin->pinArea, kPinWidth, kPinHeight);
    gtk_drawing_area_set_draw_func(GTK_DRAWING_AREA(pin->pinArea), draw_pin, &pin->color, nullptr);
    shumate_marker_set_child(pin->marker, pin->pinArea);
    // A click on the pin shows or hides its callout.
    GtkGesture* click = gtk_gesture_click_new();
    g_signal_connect(click, "released", G_CALLBACK(+[](GtkGestureClick*, int, double, double, gpointer data) {
                         auto* p = static_cast<Pin*>(data);
                         if (!p->canShowCallout) return;
                         p->calloutShown = !p->calloutShown;
                         gtk_widget_set_visible(GTK_WIDGET(p->callout), p->calloutShown);
                     }),
                     pin);
    gtk_widget_add_controller(pin->pinArea, GTK_EVENT_CONTROLLER(click));

    pin->callout = shumate_marker_new();
    pin->box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_add_css_class(pin->box, "vgps-callout");
    gtk_widget_set_halign(pin->box, GTK_ALIGN_CENTER);
    pin->title = gtk_label_new(nullptr);
    gtk_widget_add_css_class(pin->title, "vgps-callout-title");
    pin->subtitle = gtk_label_new(nullptr);
    gtk_widget_add_css_class(pin->subtitle, "vgps-callout-subtitle");
    gtk_box_append(GTK_BOX(pin->box), pin->title);
    gtk_box_append(GTK_BOX(pin->box), pin->subtitle);
    shumate_marker_set_child(pin->callout, pin->box);
    gtk_widget_set_can_target(GTK_WIDGET(pin->callout), FALSE);

    shumate_marker_layer_add_marker(markers_, pin->callout);
    shumate_marker_layer_add_marker(markers_, pin->marker);
    pins_.push_back(pin);
}

void MapContent::removeLastPin() {
    Pin* pin = pins_.back();
    pins_.pop_back();
    shumate_marker_layer_remove_marker(markers_, pin->marker);
    shumate_marker_layer_remove_marker(markers_, pin->callout);
    delete pin;
}

void MapContent::placeCallout(Pin& pin) {
    // Markers are centred on their coordinate: a bottom margin as tall as
    // the box and the pin's upper half puts the box just above the head.
    int min_h, nat_h;
    gtk_widget_set_margin_bottom(pin.box, 0);
    gtk_widget_measure(pin.box, GTK_ORIENTATION_VERTICAL, -1, &min_h, &nat_h, nullptr, nullptr);
    gtk_widget_set_margin_bottom(pin.box, nat_h + kPinHeight + 2 * kCalloutGap);
}

void MapContent::update(const MKMapView& map, double width, double height) {
    // The pins: one per annotation with a valid coordinate, in order.
    Look now{map.region(), width, height, {}};
    std::vector<std::shared_ptr<MKAnnotation>> shown;
    for (const auto& a : map.annotations()) {
        if (!CLLocationCoordinate2DIsValid(a->coordinate())) continue;
        shown.push_back(a);
        const MKAnnotationView* view = map.viewForAnnotation(a.get());
        const auto* pinView = dynamic_cast<const MKPinAnnotationView*>(view);
        now.pins.push_back({a->coordinate(), pinView != nullptr ? pinView->pinColor() : MKPinAnnotationColorRed,
                            a->title(), a->subtitle(), view != nullptr && view->canShowCallout()});
    }
    if (look_ && *look_ == now) return;

    while (pins_.size() < shown.size()) addPin();
    while (pins_.size() > shown.size()) removeLastPin();
    for (size_t i = 0; i < shown.size(); ++i) {
        Pin& pin = *pins_[i];
        const PinLook& p = now.pins[i];
        pin.color = pin_color(p.color, &pin.colorName);
        gtk_widget_queue_draw(pin.pinArea);
        pin.latitude = p.coordinate.latitude;
        pin.longitude = p.coordinate.longitude;
        shumate_location_set_location(SHUMATE_LOCATION(pin.marker), pin.latitude, pin.longitude);
        shumate_location_set_location(SHUMATE_LOCATION(pin.callout), pin.latitude, pin.longitude);
        pin.canShowCallout = p.canShowCallout && (p.title || p.subtitle);
        gtk_label_set_text(GTK_LABEL(pin.title), p.title.value_or("").c_str());
        gtk_label_set_text(GTK_LABEL(pin.subtitle), p.subtitle.value_or("").c_str());
        gtk_widget_set_visible(pin.title, p.title.has_value());
        gtk_widget_set_visible(pin.subtitle, p.subtitle.has_value());
        placeCallout(pin);
        gtk_widget_set_visible(GTK_WIDGET(pin.callout), pin.canShowCallout && pin.calloutShown);
    }

    // The region: centre and a zoom at which its span fits.
    if (!look_ || !(look_->region == now.region) || look_->width != width || look_->height != height) {
        ShumateViewport* viewport = shumate_simple_map_get_viewport(map_);
        shumate_viewport_set_zoom_level(viewport, zoom_for_region(now.region, width, height));
        shumate_map_center_on(shumate_simple_map_get_map(map_), now.region.center.latitude,
                              now.region.center.longitude);
    }
    look_ = std::move(now);
}

JSON MapContent::dump() const {
    ShumateViewport* viewport = shumate_simple_map_get_viewport(map_);
    JSON out = JSON::object();
    out["center"] = JSON::array({shumate_location_get_latitude(SHUMATE_LOCATION(viewport)),
                                 shumate_location_get_longitude(SHUMATE_LOCATION(viewport))});
    out["zoom"] = shumate_viewport_get_zoom_level(viewport);
    out["tiles"] = offline_ ? "offline" : "online";
    ShumateMapSource* source = shumate_simple_map_get_map_source(map_);
    const char* license = source != nullptr ? shumate_map_source_get_license(source) : nullptr;
    out["attribution"] = license != nullptr ? JSON(license) : JSON(nullptr);
    JSON pins = JSON::array();
    for (const Pin* pin : pins_) {
        JSON p = JSON::object();
        p["coordinate"] = JSON::array({pin->latitude, pin->longitude});
        p["color"] = pin->colorName;
        p["title"] = text_of(pin->title);
        p["subtitle"] = text_of(pin->subtitle);
        p["callout"] = bool(gtk_widget_get_visible(GTK_WIDGET(pin->callout)));
        pins.push_back(std::move(p));
    }
    out["pins"] = std::move(pins);
    return out;
}

}  // namespace vgps::gtkfe
