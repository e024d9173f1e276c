#include "link/vexod_notify.h"

#include <poll.h>

#include <cstring>
#include <ctime>

#include "link/vexod_rpc1.h"
#include "platform/log.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "registry/BTDeviceCache.h"

namespace vgps {
namespace {

VexodNotificationTarget* g_target = nullptr;

// A variable field as the handlers get it: its bytes and a terminating 0.
std::unique_ptr<char[]> copy_field(const vexod_bytes& field) {
    auto copy = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(field.size) + 1);
    if (field.size) std::memcpy(copy.get(), field.data, field.size);
    copy[field.size] = '\0';
    return copy;
}

const uint8_t* as_bytes(const std::unique_ptr<char[]>& copy) { return reinterpret_cast<const uint8_t*>(copy.get()); }

// Decodes the message as an M and hands it to `handler`; a message too
// short for its own fields is dropped without a word.
template <class M, class Handler>
void dispatch_as(const uint8_t* m, uint32_t msgsize, Handler handler) {
    M n;
    if (vexod_decode(m, msgsize, &n)) handler(n);
}

void dispatch(int fd, const uint8_t* m, uint32_t msgsize, uint32_t funcid) {
    switch (funcid) {
        case VEXOD_NOTIFY_SERVICE_ATTRIBUTE_SEARCH_RESPONSE:
            dispatch_as<vexod_search_response_msg>(m, msgsize, [fd](const vexod_search_response_msg& n) {
                const auto patten = copy_field(n.pattern);
                const auto attribute = copy_field(n.attributes);
                notify_service_attribute_search_response(fd, n.remote, as_bytes(patten), n.pattern.size,
                                                         as_bytes(attribute), n.attributes.size, n.result);
            });
            break;
        case VEXOD_NOTIFY_INQUIRY_COMPLETE:
        case VEXOD_NOTIFY_INQUIRY_CANCELED:
            dispatch_as<vexod_inquiry_complete_msg>(m, msgsize, [fd, funcid](const vexod_inquiry_complete_msg& n) {
                if (funcid == VEXOD_NOTIFY_INQUIRY_COMPLETE) notify_inquiry_complete(fd, n.status);
                else notify_inquiry_canceled(fd, n.status);
            });
            break;
        case VEXOD_NOTIFY_INQUIRY_RESULT:
            dispatch_as<vexod_inquiry_result_msg>(m, msgsize, [fd](const vexod_inquiry_result_msg& n) {
                const auto text = copy_field(n.text);
                notify_inquiry_result(fd, n.remote, n.value16, n.device_class, text.get(), n.text.size, n.value32);
            });
            break;
        case VEXOD_NOTIFY_REQUEST_NAME_COMPLETE:
            dispatch_as<vexod_name_complete_msg>(m, msgsize, [fd](const vexod_name_complete_msg& n) {
                const auto name = copy_field(n.name);
                notify_requst_name_complete(fd, n.remote, name.get(), n.name.size, n.result);
            });
            break;
        case VEXOD_NOTIFY_RFCOMM_CONNECTED:
        case VEXOD_NOTIFY_RFCOMM_ACCEPTED:
            dispatch_as<vexod_rfcomm_connected_msg>(m, msgsize, [fd, funcid](const vexod_rfcomm_connected_msg& n) {
                const auto path = copy_field(n.path);
                auto handler =
                    funcid == VEXOD_NOTIFY_RFCOMM_CONNECTED ? notify_rfcomm_connected : notify_rfcomm_accepted;
                handler(fd, n.remote, n.channel, path.get(), n.path.size, static_cast<int32_t>(n.result));
            });
            break;
        case VEXOD_NOTIFY_RFCOMM_DISCONNECTED:
            dispatch_as<vexod_rfcomm_disconnected_msg>(m, msgsize, [fd](const vexod_rfcomm_disconnected_msg& n) {
                notify_rfcomm_disconnected(fd, n.remote, n.channel, n.value32);
            });
            break;
        case VEXOD_NOTIFY_L2CAP_CONNECTED:
            dispatch_as<vexod_l2cap_connected_msg>(m, msgsize, [fd](const vexod_l2cap_connected_msg& n) {
                const auto path = copy_field(n.path);
                notify_l2cap_connected(fd, n.remote, n.value16, path.get(), n.path.size,
                                       static_cast<int32_t>(n.result));
            });
            break;
        case VEXOD_NOTIFY_L2CAP_DISCONNECTED:
            dispatch_as<vexod_l2cap_disconnected_msg>(m, msgsize, [fd](const vexod_l2cap_disconnected_msg& n) {
                notify_l2cap_disconnected(fd, n.remote, n.value16, n.value32);
            });
            break;
        case VEXOD_NOTIFY_SCO_ACCEPTED:
            dispatch_as<vexod_sco_accepted_msg>(m, msgsize, [fd](const vexod_sco_accepted_msg& n) {
                const auto path = copy_field(n.path);
                notify_sco_accepted(fd, n.remote, path.get(), n.path.size, static_cast<int32_t>(n.result));
            });
            break;
        case VEXOD_NOTIFY_SCO_DISCONNECTED:
            dispatch_as<vexod_sco_disconnected_msg>(m, msgsize, [fd](const vexod_sco_disconnected_msg& n) {
                notify_sco_disconnected(fd, n.remote, n.value32);
            });
            break;
        default:  // no handler, 35 and stray responses included: dropped
            break;
    }
}

}  // namespace

VexodNotificationTarget* vexod_set_notification_target(VexodNotificationTarget* target) {
    VexodNotificationTarget* previous = g_target;
    g_target = target;
    return previous;
}

void vexod_rpc_callback(Socket* s, uint32_t type, const void* /*address*/, const void* /*data*/, void* /*info*/) {
    if (type != kSocketReadCallBack) {
        log_from("vexod_rpc_callback", "unknown socket callback type: %d", static_cast<int>(type));
        return;
    }
    // A readability check of 1 microsecond: a callback that comes when
    // nothing is there must not block the run loop in a read.
    const int fd = s->native();
    pollfd p{fd, POLLIN, 0};
    const timespec one_us{0, 1000};
    if (::ppoll(&p, 1, &one_us, nullptr) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR))) {
        vexod_rpc_serve(fd);
    }
}

int vexod_rpc_serve(int fd) {
    vexod_msg msg = vexod_take_held(fd);
    if (!msg) {
        const int rc = vexod_read_msg("vexod_rpc_serve", fd, &msg);
        if (rc != 0) return rc;
    }
    const vexod_msg_header h = vexod_header_load(msg.get());
    dispatch(fd, msg.get(), h.msgsize, h.funcid);
    return 0;
}

size_t vexod_serve_held(int fd) {
    size_t served = 0;
    for (vexod_msg msg; (msg = vexod_take_held(fd)); ++served) {
        const vexod_msg_header h = vexod_header_load(msg.get());
        dispatch(fd, msg.get(), h.msgsize, h.funcid);
    }
    return served;
}

int notify_service_attribute_search_response(int fd, bdaddr remote, const uint8_t* patten, uint32_t patten_len,
                                             const uint8_t* attribute, uint32_t attribute_len, uint32_t result) {
    if (g_target)
        g_target->serviceQueryResponse_remote_patten_patten_len_attribute_attribute_len_result(
            fd, remote, patten, patten_len, attribute, attribute_len, result);
    return 0;
}

int notify_inquiry_complete(int /*fd*/, uint32_t /*status*/) {
    log_from("notify_inquiry_complete");
    if (g_target) g_target->inquiryCompleted();
    return 0;
}

int notify_inquiry_canceled(int /*fd*/, uint32_t /*status*/) {
    log_from("notify_inquiry_canceled");
    if (g_target) g_target->inquiryCompleted();
    return 0;
}

int notify_inquiry_result(int /*fd*/, bdaddr address, uint16_t /*value16*/, const uint8_t device_class[3],
                          const char* text, uint32_t text_len, uint32_t /*value32*/) {
    log_from("notify_inquiry_result");
    BTDeviceCache* cache = g_target ? g_target->deviceList() : BTDeviceCache::sharedCache();
    if (cache->getBTDevice(&address)) return 0;
    const uint32_t cod = static_cast<uint32_t>(device_class[0]) * 65536 + static_cast<uint32_t>(device_class[1]) * 256 +
                         device_class[2];
    std::optional<std::string> manufacturer;
    if (text_len != 0) manufacturer = string_from_utf8(text);
    auto device = std::make_shared<BTDevice>(std::nullopt, cod, std::move(manufacturer), &address);
    device->setIsSaved(false);
    device->setIsBookmarked(false);
    cache->addBTDevice(device);
    if (g_target) g_target->foundNewDevice(device);
    return 0;
}

int notify_requst_name_complete(int /*fd*/, bdaddr address, const char* name, uint32_t name_len, uint32_t /*result*/) {
    log_from("notify_requst_name_complete");
    if (g_target) g_target->getName_length_forDevice(name, name_len, address);
    return 0;
}

int notify_rfcomm_connected(int /*fd*/, bdaddr /*address*/, uint8_t channel, const char* path, uint32_t /*path_len*/,
                            int32_t result) {
    log_from("notify_rfcomm_connected");
    log_from("notify_rfcomm_connected", "result %d channel %u sockpath %s", result, static_cast<unsigned>(channel),
             path);
    if (g_target) g_target->connectWithSocketPath_status(path, result);
    return 0;
}

int notify_rfcomm_disconnected(int /*fd*/, bdaddr /*address*/, uint8_t /*channel*/, uint32_t /*value32*/) {
    log_from("notify_rfcomm_disconnected");
    if (g_target) g_target->stateChangedFrom_To(g_target->state(), 1);
    return 0;
}

int notify_l2cap_connected(int, bdaddr, uint16_t, const char*, uint32_t, int32_t) {
    log_from("notify_l2cap_connected");
    return 0;
}

int notify_l2cap_disconnected(int, bdaddr, uint16_t, uint32_t) {
    log_from("notify_l2cap_disconnected");
    return 0;
}

// Connections the daemon accepts for this application are not used by it.
int notify_rfcomm_accepted(int, bdaddr, uint8_t, const char*, uint32_t, int32_t) { return 0; }
int notify_sco_accepted(int, bdaddr, const char*, uint32_t, int32_t) { return 0; }
int notify_sco_disconnected(int, bdaddr, uint32_t) { return 0; }

}  // namespace vgps
