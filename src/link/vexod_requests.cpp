// The seven requests to the daemon. Each builds one message, sends it, waits
// for the matching response and turns it into a result code.
#include <signal.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "link/vexod_rpc1.h"
#include "platform/log.h"

namespace vgps {
namespace {

// Steps shared by every request before its payload: header with a fresh
// message id, then the log line naming the request.
uint32_t begin_request(uint8_t* msg, uint32_t msgsize, uint32_t funcid, const char* name) {
    const uint32_t id = msgids.fetch_add(1) + 1;
    vexod_header_store(msg, {0, msgsize, 0, id, funcid});
    log_error("<%s> funcid = %d", name, static_cast<int>(funcid));
    return id;
}

// Sends the finished request and reads its response.
int finish_request(int fd, uint8_t* msg, uint32_t id, uint32_t* ret) {
    ::signal(SIGPIPE, SIG_IGN);
    if (vexod_xsend(fd, msg) != 0) return 1;
    vexod_rpc_ctx ctx;
    ctx.fd = fd;
    if (vexod_xrecv(id, &ctx) != 0) return 2;
    const vexod_msg_header h = vexod_header_load(ctx.msg.get());
    if (h.funcid != 0) return static_cast<int>(h.funcid);
    if (h.msgsize < VEXOD_MIN_RESULT_SIZE) return 3;
    if (ret) *ret = get_le32(ctx.msg.get() + 20);
    return 0;
}

int simple_request(int fd, uint32_t funcid, const char* name, uint32_t* ret) {
    std::array<uint8_t, VEXOD_HEADER_SIZE> msg{};
    const uint32_t id = begin_request(msg.data(), msg.size(), funcid, name);
    return finish_request(fd, msg.data(), id, ret);
}

}  // namespace

int vexod_register_application(int fd, uint32_t* ret) {
    return simple_request(fd, VEXOD_REGISTER_APPLICATION, "vexod_register_application", ret);
}

int vexod_get_power_state(int fd, uint32_t* ret) {
    return simple_request(fd, VEXOD_GET_POWER_STATE, "vexod_get_power_state", ret);
}

int vexod_power_on(int fd, uint32_t* ret) {
    return simple_request(fd, VEXOD_POWER_ON, "vexod_power_on", ret);
}

int vexod_start_inquiry(int fd, uint32_t* ret) {
    return simple_request(fd, VEXOD_START_INQUIRY, "vexod_start_inquiry", ret);
}

int vexod_request_name(int fd, bdaddr addr, uint8_t param8, uint32_t param32, uint32_t* ret) {
    std::array<uint8_t, 31> msg{};
    const uint32_t id = begin_request(msg.data(), msg.size(), VEXOD_REQUEST_NAME, "vexod_request_name");
    std::memcpy(msg.data() + 20, addr.addr, 6);
    msg[26] = param8;
    put_le32(msg.data() + 27, param32);
    return finish_request(fd, msg.data(), id, ret);
}

int vexod_rfcomm_connect(int fd, bdaddr addr, uint8_t param8, uint8_t channel, uint32_t* ret) {
    std::array<uint8_t, 28> msg{};
    const uint32_t id = begin_request(msg.data(), msg.size(), VEXOD_RFCOMM_CONNECT, "vexod_rfcomm_connect");
    std::memcpy(msg.data() + 20, addr.addr, 6);
    msg[26] = param8;
    msg[27] = channel;
    return finish_request(fd, msg.data(), id, ret);
}

int vexod_service_attribute_search_request(int fd, bdaddr addr, uint16_t max_attr_bytes,
                                           const uint8_t* pattern, uint32_t pattern_len,
                                           const uint8_t* attr_list, uint32_t attr_list_len,
                                           uint32_t* ret) {
    static const char* const name = "vexod_service_attribute_search_request";
    const uint64_t size = 36ull + pattern_len + attr_list_len;
    if (size > VEXOD_MAX_MSGSIZE) {
        // Too big for any daemon to accept; fails like a send that did not
        // go out completely.
        log_error("<%s> funcid = %d", name, static_cast<int>(VEXOD_SERVICE_ATTRIBUTE_SEARCH));
        log_error("<%s> request of %llu bytes is too big", name, static_cast<unsigned long long>(size));
        return 1;
    }
    std::vector<uint8_t> msg(size);
    const uint32_t id = begin_request(msg.data(), static_cast<uint32_t>(size), VEXOD_SERVICE_ATTRIBUTE_SEARCH, name);
    std::memcpy(msg.data() + 20, addr.addr, 6);
    put_le16(msg.data() + 26, max_attr_bytes);
    put_le32(msg.data() + 28, pattern_len);
    put_le32(msg.data() + 32, attr_list_len);
    if (pattern_len) std::memcpy(msg.data() + 36, pattern, pattern_len);
    if (attr_list_len) std::memcpy(msg.data() + 36 + pattern_len, attr_list, attr_list_len);
    return finish_request(fd, msg.data(), id, ret);
}

}  // namespace vgps
