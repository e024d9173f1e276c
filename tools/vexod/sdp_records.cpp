#include "sdp_records.h"

#include <bluetooth/bluetooth.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>

#include <cstdlib>

namespace vexod {
namespace {

// One record: handle, service class, protocol descriptors (L2CAP, then
// RFCOMM with its channel when there is one), the English language base,
// the profile descriptor and the name.
std::vector<uint8_t> encode_record(const Service& spec, uint32_t handle) {
    sdp_record_t* rec = sdp_record_alloc();
    sdp_attr_add(rec, SDP_ATTR_RECORD_HANDLE, sdp_data_alloc(SDP_UINT32, &handle));
    rec->handle = handle;

    uuid_t svclass;
    sdp_uuid16_create(&svclass, spec.service_class);
    sdp_list_t* classes = sdp_list_append(nullptr, &svclass);
    sdp_set_service_classes(rec, classes);

    uuid_t l2cap, rfcomm;
    sdp_uuid16_create(&l2cap, L2CAP_UUID);
    sdp_uuid16_create(&rfcomm, RFCOMM_UUID);
    sdp_list_t* l2cap_desc = sdp_list_append(nullptr, &l2cap);
    sdp_list_t* protos = sdp_list_append(nullptr, l2cap_desc);
    sdp_list_t* rfcomm_desc = nullptr;
    sdp_data_t* channel = nullptr;
    if (spec.rfcomm_channel != 0) {
        uint8_t ch = spec.rfcomm_channel;
        channel = sdp_data_alloc(SDP_UINT8, &ch);
        rfcomm_desc = sdp_list_append(nullptr, &rfcomm);
        rfcomm_desc = sdp_list_append(rfcomm_desc, channel);
        protos = sdp_list_append(protos, rfcomm_desc);
    }
    sdp_list_t* access = sdp_list_append(nullptr, protos);
    sdp_set_access_protos(rec, access);

    sdp_lang_attr_t lang{0x656e, 0x006a, SDP_PRIMARY_LANG_BASE};
    sdp_list_t* langs = sdp_list_append(nullptr, &lang);
    sdp_set_lang_attr(rec, langs);

    sdp_profile_desc_t profile;
    sdp_uuid16_create(&profile.uuid, spec.service_class);
    profile.version = 0x0100;
    sdp_list_t* profiles = sdp_list_append(nullptr, &profile);
    sdp_set_profile_descs(rec, profiles);

    if (!spec.name.empty()) sdp_set_info_attr(rec, spec.name.c_str(), nullptr, nullptr);

    sdp_buf_t buf{};
    std::vector<uint8_t> out;
    if (sdp_gen_record_pdu(rec, &buf) == 0) {
        out.assign(buf.data, buf.data + buf.data_size);
        std::free(buf.data);
    }

    // The setters copied what they needed; the lists only point at locals.
    sdp_list_free(classes, nullptr);
    sdp_list_free(l2cap_desc, nullptr);
    sdp_list_free(rfcomm_desc, nullptr);
    sdp_list_free(protos, nullptr);
    sdp_list_free(access, nullptr);
    sdp_list_free(langs, nullptr);
    sdp_list_free(profiles, nullptr);
    if (channel) sdp_data_free(channel);
    sdp_record_free(rec);
    return out;
}

void put_sequence_header(std::vector<uint8_t>& out, size_t length) {
    if (length <= 0xFF) {
        out.push_back(SDP_SEQ8);
        out.push_back(static_cast<uint8_t>(length));
    } else if (length <= 0xFFFF) {
        out.push_back(SDP_SEQ16);
        out.push_back(static_cast<uint8_t>(length >> 8));
        out.push_back(static_cast<uint8_t>(length));
    } else {
        out.push_back(SDP_SEQ32);
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(length >> shift));
    }
}

}  // namespace

std::vector<uint8_t> build_attribute_lists(const std::vector<Service>& services) {
    std::vector<uint8_t> records;
    uint32_t handle = 0x00010000;
    for (const Service& spec : services) {
        std::vector<uint8_t> rec = encode_record(spec, handle++);
        records.insert(records.end(), rec.begin(), rec.end());
    }
    std::vector<uint8_t> out;
    put_sequence_header(out, records.size());
    out.insert(out.end(), records.begin(), records.end());
    return out;
}

}  // namespace vexod
