#include "sdp/sdp_guard.h"

#include <bitset>

namespace vgps {
namespace {

uint32_t be16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }

uint32_t be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Whole size of the fixed-size types that libbluetooth decodes, type byte
// included; 0 for every other type.
size_t fixed_size(uint8_t dtd) {
    switch (dtd) {
    case SDP_DATA_NIL:
        return 1;
    case SDP_UINT8:
    case SDP_INT8:
    case SDP_BOOL:
        return 2;
    case SDP_UINT16:
    case SDP_INT16:
    case SDP_UUID16:
        return 3;
    case SDP_UINT32:
    case SDP_INT32:
    case SDP_UUID32:
        return 5;
    case SDP_UINT64:
    case SDP_INT64:
        return 9;
    case SDP_UINT128:
    case SDP_INT128:
    case SDP_UUID128:
        return 17;
    default:
        return 0;
    }
}

// Header size of the sequence (and alternative) types; 0 for other types.
size_t sequence_header(uint8_t dtd) {
    switch (dtd) {
    case SDP_SEQ8:
    case SDP_ALT8:
        return 2;
    case SDP_SEQ16:
    case SDP_ALT16:
        return 3;
    case SDP_SEQ32:
    case SDP_ALT32:
        return 5;
    default:
        return 0;
    }
}

// Header size of the string types libbluetooth decodes (not the 32-bit
// length forms, which it refuses); 0 for other types.
size_t string_header(uint8_t dtd) {
    switch (dtd) {
    case SDP_TEXT_STR8:
    case SDP_URL_STR8:
        return 2;
    case SDP_TEXT_STR16:
    case SDP_URL_STR16:
        return 3;
    default:
        return 0;
    }
}

// The length field of a header of `header` bytes at p.
size_t header_length(const uint8_t* p, size_t header) {
    switch (header) {
    case 2:
        return p[1];
    case 3:
        return be16(p + 1);
    default:
        return be32(p + 1);
    }
}

// libbluetooth reads the record handle as the 32-bit member of the value's
// union, whatever the element's type. The integer types of 8, 16 and 32
// bits are held in a zeroed union, so that read gives their value (their
// bits, for the signed ones); any other type would give the bits of a
// pointer (strings, sequences), of a UUID, or a 64- or 128-bit number cut.
bool integer_handle(uint8_t dtd) {
    switch (dtd) {
    case SDP_UINT8:
    case SDP_UINT16:
    case SDP_UINT32:
    case SDP_INT8:
    case SDP_INT16:
    case SDP_INT32:
        return true;
    default:
        return false;
    }
}

// Turns every ALT element under d into the SEQ of the same length form.
void alternatives_to_sequences(sdp_data_t* d) {
    switch (d->dtd) {
    case SDP_ALT8:
        d->dtd = SDP_SEQ8;
        break;
    case SDP_ALT16:
        d->dtd = SDP_SEQ16;
        break;
    case SDP_ALT32:
        d->dtd = SDP_SEQ32;
        break;
    case SDP_SEQ8:
    case SDP_SEQ16:
    case SDP_SEQ32:
        break;
    default:
        return;
    }
    for (sdp_data_t* e = d->val.dataseq; e != nullptr; e = e->next) {
        alternatives_to_sequences(e);
    }
}

void release_alternatives(void* attr, void*) {
    alternatives_to_sequences(static_cast<sdp_data_t*>(attr));
}

// Byte count of the well-formed data element at p (at most `avail` bytes,
// `depth` sequences deep), or 0 when it is not one libbluetooth decodes
// exactly. Counts the elements into `elements` and fails beyond the limit.
size_t check_element(const uint8_t* p, size_t avail, unsigned depth, size_t* elements) {
    if (avail < 1 || ++*elements > kSdpMaxElements) return 0;
    const uint8_t dtd = p[0];
    if (size_t n = fixed_size(dtd)) return n <= avail ? n : 0;

    size_t header = string_header(dtd);
    const bool sequence = header == 0;
    if (sequence) header = sequence_header(dtd);
    if (header == 0 || avail < header) return 0;
    const size_t length = header_length(p, header);
    if (length > avail - header) return 0;
    if (sequence) {
        if (depth >= kSdpMaxNesting) return 0;
        // The elements must fill the sequence exactly.
        size_t at = header;
        const size_t end = header + length;
        while (at < end) {
            size_t n = check_element(p + at, end - at, depth + 1, elements);
            if (n == 0) return 0;
            at += n;
        }
    }
    return header + length;
}

}  // namespace

SdpRecordCheck sdp_check_record(const uint8_t* p, size_t avail) {
    const SdpRecordCheck no_header{SdpRecordShape::kNoHeader, 0};
    const SdpRecordCheck malformed{SdpRecordShape::kMalformed, 0};
    if (avail < 1) return no_header;
    const size_t header = sequence_header(p[0]);
    if (header == 0 || avail < header) return no_header;
    const size_t length = header_length(p, header);
    if (length > avail - header) return malformed;

    std::bitset<0x10000> seen;
    size_t elements = 0;
    size_t at = header;
    const size_t end = header + length;
    while (at < end) {
        // Attribute ID: a 16-bit unsigned integer element, each ID once (a
        // repeated one makes libbluetooth free the first value, and an ALT
        // there keeps its children).
        if (end - at < 3 || p[at] != SDP_UINT16) return malformed;
        const uint32_t id = be16(p + at + 1);
        if (seen[id]) return malformed;
        seen[id] = true;
        at += 3;
        const size_t n = check_element(p + at, end - at, 0, &elements);
        if (n == 0) return malformed;
        if (id == SDP_ATTR_RECORD_HANDLE && !integer_handle(p[at])) return malformed;
        at += n;
    }
    return {SdpRecordShape::kWellFormed, end};
}

void sdp_release_record(sdp_record_t* rec) {
    if (rec == nullptr) return;
    // Freeing a sequence frees its children; an ALT is freed alone.
    sdp_list_foreach(rec->attrlist, release_alternatives, nullptr);
    sdp_record_free(rec);
}

}  // namespace vgps
