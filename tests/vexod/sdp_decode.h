// Decodes a service search answer with libbluetooth, the way the
// application walks it, for the vexod tests.
#pragma once

#include <bluetooth/bluetooth.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vexod {

struct DecodedRecord {
    std::string name;
    int channel = -1;  // -1: no protocol descriptor list
    uint32_t handle = 0;
    uint16_t service_class = 0;
};

// Records a failure when the bytes are not one sequence of whole records.
inline std::vector<DecodedRecord> decode_records(const std::vector<uint8_t>& bytes) {
    std::vector<DecodedRecord> out;
    uint8_t dtd = 0;
    int size = 0;
    const int scanned = sdp_extract_seqtype(bytes.data(), static_cast<int>(bytes.size()), &dtd, &size);
    EXPECT_GT(scanned, 0);
    if (scanned <= 0) return out;
    EXPECT_EQ(static_cast<size_t>(scanned + size), bytes.size());
    const uint8_t* p = bytes.data() + scanned;
    int left = size;
    while (left > 0) {
        int used = 0;
        sdp_record_t* rec = sdp_extract_pdu(p, left, &used);
        if (!rec || used == 0) {
            ADD_FAILURE() << "undecodable record";
            if (rec) sdp_record_free(rec);
            break;
        }
        DecodedRecord d;
        d.handle = rec->handle;
        if (sdp_data_t* name = sdp_data_get(rec, SDP_ATTR_SVCNAME_PRIMARY))
            d.name.assign(name->val.str, strnlen(name->val.str, name->unitSize));
        sdp_list_t* protos = nullptr;
        if (sdp_get_access_protos(rec, &protos) == 0) {
            d.channel = sdp_get_proto_port(protos, RFCOMM_UUID);
            sdp_list_foreach(protos, reinterpret_cast<sdp_list_func_t>(sdp_list_free), nullptr);
            sdp_list_free(protos, nullptr);
        }
        sdp_list_t* classes = nullptr;
        if (sdp_get_service_classes(rec, &classes) == 0 && classes) {
            d.service_class = static_cast<uuid_t*>(classes->data)->value.uuid16;
            sdp_list_free(classes, free);
        }
        out.push_back(d);
        sdp_record_free(rec);
        p += used;
        left -= used;
    }
    return out;
}

}  // namespace vexod
