#include "registry/bdaddr.h"

#include <cstdio>

namespace vgps {

std::string ba2str(const bdaddr& ba) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", ba.addr[0], ba.addr[1],
                  ba.addr[2], ba.addr[3], ba.addr[4], ba.addr[5]);
    return text;
}

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// White space as the C locale's formatted input skips it.
bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

// The conversion "%02x:%02x:%02x:%02x:%02x:%02x" done by hand, so that only
// hexadecimal digits are taken (no sign, no "0x" prefix) and nothing is
// stored until all six fields have been read.
int str2ba(const char* str, bdaddr* ba) {
    if (!str || !ba) return 0;
    uint8_t bytes[6];
    const char* p = str;
    for (int field = 0; field < 6; ++field) {
        if (field > 0) {
            if (*p != ':') return 0;
            ++p;
        }
        while (is_blank(*p)) ++p;
        int value = hex_digit(*p);
        if (value < 0) return 0;
        ++p;
        int second = hex_digit(*p);
        if (second >= 0) {
            value = value * 16 + second;
            ++p;
        }
        bytes[field] = static_cast<uint8_t>(value);
    }
    std::memcpy(ba->addr, bytes, sizeof bytes);
    return 1;
}

bool bdaddr_from_text(std::string_view text, bdaddr* ba) {
    if (text.size() != 17) return false;
    uint8_t bytes[6];
    for (size_t i = 0; i < 6; ++i) {
        const int high = hex_digit(text[3 * i]);
        const int low = hex_digit(text[3 * i + 1]);
        if (high < 0 || low < 0 || (i < 5 && text[3 * i + 2] != ':')) return false;
        bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    std::memcpy(ba->addr, bytes, sizeof bytes);
    return true;
}

}  // namespace vgps
