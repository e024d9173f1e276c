#include "ui/GPSAnnotation.h"

#include <cstdio>

namespace vgps {

std::optional<std::string> GPSAnnotation::subtitle() const {
    char text[96];
    std::snprintf(text, sizeof text, "%f - %f", coordinate_.latitude, coordinate_.longitude);
    return std::string(text);
}

}  // namespace vgps
