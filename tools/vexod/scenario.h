// The simulated radio of vexod, as read from a scenario file (JSON): the
// radio's power, the devices in range and how they answer, their serial
// links, and faults to inject into the client connection and the links for
// tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "registry/bdaddr.h"

namespace vexod {

struct Service {
    std::string name;                 // service name (SDP attribute 0x0100); empty: none
    uint8_t rfcomm_channel = 0;       // 0: the record has no RFCOMM
    uint16_t service_class = 0x1101;  // Serial Port unless told otherwise
};

// What a device's serial link does wrong, for the application's tests.
enum class SocketPathFault {
    None,
    Missing,  // the path given in notification 30 does not exist
    Refused,  // a socket file nobody listens on
    Long,     // a path longer than a local socket address can hold
};

struct LinkFaults {
    // Notification 30 carries this result (not 0) and no socket is made.
    std::optional<uint32_t> connect_result;
    // The link drops once this many epochs were sent.
    std::optional<uint32_t> drop_after_epochs;
    // The first sentence of this epoch (1 is the first) goes out in two
    // writes, split_pause_ms apart.
    std::optional<uint32_t> split_at_epoch;
    uint32_t split_pause_ms = 200;
    // From this epoch on, whole epochs adding up to more than 1023 bytes go
    // out in one write.
    std::optional<uint32_t> burst_at_epoch;
    SocketPathFault socket_path = SocketPathFault::None;
    // Sent in notification 25 instead of the records built from `services`.
    std::optional<std::vector<uint8_t>> sdp_attributes;
};

// The stream of a device without a recorded file: a receiver moving on a
// straight course.
struct Generator {
    double lat = 48.1173;  // degrees, negative south
    double lon = 11.5167;  // degrees, negative west
    double speed_knots = 5.0;
    double course_deg = 45.0;
    std::optional<int64_t> start_time;  // seconds since 1970 UTC; absent: now
};

struct Device {
    vgps::bdaddr address{};            // in text order
    uint32_t device_class = 0;         // 24 bits
    std::optional<std::string> name;   // absent: the name lookup fails
    std::string inquiry_text;          // text carried by the inquiry result
    uint32_t inquiry_delay_ms = 0;     // after the inquiry starts
    uint32_t name_delay_ms = 50;       // after the name request
    uint32_t repeat = 1;               // how many inquiry results it sends
    uint32_t search_delay_ms = 50;     // SDP search, request 20 to notification 25
    uint32_t connect_delay_ms = 50;    // RFCOMM connect, request 12 to notification 30
    std::vector<Service> services;
    bool switched_off = false;         // SDP and RFCOMM get no answer
    // The recorded stream, cut into epochs (one fix each); empty: generated.
    std::string nmea_file;             // as written in the scenario
    std::vector<std::string> nmea_epochs;
    Generator generator;
    LinkFaults link_faults;
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
    // Data links: epochs per second relative to real time (0: as fast as
    // the socket takes them), and how long a link waits for the
    // application to connect to its socket.
    double speed = 1.0;
    uint32_t accept_timeout_ms = 5000;
};

// The largest scenario file and NMEA file read; both must be regular files.
inline constexpr size_t kMaxScenarioFileSize = size_t{4} << 20;
inline constexpr size_t kMaxNmeaFileSize = size_t{64} << 20;

// Reads a scenario. On failure returns false with a message naming the
// line and column of a syntax error (a number too large for a double
// included), the path of a bad value ("devices[1].address: ..."), or why
// the file cannot be read. NMEA files are read at once, relative to the
// scenario file's folder (`base_dir` for parse_scenario; empty: the current
// folder).
bool load_scenario(const std::string& path, Scenario* out, std::string* error);
bool parse_scenario(const std::string& text, Scenario* out, std::string* error, const std::string& base_dir = "");

}  // namespace vexod
