#include "sdp/sdp_record_walk.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "platform/log.h"
#include "platform/text.h"
#include "sdp/sdp_guard.h"
#include "sdp/sdp_parser.h"

namespace vgps {
namespace {

// Longest record header: the type byte and a 32-bit length.
constexpr size_t kMaxRecordHeader = 5;

// The primary-language service name of a record as text: a text string
// attribute 0x0100, up to its first zero byte, that is valid UTF-8.
bool service_name(const sdp_record_t* rec, std::string* out) {
    const sdp_data_t* d = sdp_data_get(rec, SDP_ATTR_SVCNAME_PRIMARY);
    if (d == nullptr || d->val.str == nullptr) return false;
    if (d->dtd != SDP_TEXT_STR8 && d->dtd != SDP_TEXT_STR16 && d->dtd != SDP_TEXT_STR32) {
        return false;
    }
    const size_t bytes = d->unitSize > 0 ? d->unitSize - 1 : 0;
    const size_t n = strnlen(d->val.str, bytes);
    std::optional<std::string> text = string_from_utf8(d->val.str, n);
    if (!text) return false;
    *out = std::move(*text);
    return true;
}

void free_inner_list(void* inner, void*) {
    sdp_list_free(static_cast<sdp_list_t*>(inner), nullptr);
}

void release_record(void* rec) { sdp_release_record(static_cast<sdp_record_t*>(rec)); }

}  // namespace

int sdp_choose_rfcomm_channel(const uint8_t* attrs, uint32_t len, bdaddr addr) {
    const char* const me = kServiceQueryResponseName;
    // libbluetooth counts bytes in int.
    const size_t length = attrs == nullptr ? 0 : std::min<size_t>(len, INT_MAX);

    int first_channel = 0;
    int gps_channel = 0;
    int records_counted = 0;

    uint8_t dtd = 0;
    int content_size = 0;
    const int header =
        length == 0 ? 0 : sdp_extract_seqtype(attrs, static_cast<int>(length), &dtd, &content_size);
    if (header > 0 && content_size != 0) {
        const uint8_t* pos = attrs + header;
        size_t remaining = length - static_cast<size_t>(header);
        size_t total = static_cast<size_t>(header);
        sdp_list_t* records = nullptr;
        for (;;) {
            const SdpRecordCheck check = sdp_check_record(pos, remaining);
            if (check.shape == SdpRecordShape::kMalformed) {
                log_from(me, "sdp_extract_pdu() failed");
                break;
            }
            // A well-formed record is decoded over its own bytes only;
            // without a header libbluetooth reads no more than one.
            const size_t bufsize = check.shape == SdpRecordShape::kWellFormed
                                       ? check.size
                                       : std::min(remaining, kMaxRecordHeader);
            int consumed = 0;
            sdp_record_t* rec = sdp_extract_pdu(pos, static_cast<int>(bufsize), &consumed);
            if (rec == nullptr) {
                log_from(me, "sdp_extract_pdu() failed");
                break;
            }
            if (consumed == 0) {
                log_from(me, "empty sdp record");
                sdp_release_record(rec);
                break;
            }
            if (consumed < 0 || static_cast<size_t>(consumed) > bufsize) {
                // Never for a checked record; refuse rather than step
                // outside the buffer.
                log_from(me, "sdp_extract_pdu() failed");
                sdp_release_record(rec);
                break;
            }
            remaining -= static_cast<size_t>(consumed);
            print_service_attr(rec);
            sdp_list_t* appended = sdp_list_append(records, rec);
            sdp_record_t* unlisted = nullptr;
            if (appended != nullptr) {
                records = appended;
            } else {
                unlisted = rec;  // no memory for the list node: release it below
            }
            total += static_cast<size_t>(consumed);

            sdp_list_t* protos = nullptr;
            if (sdp_get_access_protos(rec, &protos) == 0) {
                int channel = sdp_get_proto_port(protos, RFCOMM_UUID);
                // The connect request carries the channel in 8 bits; a
                // larger value would connect to another channel.
                if (channel < 0 || channel > UINT8_MAX) channel = 0;
                if (first_channel == 0) first_channel = channel;
                std::string name;
                if (service_name(rec, &name)) {
                    log_from(me, "Serial Port Service Name: [%s]", name.c_str());
                    if (contains_ignoring_case(name, "GPS")) gps_channel = channel;
                }
                ++records_counted;
                sdp_list_foreach(protos, free_inner_list, nullptr);
                sdp_list_free(protos, nullptr);
            }
            sdp_release_record(unlisted);

            if (total >= length || remaining == 0) break;
            pos += consumed;
        }
        sdp_list_free(records, release_record);
    }

    if (first_channel > 0 || gps_channel > 0) {
        log_from(me, "BD_ADDR: %02x:%02x:%02x:%02x:%02x:%02x", addr.addr[0], addr.addr[1], addr.addr[2], addr.addr[3],
                 addr.addr[4], addr.addr[5]);
        return gps_channel > 0 && records_counted > 1 ? gps_channel : first_channel;
    }
    log_from(me, "No rfcomm channel found");
    return 0;
}

}  // namespace vgps
