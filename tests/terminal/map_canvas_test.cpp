// The map canvas: the pin at its cell, its callout, and the map without
// Unicode.
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
