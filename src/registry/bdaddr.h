// A Bluetooth device address: six bytes in the order of its text form
// "%02x:%02x:%02x:%02x:%02x:%02x" (byte 0 is the first pair of digits).
#pragma once

#include <cstdint>
#include <cstring>

namespace vgps {

struct bdaddr {
    uint8_t addr[6];
};

inline bool operator==(const bdaddr& a, const bdaddr& b) {
    return std::memcmp(a.addr, b.addr, sizeof a.addr) == 0;
}

}  // namespace vgps
