// The simulated radio of vexod, as read from a scenario file (JSON): the
// radio's power, the devices in range and how they answer, and faults to
// inject into the client connection for tests.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vexod {

struct Service {
    std::string name;         // service name (SDP attribute 0x0100)
    uint8_t rfcomm_channel;   // 0: the record has no RFCOMM
};

struct Device {
    std::array<uint8_t, 6> address{};  // in text order
    uint32_t device_class = 0;         // 24 bits
    std::optional<std::string> name;   // absent: the name lookup fails
    std::string inquiry_text;          // text carried by the inquiry result
    uint32_t inquiry_delay_ms = 0;     // after the inquiry starts
    uint32_t name_delay_ms = 50;       // after the name request
    uint32_t repeat = 1;               // how many inquiry results it sends
    // Read now, used by the data link.
    std::vector<Service> services;
    bool switched_off = false;
    std::string nmea_file;
};

struct ResponseDelay {
    uint32_t funcid;
    uint32_t ms;
};

enum class MalformedKind { BadMagic, TooSmall, TooBig, Truncated };

struct Faults {
    // Close each client connection once this many requests were answered.
    std::optional<uint32_t> drop_after_requests;
    // Close each client connection on receiving its Nth request (1 is the
    // first), leaving it unanswered.
    std::optional<uint32_t> hang_up_at_request;
    std::vector<ResponseDelay> delay_response;
    // After answering this many requests, send one malformed frame.
    std::optional<uint32_t> malformed_after_requests;
    MalformedKind malformed_kind = MalformedKind::BadMagic;
};

struct Scenario {
    bool powered = true;
    // The inquiry ends this long after the last device was reported
    // (or after it started, without devices).
    uint32_t inquiry_end_after_ms = 200;
    bool inquiry_canceled = false;  // ends with notification 27, not 26
    std::vector<Device> devices;
    Faults faults;
};

// Reads a scenario. On failure returns false with a message naming the
// line and column of a syntax error, or the path of a bad value
// ("devices[1].address: ...").
bool load_scenario(const std::string& path, Scenario* out, std::string* error);
bool parse_scenario(const std::string& text, Scenario* out, std::string* error);

// "xx:xx:xx:xx:xx:xx", exactly, either case.
bool parse_address(const std::string& text, std::array<uint8_t, 6>* out);
std::string address_text(const std::array<uint8_t, 6>& address);

}  // namespace vexod
