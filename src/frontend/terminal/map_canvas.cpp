#include "frontend/terminal/map_canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace vgps::term {
namespace {

// Braille bit of the dot at (x, y) of a cell, x 0..1, y 0..3.
constexpr uint8_t kBrailleBit[4][2] = {{0x01, 0x08}, {0x02, 0x10}, {0x04, 0x20}, {0x40, 0x80}};

double wrap_longitude(double degrees) {
    while (degrees > 180) degrees -= 360;
    while (degrees < -180) degrees += 360;
    return degrees;
}

Color pin_color(const MKAnnotationView* view) {
    const auto* pin = dynamic_cast<const MKPinAnnotationView*>(view);
    if (pin == nullptr) return Color::Blue;
    switch (pin->pinColor()) {
        case MKPinAnnotationColorGreen: return Color::Green;
        case MKPinAnnotationColorPurple: return Color::Magenta;
        default: return Color::Red;
    }
}

// Lines of dots along every multiple of the grid length, dotted.
void draw_grid(DotCanvas& canvas, const MapProjection& projection, double metres) {
    const CellRect& a = canvas.area();
    const CGPoint topLeft{a.col * kPointsPerColumn, a.line * kPointsPerLine};
    const CGPoint bottomRight{a.right() * kPointsPerColumn, a.bottom() * kPointsPerLine};
    const CLLocationCoordinate2D north = projection.coordinateAt(topLeft);
    const CLLocationCoordinate2D south = projection.coordinateAt(bottomRight);
    constexpr int kMaxLines = 64;

    const double latStep = metres / MapProjection::kMetresPerDegree;
    const double latFirst = std::ceil(std::max(-90.0, south.latitude) / latStep);
    const double latLast = std::floor(std::min(90.0, north.latitude) / latStep);
    if (latLast - latFirst < kMaxLines) {
        for (double k = latFirst; k <= latLast; ++k) {
            int x, y;
            const CGPoint p = projection.pointFor({k * latStep, north.longitude});
            if (!canvas.dotAt({topLeft.x + 1, p.y}, &x, &y)) continue;
            for (int dx = 0; dx < canvas.width(); dx += 2) canvas.set(dx, y, DotCanvas::kGrid);
        }
    }
    const double lonStep = metres / projection.metresPerDegreeOfLongitude();
    const double west = north.longitude;
    const double east =
        west + (bottomRight.x - topLeft.x) * projection.metresPerPoint() / projection.metresPerDegreeOfLongitude();
    const double lonFirst = std::ceil(west / lonStep), lonLast = std::floor(east / lonStep);
    if (east - west < 360 && lonLast - lonFirst < kMaxLines) {
        for (double k = lonFirst; k <= lonLast; ++k) {
            int x, y;
            const CGPoint p = projection.pointFor({north.latitude, wrap_longitude(k * lonStep)});
            if (!canvas.dotAt({p.x, topLeft.y + 1}, &x, &y)) continue;
            for (int dy = 0; dy < canvas.height(); dy += 2) canvas.set(x, dy, DotCanvas::kGrid);
        }
    }
}

// The scale bar at the bottom left: |----| 200 m. Returns false when it
// does not fit.
bool draw_scale_bar(ScreenBuffer& buffer, const CellRect& area, double metres, double metresPerPoint,
                    const Glyphs& glyphs) {
    const std::u32string label = display_text(scale_label(metres), glyphs);
    const int line = area.bottom() - 1;
    const int dots = std::max(2, static_cast<int>(std::lround(metres / metresPerPoint / 4)));
    const int barCells = dots / 2 + 1;
    const int x0 = area.col + 1;
    if (area.lines < 2 || x0 + barCells + 1 + text_width(label) > area.right()) return false;
    const Ink ink{};
    buffer.fill({x0 - 1, line, barCells + 3 + text_width(label), 1}, Color::Default, 0);
    if (glyphs.braille) {
        for (int c = 0; c < barCells; ++c) {
            uint8_t bits = 0;
            for (int sub = 0; sub < 2; ++sub) {
                const int dot = c * 2 + sub;
                if (dot > dots) continue;
                bits |= kBrailleBit[3][sub];
                if (dot == 0 || dot == dots) bits |= kBrailleBit[1][sub] | kBrailleBit[2][sub];
            }
            buffer.putGlyph(x0 + c, line, static_cast<char32_t>(0x2800 + bits), ink, area);
        }
    } else {
        for (int c = 0; c < barCells; ++c) {
            buffer.putGlyph(x0 + c, line, c == 0 || c == barCells - 1 ? U'|' : U'-', ink, area);
        }
    }
    buffer.putText(x0 + barCells + 1, line, label, ink, area);
    return true;
}

// The callout beside the pin: right of it, else left, else above, else
// below; blanked behind so the dots do not touch the text.
CellRect draw_callout(ScreenBuffer& buffer, const CellRect& area, const CellRect& pin, const MKAnnotation& annotation,
                      const Glyphs& glyphs) {
    std::vector<std::u32string> lines;
    if (auto title = annotation.title()) lines.push_back(display_text(*title, glyphs));
    if (auto subtitle = annotation.subtitle()) lines.push_back(display_text(*subtitle, glyphs));
    if (lines.empty() || area.cols < 3) return {};
    int w = 0;
    for (auto& l : lines) {
        l = fit_text(l, area.cols - 2, glyphs);
        w = std::max(w, text_width(l));
    }
    const int n = static_cast<int>(lines.size());
    const int besideTop = pin.line - (n - 1);
    const int centred = std::clamp(pin.col - w / 2, area.col + 1, std::max(area.col + 1, area.right() - 1 - w));
    const CellRect candidates[] = {
        {pin.col + 2, besideTop, w, n},
        {pin.col - 1 - w, besideTop, w, n},
        {centred, pin.line - n, w, n},
        {centred, pin.line + 1, w, n},
    };
    CellRect chosen = candidates[2];
    for (const CellRect& c : candidates) {
        const CellRect padded{c.col - 1, c.line, c.cols + 2, c.lines};
        if (padded.intersect(area) == padded && !padded.contains(pin.col, pin.line)) {
            chosen = c;
            break;
        }
    }
    buffer.fill(CellRect{chosen.col - 1, chosen.line, chosen.cols + 2, chosen.lines}.intersect(area), Color::Default,
                0);
    for (int i = 0; i < n; ++i) {
        const Ink ink{Color::Default, static_cast<uint8_t>(i == 0 ? kBold : 0)};
        buffer.putText(chosen.col, chosen.line + i, lines[static_cast<size_t>(i)], ink, area);
    }
    return chosen.intersect(area);
}

}  // namespace

MapProjection::MapProjection(const MKCoordinateRegion& region, const CGRect& frame)
    : centre_(region.center), middle_{CGRectGetMidX(frame), CGRectGetMidY(frame)} {
    cosLatitude_ = std::max(0.01, std::cos(centre_.latitude * std::numbers::pi / 180));
    const double spanX = region.span.longitudeDelta * kMetresPerDegree * cosLatitude_;
    const double spanY = region.span.latitudeDelta * kMetresPerDegree;
    const double w = std::max(1.0, frame.size.width), h = std::max(1.0, frame.size.height);
    metresPerPoint_ = std::max({spanX / w, spanY / h, 1e-6});
}

CGPoint MapProjection::pointFor(CLLocationCoordinate2D c) const {
    const double dx = wrap_longitude(c.longitude - centre_.longitude) * kMetresPerDegree * cosLatitude_;
    const double dy = (c.latitude - centre_.latitude) * kMetresPerDegree;
    return {middle_.x + dx / metresPerPoint_, middle_.y - dy / metresPerPoint_};
}

CLLocationCoordinate2D MapProjection::coordinateAt(CGPoint p) const {
    const double dx = (p.x - middle_.x) * metresPerPoint_, dy = (middle_.y - p.y) * metresPerPoint_;
    return {centre_.latitude + dy / kMetresPerDegree,
            wrap_longitude(centre_.longitude + dx / (kMetresPerDegree * cosLatitude_))};
}

double nice_length(double metres) {
    if (!(metres >= 1)) return 1;
    const double power = std::pow(10.0, std::floor(std::log10(metres)));
    for (double step : {5.0, 2.0, 1.0}) {
        if (step * power <= metres) return step * power;
    }
    return power;
}

std::string scale_label(double metres) {
    char text[32];
    if (metres >= 1000) {
        std::snprintf(text, sizeof text, "%g km", metres / 1000);
    } else {
        std::snprintf(text, sizeof text, "%g m", metres);
    }
    return text;
}

DotCanvas::DotCanvas(const CellRect& area)
    : area_(area),
      dots_(static_cast<size_t>(std::max(0, area.cols) * 2) * static_cast<size_t>(std::max(0, area.lines) * 4), 0) {}

bool DotCanvas::dotAt(CGPoint p, int* x, int* y) const {
    const double fx = std::floor((p.x - area_.col * kPointsPerColumn) / 4);
    const double fy = std::floor((p.y - area_.line * kPointsPerLine) / 4);
    if (!(fx >= 0 && fy >= 0 && fx < width() && fy < height())) return false;
    *x = static_cast<int>(fx);
    *y = static_cast<int>(fy);
    return true;
}

void DotCanvas::set(int x, int y, Layer layer) {
    if (x < 0 || y < 0 || x >= width() || y >= height()) return;
    dots_[static_cast<size_t>(y) * static_cast<size_t>(width()) + static_cast<size_t>(x)] |= layer;
}

uint8_t DotCanvas::bits(int col, int line, Layer layer) const {
    uint8_t out = 0;
    for (int dy = 0; dy < 4; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
            const size_t i =
                static_cast<size_t>(line * 4 + dy) * static_cast<size_t>(width()) + static_cast<size_t>(col * 2 + dx);
            if ((dots_[i] & layer) != 0) out |= kBrailleBit[dy][dx];
        }
    }
    return out;
}

uint8_t DotCanvas::topLayer(int col, int line) const {
    uint8_t all = 0;
    for (int dy = 0; dy < 4; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
            all |= dots_[static_cast<size_t>(line * 4 + dy) * static_cast<size_t>(width()) +
                         static_cast<size_t>(col * 2 + dx)];
        }
    }
    for (uint8_t layer = kBar; layer != 0; layer >>= 1) {
        if ((all & layer) != 0) return layer;
    }
    return 0;
}

MapDrawing draw_map(ScreenBuffer& buffer, const MKMapView& map, const CGRect& frame, const CellRect& area,
                    const std::vector<CLLocationCoordinate2D>& track, const Glyphs& glyphs) {
    MapDrawing out;
    const CellRect visible = area.intersect(buffer.bounds());
    if (visible.empty()) return out;
    const MapProjection projection(map.region(), frame);
    DotCanvas canvas(visible);

    // The grid about two squares across, the scale bar about a quarter.
    const double widthMetres = visible.cols * kPointsPerColumn * projection.metresPerPoint();
    out.scaleMetres = nice_length(widthMetres / 4);
    draw_grid(canvas, projection, nice_length(widthMetres / 2));

    const auto annotations = map.annotations();
    Color trackColor = Color::Magenta;
    if (!annotations.empty()) trackColor = pin_color(map.viewForAnnotation(annotations.front().get()));
    for (const CLLocationCoordinate2D& c : track) {
        int x, y;
        if (canvas.dotAt(projection.pointFor(c), &x, &y)) canvas.set(x, y, DotCanvas::kTrack);
    }

    buffer.fill(visible, Color::Default, 0);
    for (int l = 0; l < visible.lines; ++l) {
        for (int c = 0; c < visible.cols; ++c) {
            const uint8_t layer = canvas.topLayer(c, l);
            if (layer == 0) continue;
            const bool isTrack = layer == DotCanvas::kTrack;
            const Ink ink = isTrack ? Ink{trackColor, 0} : Ink{Color::Default, kDim};
            char32_t glyph = isTrack ? glyphs.trackDot : glyphs.mapDot;
            if (glyphs.braille) glyph = static_cast<char32_t>(0x2800 + canvas.bits(c, l, DotCanvas::Layer(layer)));
            buffer.putGlyph(visible.col + c, visible.line + l, glyph, ink, visible);
        }
    }
    if (!draw_scale_bar(buffer, visible, out.scaleMetres, projection.metresPerPoint(), glyphs)) out.scaleMetres = 0;

    for (const auto& annotation : annotations) {
        const CLLocationCoordinate2D c = annotation->coordinate();
        if (!CLLocationCoordinate2DIsValid(c)) continue;
        const CGPoint p = projection.pointFor(c);
        const CellRect pin{static_cast<int>(std::floor(p.x / kPointsPerColumn)),
                           static_cast<int>(std::floor(p.y / kPointsPerLine)), 1, 1};
        if (!visible.contains(pin.col, pin.line)) continue;
        const MKAnnotationView* view = map.viewForAnnotation(annotation.get());
        if (view != nullptr && view->canShowCallout() && out.callout.empty()) {
            out.callout = draw_callout(buffer, visible, pin, *annotation, glyphs);
        }
        buffer.putGlyph(pin.col, pin.line, glyphs.pin, Ink{pin_color(view), kBold}, visible);
        out.pins.push_back(pin);
    }
    return out;
}

}  // namespace vgps::term
