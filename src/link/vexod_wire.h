// The daemon protocol on the wire, written down once for the application,
// the vexod daemon, the tests and the benchmarks: the frame, the function
// ids, the result codes with a meaning of their own, and every message's
// payload with one encoder and one decoder.
//
// Every integer is little-endian on the wire, whatever the host; a Bluetooth
// address travels as its six bytes in record order. A payload's fields are
// listed once, in wire order, by the message's `fields` function; the
// offsets, the sizes, the encoder and the decoder all follow from that list.
// A variable field (a name, a path, SDP bytes) has its 32-bit length among
// the fixed fields and its bytes behind them, in the order of the lengths.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "registry/bdaddr.h"

namespace vgps {

// Where the daemon listens.
inline constexpr const char* kDaemonSocketPath = "/tmp/vexod";

inline constexpr uint32_t VEXOD_MAGIC = 0x12345678;
inline constexpr uint32_t VEXOD_HEADER_SIZE = 20;
// Largest acceptable msgsize: just below 50 MiB.
inline constexpr uint32_t VEXOD_MAX_MSGSIZE = 52428799;

// Function ids of the requests.
enum vexod_request_id : uint32_t {
    VEXOD_REGISTER_APPLICATION = 2,
    VEXOD_GET_POWER_STATE = 5,
    VEXOD_POWER_ON = 6,
    VEXOD_RFCOMM_CONNECT = 12,
    VEXOD_START_INQUIRY = 15,
    VEXOD_REQUEST_NAME = 19,
    VEXOD_SERVICE_ATTRIBUTE_SEARCH = 20,
};

// Function ids of the notifications.
enum vexod_notify_id : uint32_t {
    VEXOD_NOTIFY_SERVICE_ATTRIBUTE_SEARCH_RESPONSE = 25,
    VEXOD_NOTIFY_INQUIRY_COMPLETE = 26,
    VEXOD_NOTIFY_INQUIRY_CANCELED = 27,
    VEXOD_NOTIFY_INQUIRY_RESULT = 28,
    VEXOD_NOTIFY_REQUEST_NAME_COMPLETE = 29,
    VEXOD_NOTIFY_RFCOMM_CONNECTED = 30,
    VEXOD_NOTIFY_RFCOMM_DISCONNECTED = 31,
    VEXOD_NOTIFY_L2CAP_CONNECTED = 32,
    VEXOD_NOTIFY_L2CAP_DISCONNECTED = 33,
    VEXOD_NOTIFY_RFCOMM_ACCEPTED = 34,
    VEXOD_NOTIFY_SCO_ACCEPTED = 36,
    VEXOD_NOTIFY_SCO_DISCONNECTED = 37,
};
// The range of notification ids (35 among them has no handler).
inline constexpr bool vexod_is_notification_id(uint32_t funcid) {
    return funcid >= VEXOD_NOTIFY_SERVICE_ATTRIBUTE_SEARCH_RESPONSE && funcid <= VEXOD_NOTIFY_SCO_DISCONNECTED;
}

// Result of a service search (notification 25) that was not performed: the
// device did not answer, it is probably off.
inline constexpr uint32_t kServiceSearchNotPerformed = 0x03020004;

// Result codes that this project's vexod puts in its responses besides 0.
// Kept above 3 so that a client cannot mistake them for its own local
// failure codes.
enum vexod_result_code : uint32_t {
    VEXOD_RESULT_SUCCESS = 0,
    VEXOD_RESULT_RADIO_OFF = 100,
    VEXOD_RESULT_UNKNOWN_FUNCTION = 101,
    VEXOD_RESULT_BAD_REQUEST = 102,  // shorter than its fields (or its lengths) say
};

// Results of an RFCOMM connect (notification 30) other than 0 that this
// project's vexod sends: errno values.
enum vexod_link_result : uint32_t {
    VEXOD_LINK_IO_ERROR = 5,     // the daemon could not make the data socket
    VEXOD_LINK_BUSY = 16,        // that device is linked already
    VEXOD_LINK_REFUSED = 111,    // the device offers no RFCOMM service on that channel
    VEXOD_LINK_HOST_DOWN = 112,  // the device does not answer
};

inline uint16_t get_le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t get_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
inline void put_le16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The 20-byte header at the start of every message.
struct vexod_msg_header {
    uint32_t magic;
    uint32_t msgsize;  // whole message, header included
    uint32_t resp;     // 0 in requests; not 0 in responses
    uint32_t msgid;    // request id, echoed by its response
    uint32_t funcid;   // function id; in a response, the result code
};

inline vexod_msg_header vexod_header_load(const uint8_t* bytes) {
    return {get_le32(bytes), get_le32(bytes + 4), get_le32(bytes + 8), get_le32(bytes + 12), get_le32(bytes + 16)};
}

inline void vexod_header_store(uint8_t* bytes, const vexod_msg_header& header) {
    put_le32(bytes, header.magic);
    put_le32(bytes + 4, header.msgsize);
    put_le32(bytes + 8, header.resp);
    put_le32(bytes + 12, header.msgid);
    put_le32(bytes + 16, header.funcid);
}

// A variable field: bytes that are not owned. A decoded field points into
// the message it came from.
struct vexod_bytes {
    const uint8_t* data = nullptr;
    uint32_t size = 0;

    constexpr vexod_bytes() = default;
    vexod_bytes(const void* bytes, uint32_t length) : data(static_cast<const uint8_t*>(bytes)), size(length) {}
    explicit vexod_bytes(std::string_view text)
        : data(reinterpret_cast<const uint8_t*>(text.data())), size(static_cast<uint32_t>(text.size())) {}
    explicit vexod_bytes(const std::vector<uint8_t>& bytes)
        : data(bytes.data()), size(static_cast<uint32_t>(bytes.size())) {}
    std::string_view text() const { return {reinterpret_cast<const char*>(data), size}; }
};

// ---- Payloads, in wire order. Each message names its usual function id.

// Requests 2, 5, 6 and 15, and a refused response: the header alone.
struct vexod_no_payload {
    template <class M, class F> static constexpr void fields(M&, F&) {}
};

// Request 19.
struct vexod_request_name_msg {
    static constexpr uint32_t kFuncId = VEXOD_REQUEST_NAME;
    bdaddr remote{};
    uint8_t param8 = 0;
    uint32_t param32 = 0;
    template <class M, class F> static constexpr void fields(M& m, F& f) {
        f.addr(m.remote);
        f.u8(m.param8);
        f.u32(m.param32);
    }
};

// Request 12.
struct vexod_rfcomm_connect_msg {
    static constexpr uint32_t kFuncId = VEXOD_RFCOMM_CONNECT;
    bdaddr remote{};
    uint8_t param8 = 0;
    uint8_t channel = 0;
    template <class M, class F> static constexpr void fields(M& m, F& f) {
        f.addr(m.remote);
        f.u8(m.param8);
        f.u8(m.channel);
    }
};

// Request 20. The pattern and the attribute ID list are SDP data elements
// (big-endian inside).
struct vexod_service_search_msg {
    static constexpr uint32_t kFuncId = VEXOD_SERVICE_ATTRIBUTE_SEARCH;
    bdaddr remote{};
    uint16_t max_attr_bytes = 0;
    vexod_bytes pattern;
    vexod_bytes attr_list;
    template <class M, class F> static constexpr void fields(M& m, F& f) {
        f.addr(m.remote);
        f.u16(m.max_attr_bytes);
        f.length(m.pattern);
        f.length(m.attr_list);
        f.bytes(m.pattern);
        f.bytes(m.attr_list);
    }
};

// A successful response: the request's returned value. (The result code
// travels in the header's funcid field; a refusal needs no payload.)
struct vexod_result_msg {
    uint32_t value = 0;
    template <class M, class F> static constexpr void fields(M& m, F& f) { f.u32(m.value); }
};

// Notification 25.
struct vexod_search_response_msg {
    static constexpr uint32_t kFuncId = VEXOD_NOTIFY_SERVICE_ATTRIBUTE_SEARCH_RESPONSE;
    bdaddr remote{};
    vexod_bytes pattern;
    vexod_bytes attributes;
    uint32_t result = 0;
    template <class M, class F> static constexpr void fields(M& m, F& f) {
        f.addr(m.remote);
        f.length(m.pattern);
        f.length(m.attributes);
        f.u32(m.result);
        f.bytes(m.pattern);
        f.bytes(m.attributes);
    }
};

// Notifications 26 and 27.
struct vexod_inquiry_complete_msg {
    static constexpr uint32_t kFuncId = VEXOD_NOTIFY_INQUIRY_COMPLETE;
    uint32_t status = 0;
    template <class M, class F> static constexpr void fields(M& m, F& f) { f.u32(m.status); }
};

// Notification 28. The class of device is three bytes, the most
// significant first.
struct vexod_inquiry_result_msg {
    static constexpr uint32_t kFuncId = VEXOD_NOTIFY_INQUIRY_RESULT;
    bdaddr remote{};
    uint16_t value16 = 0;
    uint8_t device_class[3] = {};
    vexod_bytes text;
    uint32_t value32 = 0;
    template <class M, class F> static constexpr void fields(M& m, F& f) {
        f.addr(m.remote);
        f.u16(m.value16);
        f.u8(m.device_class[0]);
        f.u8(m.device_class[1]);
        f.u8(m.device_class[2]);
        f.length(m.text);
        f.u32(m.value32);
        f.bytes(m.text);
    }
};

// Notification 29.
struct vexod_name_complete_msg {
    static constexpr uint32_t kFuncId = VEXOD_NOTIFY_REQUEST_NAME_COMPLETE;
    bdaddr remote{};
    vexod_bytes name;
    uint32_t result = 0;
    template <class M, class F> static constexpr void fields(M& m, F& f) {
        f.addr(m.remote);
        f.length(m.name);
        f.u32(m.result);
        f.bytes(m.name);
    }
};

// Notifications 30 and 34.
struct vexod_rfcomm_connected_msg {
    static constexpr uint32_t kFuncId = VEXOD_NOTIFY_RFCOMM_CONNECTED;
    bdaddr remote{};
    uint8_t channel = 0;
    vexod_bytes path;
    uint32_t result = 0;
    template <class M, class F> static constexpr void fields(M& m, F& f) {
        f.addr(m.remote);
        f.u8(m.channel);
        f.length(m.path);
        f.u32(m.result);
        f.bytes(m.path);
    }
};

// Notification 31.
struct vexod_rfcomm_disconnected_msg {
    static constexpr uint32_t kFuncId = VEXOD_NOTIFY_RFCOMM_DISCONNECTED;
    bdaddr remote{};
    uint8_t channel = 0;
    uint32_t value32 = 0;
    template <class M, class F> static constexpr void fields(M& m, F& f) {
        f.addr(m.remote);
        f.u8(m.channel);
        f.u32(m.value32);
    }
};

// Notification 32.
struct vexod_l2cap_connected_msg {
    static constexpr uint32_t kFuncId = VEXOD_NOTIFY_L2CAP_CONNECTED;
    bdaddr remote{};
    uint16_t value16 = 0;
    vexod_bytes path;
    uint32_t result = 0;
    template <class M, class F> static constexpr void fields(M& m, F& f) {
        f.addr(m.remote);
        f.u16(m.value16);
        f.length(m.path);
        f.u32(m.result);
        f.bytes(m.path);
    }
};

// Notification 33.
struct vexod_l2cap_disconnected_msg {
    static constexpr uint32_t kFuncId = VEXOD_NOTIFY_L2CAP_DISCONNECTED;
    bdaddr remote{};
    uint16_t value16 = 0;
    uint32_t value32 = 0;
    template <class M, class F> static constexpr void fields(M& m, F& f) {
        f.addr(m.remote);
        f.u16(m.value16);
        f.u32(m.value32);
    }
};

// Notification 36.
struct vexod_sco_accepted_msg {
    static constexpr uint32_t kFuncId = VEXOD_NOTIFY_SCO_ACCEPTED;
    bdaddr remote{};
    vexod_bytes path;
    uint32_t result = 0;
    template <class M, class F> static constexpr void fields(M& m, F& f) {
        f.addr(m.remote);
        f.length(m.path);
        f.u32(m.result);
        f.bytes(m.path);
    }
};

// Notification 37.
struct vexod_sco_disconnected_msg {
    static constexpr uint32_t kFuncId = VEXOD_NOTIFY_SCO_DISCONNECTED;
    bdaddr remote{};
    uint32_t value32 = 0;
    template <class M, class F> static constexpr void fields(M& m, F& f) {
        f.addr(m.remote);
        f.u32(m.value32);
    }
};

// ---- Encoding and decoding, driven by the field lists above.

namespace wire_detail {

// Counts bytes: the fixed fields only, or with the variable bytes too.
struct Sizer {
    bool with_variable;
    uint64_t size = 0;
    constexpr void u8(const uint8_t&) { size += 1; }
    constexpr void u16(const uint16_t&) { size += 2; }
    constexpr void u32(const uint32_t&) { size += 4; }
    constexpr void addr(const bdaddr&) { size += 6; }
    constexpr void length(const vexod_bytes&) { size += 4; }
    constexpr void bytes(const vexod_bytes& b) { size += with_variable ? b.size : 0; }
};

struct Writer {
    uint8_t* p;
    void u8(const uint8_t& v) { *p++ = v; }
    void u16(const uint16_t& v) { put_le16(p, v), p += 2; }
    void u32(const uint32_t& v) { put_le32(p, v), p += 4; }
    void addr(const bdaddr& a) { std::memcpy(p, a.addr, 6), p += 6; }
    void length(const vexod_bytes& b) { u32(b.size); }
    void bytes(const vexod_bytes& b) {
        if (b.size) std::memcpy(p, b.data, b.size);
        p += b.size;
    }
};

// Reads fields in order while they fit in the message; the first that does
// not (sums in 64 bits, so no length can wrap) fails the whole decode.
struct Reader {
    const uint8_t* msg;
    uint64_t size;
    uint64_t at = VEXOD_HEADER_SIZE;
    bool ok = true;
    const uint8_t* take(uint64_t n) {
        if (!ok || at + n > size) {
            ok = false;
            return nullptr;
        }
        const uint8_t* p = msg + at;
        at += n;
        return p;
    }
    void u8(uint8_t& v) {
        if (const uint8_t* p = take(1)) v = *p;
    }
    void u16(uint16_t& v) {
        if (const uint8_t* p = take(2)) v = get_le16(p);
    }
    void u32(uint32_t& v) {
        if (const uint8_t* p = take(4)) v = get_le32(p);
    }
    void addr(bdaddr& a) {
        if (const uint8_t* p = take(6)) std::memcpy(a.addr, p, 6);
    }
    void length(vexod_bytes& b) {
        b.data = nullptr;
        u32(b.size);
    }
    void bytes(vexod_bytes& b) {
        if (const uint8_t* p = take(b.size)) b.data = p;
    }
};

}  // namespace wire_detail

// Bytes of a message's fixed fields: the smallest payload it can have.
template <class M> constexpr uint32_t vexod_fixed_size() {
    M m{};
    wire_detail::Sizer s{false};
    M::fields(m, s);
    return static_cast<uint32_t>(s.size);
}

// Bytes of a whole message, header included (in 64 bits: a request built
// from large fields may not fit a frame; see VEXOD_MAX_MSGSIZE).
template <class M> uint64_t vexod_message_size(const M& m) {
    wire_detail::Sizer s{true};
    M::fields(m, s);
    return VEXOD_HEADER_SIZE + s.size;
}

// Writes the header (magic, the message's size, resp, msgid, funcid) and the
// payload into `out`, which holds vexod_message_size(m) bytes.
template <class M> void vexod_encode(uint8_t* out, uint32_t funcid, uint32_t msgid, uint32_t resp, const M& m) {
    vexod_header_store(out, {VEXOD_MAGIC, static_cast<uint32_t>(vexod_message_size(m)), resp, msgid, funcid});
    wire_detail::Writer w{out + VEXOD_HEADER_SIZE};
    M::fields(m, w);
}

// The same, into a new buffer.
template <class M>
std::vector<uint8_t> vexod_frame(const M& m, uint32_t funcid = M::kFuncId, uint32_t msgid = 0, uint32_t resp = 0) {
    std::vector<uint8_t> out(vexod_message_size(m));
    vexod_encode(out.data(), funcid, msgid, resp, m);
    return out;
}

// Reads the payload of a whole message (`msgsize` bytes, header included)
// into `out`. False when the message is too short for its fixed fields or
// for the lengths they give; `out` is then partly filled. Variable fields
// point into `msg`.
template <class M> bool vexod_decode(const uint8_t* msg, uint32_t msgsize, M* out) {
    wire_detail::Reader r{msg, msgsize};
    M::fields(*out, r);
    return r.ok;
}

}  // namespace vgps
