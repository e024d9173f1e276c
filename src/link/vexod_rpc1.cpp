#include "link/vexod_rpc1.h"

#include <algorithm>
#include <deque>
#include <utility>

#include "link/utility.h"
#include "platform/log.h"

namespace vgps {

std::atomic<uint32_t> msgids{0};

namespace {
vexod_peer_disconnect_handler g_peer_disconnect;

struct HeldMessage {
    int fd;
    vexod_msg msg;
    size_t size;
};
std::deque<HeldMessage> g_held;
size_t g_held_bytes = 0;
vexod_hold_handler g_hold_handler;

void hold(int fd, vexod_msg msg) {
    const vexod_msg_header h = vexod_header_load(msg.get());
    if (g_held_bytes + h.msgsize > kMaxHeldBytes) {
        log_from("vexod_xrecv", "notification %u of %u bytes dropped: %zu bytes are held already", h.funcid,
                 h.msgsize, g_held_bytes);
        return;
    }
    g_held_bytes += h.msgsize;
    g_held.push_back(HeldMessage{fd, std::move(msg), h.msgsize});
    // Copy first: the handler may install another one.
    vexod_hold_handler handler = g_hold_handler;
    if (handler) handler(fd);
}

}  // namespace

size_t vexod_held_count(int fd) {
    return static_cast<size_t>(
        std::count_if(g_held.begin(), g_held.end(), [fd](const HeldMessage& m) { return m.fd == fd; }));
}

vexod_msg vexod_take_held(int fd) {
    const auto it = std::find_if(g_held.begin(), g_held.end(), [fd](const HeldMessage& m) { return m.fd == fd; });
    if (it == g_held.end()) return nullptr;
    vexod_msg msg = std::move(it->msg);
    g_held_bytes -= it->size;
    g_held.erase(it);
    return msg;
}

void vexod_drop_held(int fd) {
    while (vexod_take_held(fd)) {
    }
}

vexod_hold_handler vexod_set_hold_handler(vexod_hold_handler handler) {
    return std::exchange(g_hold_handler, std::move(handler));
}

void vexod_peer_disconnected(int fd) { vexod_connection_lost(fd, VexodLoss::PeerClosed); }

void vexod_connection_lost(int fd, VexodLoss why) {
    // Copy first: the reaction may install another handler.
    vexod_peer_disconnect_handler handler = g_peer_disconnect;
    if (handler) handler(fd, why);
}

vexod_peer_disconnect_handler vexod_set_peer_disconnect_handler(vexod_peer_disconnect_handler handler) {
    return std::exchange(g_peer_disconnect, std::move(handler));
}

int vexod_xsend(int fd, uint8_t* msg) {
    put_le32(msg, VEXOD_MAGIC);
    const uint32_t msgsize = get_le32(msg + 4);
    if (msgsize < VEXOD_HEADER_SIZE || msgsize > VEXOD_MAX_MSGSIZE) {
        log_from("vexod_xsend", "msgsize %u out of range", msgsize);
        return -1;
    }
    const int written = writen(fd, msg, static_cast<int32_t>(msgsize));
    return written - static_cast<int>(msgsize);
}

namespace {

// What a read that came up short means for the connection.
VexodLoss loss_of(ReadEnd end) {
    switch (end) {
        case ReadEnd::TimedOut: return VexodLoss::NoAnswer;
        case ReadEnd::Stopped: return VexodLoss::Stopped;
        default: return VexodLoss::PeerClosed;
    }
}

}  // namespace

int vexod_read_msg(const char* who, int fd, vexod_msg* out, bool awaiting) {
    return vexod_read_msg(who, fd, out, awaiting, read_deadline());
}

int vexod_read_msg(const char* who, int fd, vexod_msg* out, bool awaiting, Deadline deadline) {
    uint8_t header[VEXOD_HEADER_SIZE];
    const ReadEnd header_end = readn_by(fd, header, VEXOD_HEADER_SIZE, deadline, awaiting);
    if (header_end != ReadEnd::Complete) {
        log_from(who, "read msg hdr of %u byte failed", VEXOD_HEADER_SIZE);
        vexod_connection_lost(fd, loss_of(header_end));
        return 1;
    }
    const vexod_msg_header h = vexod_header_load(header);
    // After a bad magic or size the rest of the stream cannot be framed any
    // more: the connection is given up like a lost daemon rather than read
    // from the middle of a message.
    if (h.magic != VEXOD_MAGIC) {
        log_from(who, "invalid magic 0x%08x", h.magic);
        vexod_peer_disconnected(fd);
        return 2;
    }
    if (h.msgsize < VEXOD_HEADER_SIZE) {
        log_from(who, "msgsize is too small");
        vexod_peer_disconnected(fd);
        return 3;
    }
    if (h.msgsize > VEXOD_MAX_MSGSIZE) {
        log_from(who, "msgsize is too big");
        vexod_peer_disconnected(fd);
        return 4;
    }
    vexod_msg msg = std::make_unique_for_overwrite<uint8_t[]>(h.msgsize);
    std::copy(header, header + VEXOD_HEADER_SIZE, msg.get());
    const uint32_t body = h.msgsize - VEXOD_HEADER_SIZE;
    const ReadEnd body_end = readn_by(fd, msg.get() + VEXOD_HEADER_SIZE, body, deadline);
    if (body_end != ReadEnd::Complete) {
        log_from(who, "failed to read msg body of %u bytes", body);
        vexod_connection_lost(fd, loss_of(body_end));
        return 5;
    }
    *out = std::move(msg);
    return 0;
}

int vexod_xrecv(uint32_t msgid, vexod_rpc_ctx* ctx) {
    // Called right after the request went out: its response cannot be
    // there yet, so each wait comes before its read. Notifications that
    // come first are held, and the response must still come within the
    // one deadline.
    const Deadline deadline = read_deadline();
    for (;;) {
        vexod_msg msg;
        const int rc = vexod_read_msg("vexod_xrecv", ctx->fd, &msg, true, deadline);
        if (rc != 0) return rc;
        const vexod_msg_header h = vexod_header_load(msg.get());
        if (h.resp == 0 && vexod_is_notification_id(h.funcid)) {
            hold(ctx->fd, std::move(msg));
            continue;
        }
        if (h.resp == 0) {
            log_from("vexod_xrecv", "msg is not a resp");
            return 6;
        }
        if (h.msgid != msgid) {
            log_from("vexod_xrecv", "msgid mismatch");
            return 7;
        }
        ctx->msg = std::move(msg);
        return 0;
    }
}

}  // namespace vgps
