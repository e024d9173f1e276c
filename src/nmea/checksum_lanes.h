// The sentence checksum gathered eight bytes at a time: bytes enter the
// checksum sign-extended, and the exclusive-or of sign-extended bytes is the
// exclusive-or of the bytes, sign-extended once at the end. Used by the
// framing of the stream parser and by the frame scanner that follows it.
#pragma once

#include <cstdint>

namespace vgps::nmea_lanes {

// True when some byte of the word equals b.
inline bool has_byte(uint64_t word, unsigned char b) {
    const uint64_t x = word ^ (0x0101010101010101ull * b);
    return ((x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull) != 0;
}

// The running checksum of the bytes gathered in the lanes of crc: their
// exclusive-or, as a signed byte widened to int.
inline int fold_checksum(uint64_t crc) {
    crc ^= crc >> 32;
    crc ^= crc >> 16;
    crc ^= crc >> 8;
    return static_cast<int>(static_cast<signed char>(static_cast<unsigned char>(crc)));
}

}  // namespace vgps::nmea_lanes
