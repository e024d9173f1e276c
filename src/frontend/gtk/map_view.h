// A toolkit map view shown by a map widget: tiles (or, offline, a plain
// background), the attribution of the tiles' data and a scale, one pin per
// annotation in its pin's colour with the callout's title and subtitle
// above it, centred and zoomed so that the toolkit map's region fits.
#pragma once

#include <gtk/gtk.h>
#include <shumate/shumate.h>

#include <optional>
#include <string>
#include <vector>

#include "frontend/gtk/tile_source.h"
#include "uikit/MKMapView.h"
#include "uikit/json_line.h"

namespace vgps::gtkfe {

// The zoom level at which a region of `span` degrees around `centre`
// fits a map of `width` by `height` pixels with 256-pixel tiles (web
// Mercator), within `minZoom` to `maxZoom`.
double zoom_for_region(const MKCoordinateRegion& region, double width, double height, double minZoom = 0,
                       double maxZoom = 19);

class MapContent {
public:
    explicit MapContent(const TileConfig& tiles);
    ~MapContent();
    MapContent(const MapContent&) = delete;
    MapContent& operator=(const MapContent&) = delete;

    GtkWidget* widget() const { return GTK_WIDGET(map_); }
    // Brings the region and the pins up to date with `map`, shown
    // `width` by `height` pixels.
    void update(const MKMapView& map, double width, double height);
    // {"center":[lat,lon],"zoom":z,"tiles":"online"|"offline","attribution":…,
    //  "pins":[{"coordinate":[lat,lon],"color":"purple","title":…,"subtitle":…,"callout":bool}]}
    JSON dump() const;

private:
    struct Pin {
        ShumateMarker* marker = nullptr;   // the pin, its tip on the coordinate
        ShumateMarker* callout = nullptr;  // the callout box above it
        GtkWidget* pinArea = nullptr;
        GtkWidget* box = nullptr;
        GtkWidget* title = nullptr;
        GtkWidget* subtitle = nullptr;
        GdkRGBA color{};
        std::string colorName;
        bool canShowCallout = false;
        bool calloutShown = true;
        double latitude = 0, longitude = 0;
    };
    void addPin();
    void removeLastPin();
    void placeCallout(Pin& pin);

    // What the map showed when last updated.
    struct PinLook {
        CLLocationCoordinate2D coordinate;
        int color = 0;
        std::optional<std::string> title, subtitle;
        bool canShowCallout = false;
        bool operator==(const PinLook&) const = default;
    };
    struct Look {
        MKCoordinateRegion region;
        double width = 0, height = 0;
        std::vector<PinLook> pins;
        bool operator==(const Look&) const = default;
    };

    bool offline_;
    ShumateSimpleMap* map_;
    ShumateMarkerLayer* markers_;
    std::vector<Pin*> pins_;
    std::optional<Look> look_;
};

}  // namespace vgps::gtkfe
