// A Bluetooth device address: six bytes in the order of its text form
// "%02x:%02x:%02x:%02x:%02x:%02x" (byte 0 is the first pair of digits; the
// bytes are not reversed).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace vgps {

struct bdaddr {
    uint8_t addr[6];
};

// Byte-wise equality over the six bytes.
inline bool operator==(const bdaddr& a, const bdaddr& b) {
    return std::memcmp(a.addr, b.addr, sizeof a.addr) == 0;
}

// The 17-character lower-case text form, byte 0 first.
std::string ba2str(const bdaddr& ba);

// Parses "%02x:%02x:%02x:%02x:%02x:%02x" with formatted-input rules (each
// field may start with blanks, holds at most two hex digits of either case;
// colons match literally; text after the sixth field is ignored). 1 on
// success; 0 on failure, with *ba untouched. Not libbluetooth's str2ba,
// which stores the bytes reversed.
int str2ba(const char* str, bdaddr* ba);

// The text form exactly: "xx:xx:xx:xx:xx:xx", 17 characters, hex digits of
// either case, byte 0 first, nothing before or after. The parser of the
// command lines and of vexod's scenario files. False, with *ba untouched,
// for anything else.
bool bdaddr_from_text(std::string_view text, bdaddr* ba);

}  // namespace vgps
