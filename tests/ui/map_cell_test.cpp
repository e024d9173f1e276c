// The map cell and its pin.
#include <gtest/gtest.h>

#include "platform/run_loop.h"
#include "ui/MapViewCell.h"
#include "uikit/UIApplication.h"

namespace vgps {
namespace {

class MapCellTest : public ::testing::Test {
protected:
    MapCellTest() {
        cell->setFrame(CGRectMake(10, 0, 300, 248));
        cell->layoutIfNeeded();
    }
    RunLoop loop;
    UIApplication app{&loop};
    std::shared_ptr<MapViewCell> cell = std::make_shared<MapViewCell>(UITableViewCellStyleDefault, "Cell1");
    MKMapView* map = cell->mapView();
};

TEST_F(MapCellTest, APositionMovesThePinAndTheRegionButInvalidOrUnchangedOnesDoNot) {
    // A standard map filling the cell, corners rounded, no pin yet.
    EXPECT_EQ(map->frame(), CGRectMake(0, 0, 300, 248));
    EXPECT_EQ(map->layer()->cornerRadius(), 10);
    EXPECT_TRUE(map->clipsToBounds());
    EXPECT_EQ(map->mapType(), MKMapTypeStandard);
    EXPECT_FALSE(map->showsUserLocation());
    const MKCoordinateRegion start = map->region();
    cell->didLocatedTo(CLLocationCoordinate2DMake(91, 11.5));
    cell->didLocatedTo(CLLocationCoordinate2DMake(48.1, 181));
    cell->didLocatedTo(CLLocationCoordinate2DMake(0, 0));  // the map's initial centre
    EXPECT_TRUE(map->annotations().empty());
    EXPECT_EQ(map->region(), start);

    const auto here = CLLocationCoordinate2DMake(48.117302, 11.516666);
    cell->didLocatedTo(here);
    ASSERT_EQ(map->annotations().size(), 1u);
    EXPECT_EQ(map->annotations()[0], cell->annotation());
    EXPECT_EQ(map->region(), MKCoordinateRegionMake(here, MKCoordinateSpanMake(0.01, 0.01)));
    auto* pin = dynamic_cast<MKPinAnnotationView*>(map->viewForAnnotation(cell->annotation().get()));
    ASSERT_NE(pin, nullptr);
    EXPECT_EQ(pin->pinColor(), MKPinAnnotationColorPurple);
    EXPECT_TRUE(pin->canShowCallout());
    EXPECT_EQ(pin->reuseIdentifier(), "annotationIdentifier");

    // The user zooms out; the same position again changes nothing.
    map->setRegion_animated(MKCoordinateRegionMake(here, MKCoordinateSpanMake(0.5, 0.5)), false);
    cell->didLocatedTo(here);
    EXPECT_EQ(map->region().span, MKCoordinateSpanMake(0.5, 0.5));

    // A new position reuses the pin view and resets the span.
    cell->didLocatedTo(CLLocationCoordinate2DMake(48.2, 11.6));
    EXPECT_EQ(map->viewForAnnotation(cell->annotation().get()), pin);
    EXPECT_EQ(pin->annotation(), cell->annotation());
    EXPECT_EQ(map->region().span, MKCoordinateSpanMake(0.01, 0.01));
    EXPECT_EQ(json_line(map->dump()["annotations"]),
              R"([{"title":"Current Location","subtitle":"48.200000 - 11.600000","coordinate":[48.2,11.6],)"
              R"("view":"MKPinAnnotationView","pinColor":2}])");
}

TEST_F(MapCellTest, TheCalloutPrintsTheCoordinateWithItsSigns) {
    GPSAnnotation pin;
    EXPECT_EQ(pin.title(), "Current Location");
    pin.setCoordinate(CLLocationCoordinate2DMake(48.117302, 11.516666));
    EXPECT_EQ(pin.subtitle(), "48.117302 - 11.516666");
    pin.setCoordinate(CLLocationCoordinate2DMake(-33.856784, -151.215297));
    EXPECT_EQ(pin.subtitle(), "-33.856784 - -151.215297");
}

}  // namespace
}  // namespace vgps
