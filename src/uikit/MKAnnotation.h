// What a map shows a pin for: a coordinate, and the title and subtitle of
// its callout. The map's own user location is one too.
#pragma once

#include <optional>
#include <string>

#include "uikit/CLLocation.h"

namespace vgps {

class MKAnnotation {
public:
    virtual ~MKAnnotation() = default;
    virtual CLLocationCoordinate2D coordinate() const = 0;
    virtual std::optional<std::string> title() const { return std::nullopt; }
    virtual std::optional<std::string> subtitle() const { return std::nullopt; }
};

// The device's own position. This platform has no location service, so it
// never has one: its coordinate is invalid.
class MKUserLocation : public MKAnnotation {
public:
    CLLocationCoordinate2D coordinate() const override { return kCLLocationCoordinate2DInvalid; }
    std::optional<std::string> title() const override { return "Current Location"; }
};

}  // namespace vgps
