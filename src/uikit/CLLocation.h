// Coordinates in decimal degrees, as the location services give them.
#pragma once

#include <cmath>

namespace vgps {

struct CLLocationCoordinate2D {
    double latitude = 0;
    double longitude = 0;
    bool operator==(const CLLocationCoordinate2D&) const = default;
};

using CLLocationAccuracy = double;
constexpr CLLocationAccuracy kCLLocationAccuracyBest = -1;
constexpr CLLocationAccuracy kCLLocationAccuracyNearestTenMeters = 10;
constexpr CLLocationAccuracy kCLLocationAccuracyHundredMeters = 100;

// The coordinate of nowhere (both values out of range).
constexpr CLLocationCoordinate2D kCLLocationCoordinate2DInvalid{-180, -180};

inline CLLocationCoordinate2D CLLocationCoordinate2DMake(double latitude, double longitude) {
    return {latitude, longitude};
}

// Latitude from -90 to 90 and longitude from -180 to 180, both included.
inline bool CLLocationCoordinate2DIsValid(CLLocationCoordinate2D c) {
    return c.latitude >= -90 && c.latitude <= 90 && c.longitude >= -180 && c.longitude <= 180;
}

}  // namespace vgps
