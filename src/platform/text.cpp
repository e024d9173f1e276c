#include "platform/text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace vgps {

bool utf8_next(const char* bytes, size_t length, size_t* i, char32_t* character) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes);
    const uint8_t c = p[*i];
    if (c < 0x80) {
        *character = c;
        ++*i;
        return true;
    }
    size_t extra;
    uint32_t cp;
    uint32_t min;
    if ((c & 0xE0) == 0xC0) {
        extra = 1, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3, cp = c & 0x07, min = 0x10000;
    } else {
        return false;
    }
    if (length - *i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
        if ((p[*i + k] & 0xC0) != 0x80) return false;
        cp = cp << 6 | (p[*i + k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    *character = cp;
    *i += extra + 1;
    return true;
}

std::optional<std::string> string_from_utf8(const char* bytes, size_t length) {
    size_t i = 0;
    char32_t c;
    while (i < length) {
        if (!utf8_next(bytes, length, &i, &c)) return std::nullopt;
    }
    return std::string(bytes, length);
}

std::optional<std::string> string_from_utf8(const char* text) { return string_from_utf8(text, std::strlen(text)); }

bool contains_ignoring_case(const std::string& text, const std::string& part) {
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : static_cast<char>(c); };
    auto it = std::search(text.begin(), text.end(), part.begin(), part.end(),
                          [&](char a, char b) { return lower(a) == lower(b); });
    return it != text.end();
}

}  // namespace vgps
