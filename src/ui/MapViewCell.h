// The map row of the GPS inspector: a map with rounded corners filling the
// cell, one pin at the receiver's position, and the map centred on each new
// position with a span of 0.01 degrees.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "ui/GPSAnnotation.h"
#include "uikit/MKMapView.h"
#include "uikit/UITableViewCell.h"

namespace vgps {

class MapViewCell : public UITableViewCell, public MKMapViewDelegate {
public:
    static constexpr double kCornerRadius = 10;
    static constexpr double kSpan = 0.01;
    static constexpr const char* kAnnotationIdentifier = "annotationIdentifier";

    // initWithStyle:reuseIdentifier:
    MapViewCell(int style, std::optional<std::string> reuseIdentifier);
    ~MapViewCell() override;
    const char* className() const override { return "MapViewCell"; }

    MKMapView* mapView() const { return mapView_.get(); }
    void setMapView(std::shared_ptr<MKMapView> mapView) { mapView_ = std::move(mapView); }
    const std::shared_ptr<GPSAnnotation>& annotation() const { return annotation_; }
    void setAnnotation(std::shared_ptr<GPSAnnotation> annotation) { annotation_ = std::move(annotation); }

    // A new position in decimal degrees: moves the pin and the map there,
    // unless the position is invalid or already the map's centre.
    void didLocatedTo(CLLocationCoordinate2D coordinate);

    // The pin for the cell's annotation; none for the user location, which
    // then gets the map's standard view.
    std::shared_ptr<MKAnnotationView> mapView_viewForAnnotation(MKMapView* mapView,
                                                                const std::shared_ptr<MKAnnotation>& annotation) override;

    void layoutSubviews() override;

private:
    std::shared_ptr<MKMapView> mapView_;
    std::shared_ptr<GPSAnnotation> annotation_;
};

}  // namespace vgps
