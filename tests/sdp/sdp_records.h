// Service records for the SDP tests, built with libbluetooth's own record
// API and turned into the bytes a device sends; hex helpers for fixtures.
#pragma once

#include <bluetooth/bluetooth.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vgps::test {

using Bytes = std::vector<uint8_t>;

// One parameter of a protocol descriptor.
struct Param {
    uint8_t dtd;                  // SDP_UINT8, SDP_UINT16, or SDP_SEQ8/SDP_SEQ16
    uint16_t value = 0;           // scalar value
    std::vector<uint16_t> items = {};  // sequence elements, as UINT16
};

// One protocol descriptor: its UUID, then its parameters.
struct Proto {
    uuid_t uuid;
    std::vector<Param> params;
};

uuid_t uuid16(uint16_t v);
uuid_t uuid128(const char* hyphenated);  // "00001101-0000-1000-8000-00805f9b34fb"

// A record under construction; freed with the builder.
class RecordBuilder {
public:
    RecordBuilder();
    ~RecordBuilder();
    RecordBuilder(const RecordBuilder&) = delete;
    RecordBuilder& operator=(const RecordBuilder&) = delete;

    RecordBuilder& handle(uint32_t h);
    RecordBuilder& info(const char* name, const char* provider = nullptr,
                        const char* description = nullptr);
    RecordBuilder& classes(const std::vector<uuid_t>& uuids);
    RecordBuilder& protocols(const std::vector<Proto>& stack);
    RecordBuilder& language(uint16_t code, uint16_t encoding, uint16_t base);
    RecordBuilder& profile(const uuid_t& uuid, uint16_t version);

    sdp_record_t* get() { return rec_; }
    // The record as a device sends it: a sequence of attribute ID / value
    // pairs.
    Bytes pdu() const;

private:
    sdp_record_t* rec_;
};

// `content` behind a SEQ16 header.
Bytes seq16(const Bytes& content);

// The attribute bytes of a response holding these records (a SEQ16).
Bytes response(const std::vector<Bytes>& records);

// Hex digits, white space ignored.
Bytes from_hex(std::string_view hex);

// A record of tests/data/sdp as bytes.
Bytes fixture(const std::string& name);

}  // namespace vgps::test
