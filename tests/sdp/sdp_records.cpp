#include "sdp_records.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "support/temp_dir.h"

namespace vgps::test {

uuid_t uuid16(uint16_t v) {
    uuid_t u;
    sdp_uuid16_create(&u, v);
    return u;
}

uuid_t uuid128(const char* hyphenated) {
    uint8_t bytes[16];
    size_t n = 0;
    for (const char* p = hyphenated; *p != '\0' && n < 16; ++p) {
        if (*p == '-') continue;
        bytes[n++] = static_cast<uint8_t>(std::strtoul(std::string(p, 2).c_str(), nullptr, 16));
        ++p;
    }
    uuid_t u;
    sdp_uuid128_create(&u, bytes);
    return u;
}

RecordBuilder::RecordBuilder() : rec_(sdp_record_alloc()) {}

RecordBuilder::~RecordBuilder() { sdp_record_free(rec_); }

RecordBuilder& RecordBuilder::handle(uint32_t h) {
    sdp_attr_add_new(rec_, SDP_ATTR_RECORD_HANDLE, SDP_UINT32, &h);
    rec_->handle = h;
    return *this;
}

RecordBuilder& RecordBuilder::info(const char* name, const char* provider,
                                   const char* description) {
    sdp_set_info_attr(rec_, name, provider, description);
    return *this;
}

RecordBuilder& RecordBuilder::classes(const std::vector<uuid_t>& uuids) {
    sdp_list_t* list = nullptr;
    for (const uuid_t& u : uuids) list = sdp_list_append(list, const_cast<uuid_t*>(&u));
    sdp_set_service_classes(rec_, list);
    sdp_list_free(list, nullptr);
    return *this;
}

RecordBuilder& RecordBuilder::protocols(const std::vector<Proto>& stack) {
    // Each descriptor is a list: the UUID (libbluetooth reads a uuid_t in
    // place of a data element, its type doubling as the element type), then
    // the parameters. Scalars are copied into the record; a sequence
    // parameter is taken over by it.
    std::vector<sdp_data_t*> scalars;
    sdp_list_t* outer = nullptr;
    for (const Proto& proto : stack) {
        sdp_list_t* inner = sdp_list_append(nullptr, const_cast<uuid_t*>(&proto.uuid));
        for (const Param& param : proto.params) {
            sdp_data_t* d;
            if (param.dtd == SDP_SEQ8 || param.dtd == SDP_SEQ16) {
                sdp_data_t* items = nullptr;
                for (uint16_t v : param.items) {
                    items = sdp_seq_append(items, sdp_data_alloc(SDP_UINT16, &v));
                }
                d = sdp_data_alloc(param.dtd, items);
            } else if (param.dtd == SDP_UINT8) {
                uint8_t v = static_cast<uint8_t>(param.value);
                d = sdp_data_alloc(SDP_UINT8, &v);
                scalars.push_back(d);
            } else {
                d = sdp_data_alloc(param.dtd, &param.value);
                scalars.push_back(d);
            }
            inner = sdp_list_append(inner, d);
        }
        outer = sdp_list_append(outer, inner);
    }
    sdp_list_t* stacks = sdp_list_append(nullptr, outer);
    sdp_set_access_protos(rec_, stacks);
    for (sdp_list_t* p = outer; p != nullptr; p = p->next) {
        sdp_list_free(static_cast<sdp_list_t*>(p->data), nullptr);
    }
    sdp_list_free(outer, nullptr);
    sdp_list_free(stacks, nullptr);
    for (sdp_data_t* d : scalars) sdp_data_free(d);
    return *this;
}

RecordBuilder& RecordBuilder::language(uint16_t code, uint16_t encoding, uint16_t base) {
    sdp_lang_attr_t lang{code, encoding, base};
    sdp_list_t* list = sdp_list_append(nullptr, &lang);
    sdp_set_lang_attr(rec_, list);
    sdp_list_free(list, nullptr);
    return *this;
}

RecordBuilder& RecordBuilder::profile(const uuid_t& uuid, uint16_t version) {
    sdp_profile_desc_t desc;
    desc.uuid = uuid;
    desc.version = version;
    sdp_list_t* list = sdp_list_append(nullptr, &desc);
    sdp_set_profile_descs(rec_, list);
    sdp_list_free(list, nullptr);
    return *this;
}

namespace {
void append_attribute(void* attr, void* buf) {
    sdp_append_to_pdu(static_cast<sdp_buf_t*>(buf), static_cast<sdp_data_t*>(attr));
}
}  // namespace

Bytes RecordBuilder::pdu() const {
    // This is what sdp_gen_record_pdu does, into a buffer of ample size: in
    // libbluetooth 5.66 it sizes its own buffer without the record's
    // sequence header and silently drops the last attribute of a record
    // that holds no sequence (a handle-only record comes out empty).
    sdp_buf_t buf{};
    buf.buf_size = 65536;
    buf.data = static_cast<uint8_t*>(std::calloc(1, buf.buf_size));
    sdp_list_foreach(rec_->attrlist, append_attribute, &buf);
    Bytes out;
    if (buf.data_size == 0) {
        out = {SDP_SEQ8, 0};  // no attribute at all
    } else {
        out.assign(buf.data, buf.data + buf.data_size);
    }
    std::free(buf.data);
    return out;
}

Bytes seq16(const Bytes& content) {
    Bytes out;
    out.reserve(3 + content.size());
    out.push_back(SDP_SEQ16);
    out.push_back(static_cast<uint8_t>(content.size() >> 8));
    out.push_back(static_cast<uint8_t>(content.size()));
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes response(const std::vector<Bytes>& records) {
    Bytes body;
    for (const Bytes& r : records) body.insert(body.end(), r.begin(), r.end());
    return seq16(body);
}

Bytes from_hex(std::string_view hex) {
    Bytes out;
    std::string digits;
    for (char c : hex) {
        if (c == ' ' || c == '\n' || c == '\t' || c == '\r') continue;
        digits.push_back(c);
        if (digits.size() == 2) {
            out.push_back(static_cast<uint8_t>(std::strtoul(digits.c_str(), nullptr, 16)));
            digits.clear();
        }
    }
    if (!digits.empty()) throw std::invalid_argument("odd hex");
    return out;
}

Bytes fixture(const std::string& name) {
    return from_hex(read_file(std::string(VGPS_TEST_DATA_DIR) + "/sdp/" + name));
}

}  // namespace vgps::test
