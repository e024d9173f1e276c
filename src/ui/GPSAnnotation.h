// The pin of the receiver's position: a coordinate, the title "Current
// Location" and the coordinate printed as its subtitle.
#pragma once

#include <optional>
#include <string>

#include "uikit/MKAnnotation.h"

namespace vgps {

class GPSAnnotation : public MKAnnotation {
public:
    CLLocationCoordinate2D coordinate() const override { return coordinate_; }
    void setCoordinate(CLLocationCoordinate2D coordinate) { coordinate_ = coordinate; }
    std::optional<std::string> title() const override { return "Current Location"; }
    // "%f - %f": latitude and longitude, six decimals each.
    std::optional<std::string> subtitle() const override;

private:
    CLLocationCoordinate2D coordinate_;
};

}  // namespace vgps
