#include "sdp/sdp_parser.h"

#include <climits>
#include <cstdlib>

#include "platform/log.h"

namespace vgps {

char UUID_str[kUuidStrSize];

namespace {

bool is_text_string(uint8_t dtd) {
    return dtd == SDP_TEXT_STR8 || dtd == SDP_TEXT_STR16 || dtd == SDP_TEXT_STR32;
}

// The byte count of a text attribute. libbluetooth keeps one more than the
// text in unitSize (the type byte). A decoded string has a zero byte behind
// its text; one built with sdp_data_alloc has none, so printing with the
// full unitSize as precision would read a byte past it.
int text_length(const sdp_data_t* d) {
    if (d->unitSize == 0) return 0;
    uint32_t n = d->unitSize - 1;
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

// The text attribute `attr`, or null when absent or not a text string (any
// other type has no text behind val.str).
const sdp_data_t* text_attr(const sdp_record_t* rec, uint16_t attr) {
    const sdp_data_t* d = sdp_data_get(rec, attr);
    if (d == nullptr || !is_text_string(d->dtd) || d->val.str == nullptr) return nullptr;
    return d;
}

void free_inner_list(void* inner, void*) {
    // The data elements belong to the record; only the list goes.
    sdp_list_free(static_cast<sdp_list_t*>(inner), nullptr);
}

void print_seq_element(const sdp_data_t* d) {
    switch (d->dtd) {
    case SDP_UINT8:
        log_from("print_service_desc", "        uint8: 0x%02x", d->val.uint8);
        break;
    case SDP_UINT16:
        log_from("print_service_desc", "        uint16: 0x%04x", d->val.uint16);
        break;
    case SDP_UINT32:
        log_from("print_service_desc", "        uint32: 0x%08x", d->val.uint32);
        break;
    default:
        log_from("print_service_desc", "        FIXME: dtd=0x%02x", d->dtd);
        break;
    }
}

}  // namespace

void print_service_attr(sdp_record_t* rec) {
    static const char* const me = "print_service_attr";
    log_from(me, "------------------------------------------------------------");
    vgps::sdp_record_print(rec);
    log_from(me, "Service Record Handle: 0x%08x", rec->handle);

    sdp_list_t* list = nullptr;
    if (sdp_get_service_classes(rec, &list) == 0) {
        log_from(me, "Service Class ID List:");
        sdp_list_foreach(list, print_service_class, nullptr);
        sdp_list_free(list, free);
    }

    list = nullptr;
    if (sdp_get_access_protos(rec, &list) == 0) {
        log_from(me, "Protocol Descriptor List:");
        sdp_list_foreach(list, print_access_protos, nullptr);
        sdp_list_foreach(list, free_inner_list, nullptr);
        sdp_list_free(list, nullptr);
    }

    list = nullptr;
    if (sdp_get_lang_attr(rec, &list) == 0) {
        log_from(me, "Language Base Attribute List:");
        sdp_list_foreach(list, print_lang_attr, nullptr);
        sdp_list_free(list, free);
    }

    list = nullptr;
    if (sdp_get_profile_descs(rec, &list) == 0) {
        log_from(me, "Profile Descriptor List:");
        sdp_list_foreach(list, print_profile_desc, nullptr);
        sdp_list_free(list, free);
    }
}

void sdp_record_print(const sdp_record_t* rec) {
    static const char* const me = "sdp_record_print";
    if (const sdp_data_t* d = text_attr(rec, SDP_ATTR_SVCNAME_PRIMARY)) {
        log_from(me, "Service Name: %.*s", text_length(d), d->val.str);
    }
    if (const sdp_data_t* d = text_attr(rec, SDP_ATTR_SVCDESC_PRIMARY)) {
        log_from(me, "Service Description: %.*s", text_length(d), d->val.str);
    }
    if (const sdp_data_t* d = text_attr(rec, SDP_ATTR_PROVNAME_PRIMARY)) {
        log_from(me, "Service Provider: %.*s", text_length(d), d->val.str);
    }
}

void print_service_class(void* value, void*) {
    const auto* uuid = static_cast<const uuid_t*>(value);
    if (uuid == nullptr) return;
    char name[kClassNameSize];
    sdp_uuid2strn(uuid, UUID_str, sizeof UUID_str);
    sdp_svclass_uuid2strn(uuid, name, sizeof name);
    if (uuid->type == SDP_UUID128) {
        log_from("print_service_class", "  UUID 128: %s", UUID_str);
    } else {
        log_from("print_service_class", "  \"%s\" (0x%s)", name, UUID_str);
    }
}

void print_access_protos(void* value, void*) {
    sdp_list_foreach(static_cast<sdp_list_t*>(value), print_service_desc, nullptr);
}

void print_service_desc(void* value, void*) {
    static const char* const me = "print_service_desc";
    int proto = 0;
    int i = 0;
    for (auto* d = static_cast<sdp_data_t*>(value); d != nullptr; d = d->next, ++i) {
        switch (d->dtd) {
        case SDP_UUID16:
        case SDP_UUID32:
        case SDP_UUID128: {
            char name[kProtoNameSize];
            sdp_uuid2strn(&d->val.uuid, UUID_str, sizeof UUID_str);
            sdp_proto_uuid2strn(&d->val.uuid, name, sizeof name);
            proto = sdp_uuid_to_proto(&d->val.uuid);
            log_from(me, "  \"%s\" (0x%s)", name, UUID_str);
            break;
        }
        case SDP_UINT8:
            if (proto == RFCOMM_UUID) {
                log_from(me, "    Channel: %d", d->val.uint8);
            } else {
                log_from(me, "    uint8: 0x%02x", d->val.uint8);
            }
            break;
        case SDP_UINT16:
            if (proto == L2CAP_UUID) {
                if (i == 1) {
                    log_from(me, "    PSM: %d", d->val.uint16);
                } else {
                    log_from(me, "    Version: 0x%04x", d->val.uint16);
                }
            } else if (proto == BNEP_UUID) {
                if (i == 1) {
                    log_from(me, "    Version: 0x%04x", d->val.uint16);
                } else {
                    log_from(me, "    uint16: 0x%04x", d->val.uint16);
                }
            } else {
                log_from(me, "    uint16: 0x%04x", d->val.uint16);
            }
            break;
        case SDP_UINT32:
            log_from(me, "    uint32: 0x%08x", d->val.uint32);
            break;
        case SDP_SEQ8:
        case SDP_SEQ16:
            log_from(me, d->dtd == SDP_SEQ8 ? "    SEQ8:" : "    SEQ16:");
            for (const sdp_data_t* e = d->val.dataseq; e != nullptr; e = e->next) {
                print_seq_element(e);
            }
            log_from(me);
            break;
        default:
            log_from(me, "    FIXME: dtd=0x%02x", d->dtd);
            break;
        }
    }
}

void print_lang_attr(void* value, void*) {
    const auto* lang = static_cast<const sdp_lang_attr_t*>(value);
    if (lang == nullptr) return;
    log_from("print_lang_attr", "  code_ISO639: 0x%02x", lang->code_ISO639);
    log_from("print_lang_attr", "  encoding:    0x%02x", lang->encoding);
    log_from("print_lang_attr", "  base_offset: 0x%02x", lang->base_offset);
}

void print_profile_desc(void* value, void*) {
    const auto* desc = static_cast<const sdp_profile_desc_t*>(value);
    if (desc == nullptr) return;
    char name[kClassNameSize];
    sdp_uuid2strn(&desc->uuid, UUID_str, sizeof UUID_str);
    sdp_profile_uuid2strn(&desc->uuid, name, sizeof name);
    log_from("print_profile_desc", "  \"%s\" (0x%s)", name, UUID_str);
    if (desc->version != 0) {
        log_from("print_profile_desc", "    Version: 0x%04x", desc->version);
    }
}

}  // namespace vgps
