// The seven requests to the daemon. Each builds one message, sends it, waits
// for the matching response and turns it into a result code.
#include <vector>

#include "link/vexod_rpc1.h"
#include "platform/log.h"

namespace vgps {
namespace {

// Builds the request (a fresh message id, the log line naming it, then
// the payload), sends it and reads its response.
template <class M>
int request(int fd, uint32_t funcid, const char* name, const M& payload, uint32_t* ret) {
    const uint64_t size = vexod_message_size(payload);
    if (size > VEXOD_MAX_MSGSIZE) {
        // Too big for any daemon to accept; fails like a send that did not
        // go out completely.
        log_from(name, "funcid = %d", static_cast<int>(funcid));
        log_from(name, "request of %llu bytes is too big", static_cast<unsigned long long>(size));
        return 1;
    }
    // Every request but the service search fits on the stack.
    uint8_t small[64];
    std::vector<uint8_t> large(size > sizeof small ? size : 0);
    uint8_t* msg = large.empty() ? small : large.data();

    const uint32_t id = msgids.fetch_add(1) + 1;
    log_from(name, "funcid = %d", static_cast<int>(funcid));
    vexod_encode(msg, funcid, id, 0, payload);

    if (vexod_xsend(fd, msg) != 0) return 1;
    vexod_rpc_ctx ctx;
    ctx.fd = fd;
    if (vexod_xrecv(id, &ctx) != 0) return 2;
    const vexod_msg_header h = vexod_header_load(ctx.msg.get());
    if (h.funcid != VEXOD_RESULT_SUCCESS) return static_cast<int>(h.funcid);
    vexod_result_msg result;
    if (!vexod_decode(ctx.msg.get(), h.msgsize, &result)) return 3;
    if (ret) *ret = result.value;
    return 0;
}

}  // namespace

int vexod_register_application(int fd, uint32_t* ret) {
    return request(fd, VEXOD_REGISTER_APPLICATION, "vexod_register_application", vexod_no_payload{}, ret);
}

int vexod_get_power_state(int fd, uint32_t* ret) {
    return request(fd, VEXOD_GET_POWER_STATE, "vexod_get_power_state", vexod_no_payload{}, ret);
}

int vexod_power_on(int fd, uint32_t* ret) {
    return request(fd, VEXOD_POWER_ON, "vexod_power_on", vexod_no_payload{}, ret);
}

int vexod_start_inquiry(int fd, uint32_t* ret) {
    return request(fd, VEXOD_START_INQUIRY, "vexod_start_inquiry", vexod_no_payload{}, ret);
}

int vexod_request_name(int fd, bdaddr addr, uint8_t param8, uint32_t param32, uint32_t* ret) {
    return request(fd, VEXOD_REQUEST_NAME, "vexod_request_name", vexod_request_name_msg{addr, param8, param32}, ret);
}

int vexod_rfcomm_connect(int fd, bdaddr addr, uint8_t param8, uint8_t channel, uint32_t* ret) {
    return request(fd, VEXOD_RFCOMM_CONNECT, "vexod_rfcomm_connect", vexod_rfcomm_connect_msg{addr, param8, channel},
                   ret);
}

int vexod_service_attribute_search_request(int fd, bdaddr addr, uint16_t max_attr_bytes, const uint8_t* pattern,
                                           uint32_t pattern_len, const uint8_t* attr_list, uint32_t attr_list_len,
                                           uint32_t* ret) {
    return request(fd, VEXOD_SERVICE_ATTRIBUTE_SEARCH, "vexod_service_attribute_search_request",
                   vexod_service_search_msg{addr, max_attr_bytes, {pattern, pattern_len}, {attr_list, attr_list_len}},
                   ret);
}

}  // namespace vgps
