// The map view in a terminal: a canvas of Braille dots (2 across and 4
// down per cell, each dot 4 by 4 points) with a light grid, the recent
// track as fainter dots, a pin per annotation with its callout beside it,
// and a scale bar in metres.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frontend/terminal/screen_buffer.h"
#include "uikit/MKMapView.h"

namespace vgps::term {

// Where coordinates fall on the map view: the region's centre in the middle
// of the view, its span fitted inside the view (the larger of the two
// scales wins), north up, on a local flat projection.
class MapProjection {
public:
    static constexpr double kMetresPerDegree = 111319.49;  // on the equator of a 6378137 m sphere

    MapProjection(const MKCoordinateRegion& region, const CGRect& frame);
    // The point of a coordinate, in the frame's coordinates (window points).
    CGPoint pointFor(CLLocationCoordinate2D coordinate) const;
    CLLocationCoordinate2D coordinateAt(CGPoint point) const;
    double metresPerPoint() const { return metresPerPoint_; }
    double metresPerDegreeOfLongitude() const { return kMetresPerDegree * cosLatitude_; }

private:
    CLLocationCoordinate2D centre_;
    CGPoint middle_;
    double cosLatitude_;
    double metresPerPoint_;
};

// The longest of 1, 2 and 5 times a power of ten that is at most `metres`
// (1 when `metres` is below 1).
double nice_length(double metres);
// "200 m", "5 km".
std::string scale_label(double metres);

// Dots over a block of cells, in layers (a cell shows the dots of its
// highest layer).
class DotCanvas {
public:
    enum Layer : uint8_t { kGrid = 1, kTrack = 2, kBar = 4 };

    explicit DotCanvas(const CellRect& area);
    const CellRect& area() const { return area_; }
    int width() const { return area_.cols * 2; }
    int height() const { return area_.lines * 4; }
    // The dot holding a point (window points); false when outside.
    bool dotAt(CGPoint point, int* x, int* y) const;
    void set(int x, int y, Layer layer);
    // The dots of a cell (relative to the area) on `layer`, as Braille bits.
    uint8_t bits(int col, int line, Layer layer) const;
    // The highest layer with dots in the cell, 0 for none.
    uint8_t topLayer(int col, int line) const;

private:
    CellRect area_;
    std::vector<uint8_t> dots_;  // layers per dot
};

// What a drawn map shows, for tests and focus.
struct MapDrawing {
    std::vector<CellRect> pins;  // one per annotation on the canvas
    CellRect callout;
    double scaleMetres = 0;
};

// Draws `map`, whose frame is `frame` (window points), on the cells of
// `area` (what is visible of it); `track` holds earlier positions, oldest
// first.
MapDrawing draw_map(ScreenBuffer& buffer, const MKMapView& map, const CGRect& frame, const CellRect& area,
                    const std::vector<CLLocationCoordinate2D>& track, const Glyphs& glyphs);

}  // namespace vgps::term
