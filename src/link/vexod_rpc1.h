// The wire protocol to the vexod daemon: the message frame, the process-wide
// message id counter, sending and receiving whole messages, and the seven
// requests. Every integer is little-endian on the wire, whatever the host.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "registry/bdaddr.h"

namespace vgps {

inline constexpr uint32_t VEXOD_MAGIC = 0x12345678;
inline constexpr uint32_t VEXOD_HEADER_SIZE = 20;
// Largest acceptable msgsize: just below 50 MiB.
inline constexpr uint32_t VEXOD_MAX_MSGSIZE = 52428799;
// A successful response carries a 32-bit value at offset 20.
inline constexpr uint32_t VEXOD_MIN_RESULT_SIZE = 24;

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

// The 20-byte header at the start of every message.
struct vexod_msg_header {
    uint32_t magic;
    uint32_t msgsize;  // whole message, header included
    uint32_t resp;     // 0 in requests; not 0 in responses
    uint32_t msgid;    // request id, echoed by its response
    uint32_t funcid;   // function id; in a response, the result code
};

inline uint16_t get_le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t get_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void put_le16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

vexod_msg_header vexod_header_load(const uint8_t* bytes);
void vexod_header_store(uint8_t* bytes, const vexod_msg_header& header);

// Process-wide message id counter; each request takes the value after an
// atomic increment, so the first request carries 1. Never reset.
extern std::atomic<uint32_t> msgids;

// A received message, header included.
using vexod_msg = std::unique_ptr<uint8_t[]>;

// What the receive routine works on: the socket, and the slot where it leaves
// the received message for the caller.
struct vexod_rpc_ctx {
    int fd = -1;
    vexod_msg msg;
};

// Writes the magic into bytes 0..3, then all msgsize bytes. 0 when the whole
// message went out, any other value otherwise.
int vexod_xsend(int fd, uint8_t* msg);

// Reads one response and checks it. 0: the message is in ctx->msg. Otherwise:
// 1 header incomplete, 2 wrong magic, 3 msgsize below 20, 4 msgsize too big,
// 5 body incomplete, 6 not a response, 7 another request's id.
int vexod_xrecv(uint32_t msgid, vexod_rpc_ctx* ctx);

// Reads one message and checks its frame (codes 0 to 5 of vexod_xrecv), with
// `who` as the name in the log lines. Shared by the response and the
// notification paths.
int vexod_read_msg(const char* who, int fd, vexod_msg* out);

// Requests. Each sends one message, waits for its response and returns 0 on
// success (the response's value stored in *ret when ret is given), 1 when
// the request could not be sent, 2 when no valid response came, 3 when a
// successful response lacks its value, or the daemon's own result code.
int vexod_register_application(int fd, uint32_t* ret);
int vexod_get_power_state(int fd, uint32_t* ret);
int vexod_power_on(int fd, uint32_t* ret);
int vexod_start_inquiry(int fd, uint32_t* ret);
int vexod_request_name(int fd, bdaddr addr, uint8_t param8, uint32_t param32, uint32_t* ret);
int vexod_rfcomm_connect(int fd, bdaddr addr, uint8_t param8, uint8_t channel, uint32_t* ret);
int vexod_service_attribute_search_request(int fd, bdaddr addr, uint16_t max_attr_bytes,
                                           const uint8_t* pattern, uint32_t pattern_len,
                                           const uint8_t* attr_list, uint32_t attr_list_len,
                                           uint32_t* ret);

// The loss of the daemon connection. The wire layer calls this whenever a
// read on the daemon socket comes up short or the stream can no longer be
// trusted; the layer that owns the connection installs the reaction (close
// the connection, tell the user). Without one installed nothing happens.
void vexod_peer_disconnected(int fd);
using vexod_peer_disconnect_handler = std::function<void(int fd)>;
// Installs the reaction and returns the previous one.
vexod_peer_disconnect_handler vexod_set_peer_disconnect_handler(vexod_peer_disconnect_handler handler);

}  // namespace vgps
