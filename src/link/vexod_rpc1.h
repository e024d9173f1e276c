// The daemon link's wire layer: the process-wide message id counter,
// sending and receiving whole messages, and the seven requests. The bytes
// themselves are vexod_wire.h's.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "link/vexod_wire.h"
#include "platform/fd.h"
#include "registry/bdaddr.h"

namespace vgps {

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
// A notification (resp 0 and a function id of 25 to 37) that comes first is
// held (below) and the wait goes on for the response, all within one read
// time-out.
int vexod_xrecv(uint32_t msgid, vexod_rpc_ctx* ctx);

// Notifications held while a request waited for its response, per daemon
// socket and in their order of arrival. They are served once the request
// has returned: the owner of the connection hears of each one held (the
// hold handler) and serves them from its run loop (vexod_serve_held), and
// the notification path serves them before it reads anything newer. At most
// kMaxHeldBytes are held; a notification beyond that is dropped with a log
// line.
inline constexpr size_t kMaxHeldBytes = 64 << 20;
size_t vexod_held_count(int fd);
// The oldest held notification of `fd`, taken out; null when none is held.
vexod_msg vexod_take_held(int fd);
// Forgets those of `fd`: its connection is closing.
void vexod_drop_held(int fd);
using vexod_hold_handler = std::function<void(int fd)>;
// Installs the handler and returns the previous one.
vexod_hold_handler vexod_set_hold_handler(vexod_hold_handler handler);

// Reads one message and checks its frame (codes 0 to 5 of vexod_xrecv), with
// `who` as the name in the log lines. Shared by the response and the
// notification paths; `awaiting` waits for readability before the first
// read (a response), otherwise the read comes first (a notification the
// run loop has seen arrive). The whole message must arrive by `deadline`
// (without one, within the read time-out from now), and a stop signal ends
// the wait: both give up the connection (codes 1 and 5).
int vexod_read_msg(const char* who, int fd, vexod_msg* out, bool awaiting = false);
int vexod_read_msg(const char* who, int fd, vexod_msg* out, bool awaiting, Deadline deadline);

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

// Why the wire layer gives up the daemon connection.
enum class VexodLoss {
    PeerClosed,  // a read came up short (the daemon closed the connection,
                 // or a read failed) or the stream can no longer be framed
    NoAnswer,    // a message did not arrive whole within the read time-out
    Stopped,     // a stop signal came while a message was awaited
};

// The loss of the daemon connection. The wire layer calls this whenever a
// read on the daemon socket comes up short, runs out of time or is stopped,
// or the stream can no longer be trusted; the layer that owns the
// connection installs the reaction (close the connection, tell the user
// what happened). Without one installed nothing happens.
// vexod_peer_disconnected is the loss with VexodLoss::PeerClosed.
void vexod_peer_disconnected(int fd);
void vexod_connection_lost(int fd, VexodLoss why);
using vexod_peer_disconnect_handler = std::function<void(int fd, VexodLoss why)>;
// Installs the reaction and returns the previous one.
vexod_peer_disconnect_handler vexod_set_peer_disconnect_handler(vexod_peer_disconnect_handler handler);

}  // namespace vgps
