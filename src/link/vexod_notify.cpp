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

// Fixed part of each notification and where its variable lengths sit (0:
// none). The variable fields follow the fixed part in the order of their
// lengths.
struct NotifyLayout {
    uint32_t fixed;
    uint32_t len1_at;
    uint32_t len2_at;
};

bool layout_of(uint32_t funcid, NotifyLayout* out) {
    switch (funcid) {
        case VEXOD_NOTIFY_SERVICE_ATTRIBUTE_SEARCH_RESPONSE: *out = {38, 26, 30}; return true;
        case VEXOD_NOTIFY_INQUIRY_COMPLETE:
        case VEXOD_NOTIFY_INQUIRY_CANCELED: *out = {24, 0, 0}; return true;
        case VEXOD_NOTIFY_INQUIRY_RESULT: *out = {39, 31, 0}; return true;
        case VEXOD_NOTIFY_REQUEST_NAME_COMPLETE: *out = {34, 26, 0}; return true;
        case VEXOD_NOTIFY_RFCOMM_CONNECTED:
        case VEXOD_NOTIFY_RFCOMM_ACCEPTED: *out = {35, 27, 0}; return true;
        case VEXOD_NOTIFY_RFCOMM_DISCONNECTED: *out = {31, 0, 0}; return true;
        case VEXOD_NOTIFY_L2CAP_CONNECTED: *out = {36, 28, 0}; return true;
        case VEXOD_NOTIFY_L2CAP_DISCONNECTED: *out = {32, 0, 0}; return true;
        case VEXOD_NOTIFY_SCO_ACCEPTED: *out = {34, 26, 0}; return true;
        case VEXOD_NOTIFY_SCO_DISCONNECTED: *out = {30, 0, 0}; return true;
        default: return false;
    }
}

// A variable field as the handlers get it: its bytes and a terminating 0.
std::unique_ptr<char[]> copy_field(const uint8_t* bytes, uint32_t length) {
    auto copy = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(length) + 1);
    if (length) std::memcpy(copy.get(), bytes, length);
    copy[length] = '\0';
    return copy;
}

bdaddr addr_at(const uint8_t* p) {
    bdaddr a;
    std::memcpy(a.addr, p, 6);
    return a;
}

int32_t s32_at(const uint8_t* p) { return static_cast<int32_t>(get_le32(p)); }

void dispatch(int fd, const uint8_t* m, uint32_t funcid, uint32_t len1, uint32_t len2) {
    switch (funcid) {
        case VEXOD_NOTIFY_SERVICE_ATTRIBUTE_SEARCH_RESPONSE: {
            auto patten = copy_field(m + 38, len1);
            auto attribute = copy_field(m + 38 + len1, len2);
            notify_service_attribute_search_response(fd, addr_at(m + 20), reinterpret_cast<uint8_t*>(patten.get()),
                                                     len1, reinterpret_cast<uint8_t*>(attribute.get()), len2,
                                                     get_le32(m + 34));
            break;
        }
        case VEXOD_NOTIFY_INQUIRY_COMPLETE: notify_inquiry_complete(fd, get_le32(m + 20)); break;
        case VEXOD_NOTIFY_INQUIRY_CANCELED: notify_inquiry_canceled(fd, get_le32(m + 20)); break;
        case VEXOD_NOTIFY_INQUIRY_RESULT: {
            auto text = copy_field(m + 39, len1);
            notify_inquiry_result(fd, addr_at(m + 20), get_le16(m + 26), m + 28, text.get(), len1, get_le32(m + 35));
            break;
        }
        case VEXOD_NOTIFY_REQUEST_NAME_COMPLETE: {
            auto name = copy_field(m + 34, len1);
            notify_requst_name_complete(fd, addr_at(m + 20), name.get(), len1, get_le32(m + 30));
            break;
        }
        case VEXOD_NOTIFY_RFCOMM_CONNECTED:
        case VEXOD_NOTIFY_RFCOMM_ACCEPTED: {
            auto path = copy_field(m + 35, len1);
            auto handler = funcid == VEXOD_NOTIFY_RFCOMM_CONNECTED ? notify_rfcomm_connected : notify_rfcomm_accepted;
            handler(fd, addr_at(m + 20), m[26], path.get(), len1, s32_at(m + 31));
            break;
        }
        case VEXOD_NOTIFY_RFCOMM_DISCONNECTED: notify_rfcomm_disconnected(fd, addr_at(m + 20), m[26], get_le32(m + 27)); break;
        case VEXOD_NOTIFY_L2CAP_CONNECTED: {
            auto path = copy_field(m + 36, len1);
            notify_l2cap_connected(fd, addr_at(m + 20), get_le16(m + 26), path.get(), len1, s32_at(m + 32));
            break;
        }
        case VEXOD_NOTIFY_L2CAP_DISCONNECTED:
            notify_l2cap_disconnected(fd, addr_at(m + 20), get_le16(m + 26), get_le32(m + 28));
            break;
        case VEXOD_NOTIFY_SCO_ACCEPTED: {
            auto path = copy_field(m + 34, len1);
            notify_sco_accepted(fd, addr_at(m + 20), path.get(), len1, s32_at(m + 30));
            break;
        }
        case VEXOD_NOTIFY_SCO_DISCONNECTED: notify_sco_disconnected(fd, addr_at(m + 20), get_le32(m + 26)); break;
        default: break;
    }
}

}  // namespace

VexodNotificationTarget* vexod_set_notification_target(VexodNotificationTarget* target) {
    VexodNotificationTarget* previous = g_target;
    g_target = target;
    return previous;
}

uint64_t vexod_notify_min_size(uint32_t funcid, uint32_t len1, uint32_t len2) {
    NotifyLayout layout;
    if (!layout_of(funcid, &layout)) return 0;
    uint64_t size = layout.fixed;
    if (layout.len1_at) size += len1;
    if (layout.len2_at) size += len2;
    return size;
}

void vexod_rpc_callback(Socket* s, uint32_t type, const void* /*address*/, const void* /*data*/, void* /*info*/) {
    if (type != kSocketReadCallBack) {
        log_error("<%s> unknown socket callback type: %d", "vexod_rpc_callback", static_cast<int>(type));
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
    vexod_msg msg;
    const int rc = vexod_read_msg("vexod_rpc_serve", fd, &msg);
    if (rc != 0) return rc;
    const uint8_t* m = msg.get();
    const uint32_t msgsize = get_le32(m + 4);
    const uint32_t funcid = get_le32(m + 16);
    NotifyLayout layout;
    // Unknown ids and notifications too short for their own fields are
    // dropped without a word.
    if (!layout_of(funcid, &layout) || msgsize < layout.fixed) return 0;
    const uint32_t len1 = layout.len1_at ? get_le32(m + layout.len1_at) : 0;
    const uint32_t len2 = layout.len2_at ? get_le32(m + layout.len2_at) : 0;
    if (msgsize < vexod_notify_min_size(funcid, len1, len2)) return 0;
    dispatch(fd, m, funcid, len1, len2);
    return 0;
}

int notify_service_attribute_search_response(int fd, bdaddr remote, const uint8_t* patten, uint32_t patten_len,
                                             const uint8_t* attribute, uint32_t attribute_len, uint32_t result) {
    if (g_target)
        g_target->serviceQueryResponse_remote_patten_patten_len_attribute_attribute_len_result(
            fd, remote, patten, patten_len, attribute, attribute_len, result);
    return 0;
}

int notify_inquiry_complete(int /*fd*/, uint32_t /*status*/) {
    log_error("<%s> ", "notify_inquiry_complete");
    if (g_target) g_target->inquiryCompleted();
    return 0;
}

int notify_inquiry_canceled(int /*fd*/, uint32_t /*status*/) {
    log_error("<%s> ", "notify_inquiry_canceled");
    if (g_target) g_target->inquiryCompleted();
    return 0;
}

int notify_inquiry_result(int /*fd*/, bdaddr address, uint16_t /*value16*/, const uint8_t device_class[3],
                          const char* text, uint32_t text_len, uint32_t /*value32*/) {
    log_error("<%s> ", "notify_inquiry_result");
    BTDeviceCache* cache = BTDeviceCache::sharedCache();
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
    log_error("<%s> ", "notify_requst_name_complete");
    if (g_target) g_target->getName_length_forDevice(name, name_len, address);
    return 0;
}

int notify_rfcomm_connected(int /*fd*/, bdaddr /*address*/, uint8_t channel, const char* path, uint32_t /*path_len*/,
                            int32_t result) {
    log_error("<%s> ", "notify_rfcomm_connected");
    log_error("<%s> result %d channel %u sockpath %s", "notify_rfcomm_connected", result,
              static_cast<unsigned>(channel), path);
    if (g_target) g_target->connectWithSocketPath_status(path, result);
    return 0;
}

int notify_rfcomm_disconnected(int /*fd*/, bdaddr /*address*/, uint8_t /*channel*/, uint32_t /*value32*/) {
    log_error("<%s> ", "notify_rfcomm_disconnected");
    if (g_target) g_target->stateChangedFrom_To(g_target->state(), 1);
    return 0;
}

int notify_l2cap_connected(int, bdaddr, uint16_t, const char*, uint32_t, int32_t) {
    log_error("<%s> ", "notify_l2cap_connected");
    return 0;
}

int notify_l2cap_disconnected(int, bdaddr, uint16_t, uint32_t) {
    log_error("<%s> ", "notify_l2cap_disconnected");
    return 0;
}

// Connections the daemon accepts for this application are not used by it.
int notify_rfcomm_accepted(int, bdaddr, uint8_t, const char*, uint32_t, int32_t) { return 0; }
int notify_sco_accepted(int, bdaddr, const char*, uint32_t, int32_t) { return 0; }
int notify_sco_disconnected(int, bdaddr, uint32_t) { return 0; }

}  // namespace vgps
