// The map canvas: where coordinates land, the pin, its callout, the track,
// the grid and the scale bar.
#include "frontend/terminal/map_canvas.h"

#include <gtest/gtest.h>

#include <clocale>

#include "uikit/MKAnnotationView.h"

namespace vgps::term {
namespace {

class Point : public MKAnnotation {
public:
    explicit Point(CLLocationCoordinate2D c) : c_(c) {}
    CLLocationCoordinate2D coordinate() const override { return c_; }
    std::optional<std::string> title() const override { return "Current Location"; }
    std::optional<std::string> subtitle() const override { return "48.117302 - 11.516666"; }

private:
    CLLocationCoordinate2D c_;
};

class Callouts : public MKMapViewDelegate {
public:
    std::shared_ptr<MKAnnotationView> mapView_viewForAnnotation(MKMapView*,
                                                                const std::shared_ptr<MKAnnotation>& a) override {
        auto pin = std::make_shared<MKPinAnnotationView>(a, "pin");
        pin->setPinColor(MKPinAnnotationColorPurple);
        pin->setCanShowCallout(true);
        return pin;
    }
};

constexpr CLLocationCoordinate2D kCentre{48.117302, 11.516666};
// The inspector's map row on a 40 by 30 terminal.
const CGRect kFrame = CGRectMake(10, 260, 300, 248);

class MapCanvasTest : public ::testing::Test {
protected:
    MapCanvasTest() {
        std::setlocale(LC_CTYPE, "C.UTF-8");
        map.setDelegate(&callouts);
        map.setRegion_animated({kCentre, {0.01, 0.01}}, false);
    }
    Callouts callouts;
    MKMapView map{kFrame};
    ScreenBuffer buffer{40, 30};
    const CellRect area = CellRect::fromEdges(2, 17, 38, 29);
};

TEST_F(MapCanvasTest, CoordinatesLandWhereTheyShouldAndComeBack) {
    const MapProjection p(map.region(), kFrame);
    EXPECT_EQ(p.pointFor(kCentre), CGPointMake(160, 384));
    // 0.001 degrees north is 24.8 points up, 0.002 east 33.1 to the right
    // (0.01 degrees of latitude, 1113 m, over 248 points is the scale).
    const CGPoint q = p.pointFor({kCentre.latitude + 0.001, kCentre.longitude + 0.002});
    EXPECT_NEAR(q.y, 384 - 24.8, 0.05);
    EXPECT_NEAR(q.x, 160 + 33.1, 0.05);
    const CLLocationCoordinate2D back = p.coordinateAt(q);
    EXPECT_NEAR(back.latitude, kCentre.latitude + 0.001, 1e-12);
    EXPECT_NEAR(back.longitude, kCentre.longitude + 0.002, 1e-12);
    // Across the date line the short way round.
    EXPECT_GT(MapProjection({{10, 179.999}, {0.01, 0.01}}, kFrame).pointFor({10, -179.999}).x, 160);
}

TEST_F(MapCanvasTest, APinAtAKnownCoordinateLandsOnItsCellWithItsCalloutBeside) {
    // 0.001 north and 0.002 east of the centre: (193.1, 359.2) in points.
    map.addAnnotation(
        std::make_shared<Point>(CLLocationCoordinate2D{kCentre.latitude + 0.001, kCentre.longitude + 0.002}));
    const MapDrawing drawn = draw_map(buffer, map, kFrame, area, {}, Glyphs::unicodeSet());
    ASSERT_EQ(drawn.pins.size(), 1u);
    EXPECT_EQ(drawn.pins[0], (CellRect{24, 22, 1, 1}));
    EXPECT_EQ(buffer.at(24, 22).glyph, U'●');
    EXPECT_EQ(buffer.at(24, 22).fg, Color::Magenta);
    // Not room on the right for "48.117302 - 11.516666" (21 columns), nor
    // on the left: above the pin, centred on it.
    EXPECT_EQ(drawn.callout, (CellRect{14, 20, 21, 2}));
    EXPECT_EQ(buffer.lineText(20).substr(16, 16), "Current Location");
    EXPECT_NE(buffer.lineText(21).find(" 48.117302 - 11.516666 "), std::string::npos);
    EXPECT_EQ(buffer.at(16, 20).ink, kBold);

    // On a wider map the callout goes to the right of the pin.
    ScreenBuffer wide(80, 30);
    const CellRect wideArea = CellRect::fromEdges(2, 17, 78, 29);
    const MapDrawing right = draw_map(wide, map, CGRectMake(10, 260, 620, 248), wideArea, {}, Glyphs::unicodeSet());
    ASSERT_EQ(right.pins.size(), 1u);
    EXPECT_EQ(right.callout.col, right.pins[0].col + 2);
    EXPECT_EQ(right.callout.line, right.pins[0].line - 1);
}

TEST_F(MapCanvasTest, TheTrackIsDrawnInFainterDotsOverALightGridWithAScaleBar) {
    const MapProjection p(map.region(), kFrame);
    // Three earlier positions west of the centre, one dot each.
    std::vector<CLLocationCoordinate2D> track;
    for (int i = 1; i <= 3; ++i) track.push_back(p.coordinateAt({160.0 - 24 * i + 1, 384 + 1}));
    const MapDrawing drawn = draw_map(buffer, map, kFrame, area, track, Glyphs::unicodeSet());
    EXPECT_TRUE(drawn.pins.empty());
    for (int i = 1; i <= 3; ++i) {
        const int col = (160 - 24 * i) / 8;
        const Cell& cell = buffer.at(col, 24);
        EXPECT_EQ(cell.fg, Color::Magenta) << i;
        EXPECT_EQ(cell.ink & kDim, 0) << i;
        // Only the track's dot: top left of its cell.
        EXPECT_EQ(cell.glyph, char32_t(0x2801)) << i;
    }
    // Elsewhere the grid: dim dots only.
    int gridCells = 0;
    for (int l = area.line; l < area.bottom() - 1; ++l) {
        for (int c = area.col; c < area.right(); ++c) {
            const Cell& cell = buffer.at(c, l);
            if (cell.glyph == U' ' || cell.fg == Color::Magenta) continue;
            EXPECT_GE(cell.glyph, char32_t(0x2800));
            EXPECT_EQ(cell.ink, kDim);
            ++gridCells;
        }
    }
    EXPECT_GT(gridCells, 20);
    EXPECT_LT(gridCells, area.cols * (area.lines - 1) / 2);
    // The map is 36 columns (1293 m) wide: a 200 m bar, 11 dots long.
    EXPECT_EQ(drawn.scaleMetres, 200);
    EXPECT_EQ(buffer.lineText(28).substr(0, 3 + 3 * 6), "   ⣆⣀⣀⣀⣀⣰");
    EXPECT_NE(buffer.lineText(28).find("⣰ 200 m "), std::string::npos);
}

TEST(MapScale, NiceLengthsAndLabels) {
    for (auto [metres, nice] : {std::pair{431.0, 200}, {999.0, 500}, {1000.0, 1000}, {7.0, 5}, {0.2, 1}}) {
        EXPECT_EQ(nice_length(metres), nice) << metres;
    }
    EXPECT_EQ(scale_label(200), "200 m");
    EXPECT_EQ(scale_label(5000), "5 km");
}

TEST_F(MapCanvasTest, WithoutUnicodeTheMapStaysReadable) {
    map.addAnnotation(std::make_shared<Point>(kCentre));
    const MapDrawing drawn = draw_map(buffer, map, kFrame, area, {}, Glyphs::asciiSet());
    ASSERT_EQ(drawn.pins.size(), 1u);
    EXPECT_EQ(buffer.at(20, 24).glyph, U'@');
    for (int l = 0; l < 30; ++l) {
        for (char c : buffer.lineText(l)) EXPECT_EQ(static_cast<unsigned char>(c) & 0x80, 0) << l;
    }
    EXPECT_NE(buffer.lineText(28).find("|----| 200 m"), std::string::npos) << buffer.lineText(28);
}

}  // namespace
}  // namespace vgps::term
