// Checks on SDP bytes from the wire before libbluetooth decodes them, and the
// release of what it decoded.
//
// libbluetooth's decoder (sdp_extract_pdu and what it calls) trusts lengths
// that the bytes carry:
// - a record's declared length comes back as the byte count consumed, even
//   beyond the buffer, and a 32-bit length above INT_MAX turns negative: a
//   walk that advances by it leaves the buffer, backwards too;
// - a sequence's declared length is never compared with the bytes left in
//   the buffer or in the enclosing sequence: its elements are decoded over
//   the rest of the buffer, so a sequence swallows what follows it;
// - a sequence header cut short inside a sequence decodes as an element of
//   length 0, and the enclosing sequence loops on it for ever, allocating;
// - an element that fails (unknown or 32-bit-length string types) ends its
//   sequence early and the decoding carries on misaligned, inside it;
// - nesting depth is unbounded (it recurses once per level);
// - the record handle is read as a 32-bit integer whatever its type (the
//   bits of a pointer for a string or a sequence);
// - an alternative (ALT) element keeps its children when freed, also when a
//   repeated attribute ID replaces it during decoding.
// So a record is handed to libbluetooth only when every element fits its
// enclosing sequence exactly, is of a type the decoder handles, nests at
// most kSdpMaxNesting deep, no attribute ID repeats, the handle is an
// integer of 8, 16 or 32 bits, and the record holds at most kSdpMaxElements
// elements.
#pragma once

#include <bluetooth/bluetooth.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>

#include <cstddef>
#include <cstdint>

namespace vgps {

// Deepest nesting of sequences accepted inside an attribute value (real
// records use three or four levels).
inline constexpr unsigned kSdpMaxNesting = 32;

// Most data elements accepted in one record. libbluetooth spends time
// growing with the square of a record's attributes and of its UUIDs (sorted
// and searched lists): a 64 KiB record of UUIDs alone blocks the caller for
// more than a second. Real records hold a few dozen elements.
inline constexpr size_t kSdpMaxElements = 1024;

enum class SdpRecordShape {
    kNoHeader,    // no sequence header (or a cut one): libbluetooth yields an empty record
    kMalformed,   // a header, but the record does not fit or is not well formed
    kWellFormed,  // safe to decode; `size` is its whole byte count
};

struct SdpRecordCheck {
    SdpRecordShape shape;
    size_t size;  // header plus content, when well formed
};

// Checks the service record that starts at p (attribute ID / value pairs in
// a sequence), with `avail` bytes left in the buffer.
SdpRecordCheck sdp_check_record(const uint8_t* p, size_t avail);

// Frees a record that libbluetooth decoded, including the children of any
// ALT element (sdp_record_free alone leaks them).
void sdp_release_record(sdp_record_t* rec);

}  // namespace vgps
