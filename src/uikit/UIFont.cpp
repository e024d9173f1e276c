#include "uikit/UIFont.h"

namespace vgps {

UIFont UIFont::fontWithName_size(const std::string& name, double size) {
    return {name, size, name.find("Bold") != std::string::npos};
}

double UIFont::estimatedWidthOfText(const std::string& text) const {
    size_t characters = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++characters;  // count code points, not bytes
    }
    return static_cast<double>(characters) * pointSize * (bold ? 0.6 : 0.55);
}

}  // namespace vgps
