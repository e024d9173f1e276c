#include "bluez/sdp_search.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "vexod_log.h"

namespace vexod::bluez {
namespace {

// The most UUIDs a service search pattern may hold.
constexpr size_t kMaxPatternUuids = 12;

uint32_t be(const uint8_t* p, size_t n) {
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) v = v << 8 | p[i];
    return v;
}

// The content of the data element sequence that makes up all of `bytes`:
// false unless the bytes are exactly one sequence.
bool sequence_content(const std::vector<uint8_t>& bytes, const uint8_t** content, size_t* size) {
    if (bytes.empty()) return false;
    size_t header;
    switch (bytes[0]) {
        case SDP_SEQ8: header = 2; break;
        case SDP_SEQ16: header = 3; break;
        case SDP_SEQ32: header = 5; break;
        default: return false;
    }
    if (bytes.size() < header) return false;
    const uint32_t length = be(bytes.data() + 1, header - 1);
    if (length != bytes.size() - header) return false;
    *content = bytes.data() + header;
    *size = length;
    return true;
}

// The meaning of an SDP error response's code.
const char* status_text(uint16_t status) {
    switch (status) {
        case 0x0001: return "unsupported SDP version";
        case 0x0002: return "invalid service record handle";
        case 0x0003: return "invalid request syntax";
        case 0x0004: return "invalid PDU size";
        case 0x0005: return "invalid continuation state";
        case 0x0006: return "insufficient resources";
        default: return "unknown error";
    }
}

}  // namespace

bool sdp_parse_query(const std::vector<uint8_t>& pattern, const std::vector<uint8_t>& attribute_ids, SdpQuery* out,
                     std::string* error) {
    SdpQuery q;
    const uint8_t* p;
    size_t n;
    if (!sequence_content(pattern, &p, &n)) {
        *error = "the search pattern is not a data element sequence";
        return false;
    }
    while (n > 0) {
        uuid_t u{};
        if (p[0] == SDP_UUID16 && n >= 3) {
            sdp_uuid16_create(&u, static_cast<uint16_t>(be(p + 1, 2)));
            p += 3, n -= 3;
        } else if (p[0] == SDP_UUID32 && n >= 5) {
            sdp_uuid32_create(&u, be(p + 1, 4));
            p += 5, n -= 5;
        } else if (p[0] == SDP_UUID128 && n >= 17) {
            sdp_uuid128_create(&u, p + 1);
            p += 17, n -= 17;
        } else {
            *error = "the search pattern holds something other than UUIDs";
            return false;
        }
        q.uuids.push_back(u);
    }
    if (q.uuids.empty() || q.uuids.size() > kMaxPatternUuids) {
        *error = "the search pattern holds " + std::to_string(q.uuids.size()) + " UUIDs, not 1 to 12";
        return false;
    }
    // libbluetooth writes every UUID of a pattern in the size of the first
    // one, which would cut longer ones short; a pattern that mixes sizes is
    // sent in 128 bits, where every UUID keeps its value.
    const bool mixed = std::any_of(q.uuids.begin(), q.uuids.end(),
                                   [&](const uuid_t& u) { return u.type != q.uuids.front().type; });
    if (mixed) {
        for (uuid_t& u : q.uuids) {
            uuid_t wide{};
            if (u.type == SDP_UUID16) {
                sdp_uuid16_to_uuid128(&wide, &u);
                u = wide;
            } else if (u.type == SDP_UUID32) {
                sdp_uuid32_to_uuid128(&wide, &u);
                u = wide;
            }
        }
    }
    if (!sequence_content(attribute_ids, &p, &n)) {
        *error = "the attribute ID list is not a data element sequence";
        return false;
    }
    while (n > 0) {
        if (p[0] == SDP_UINT16 && n >= 3) {
            const uint32_t id = be(p + 1, 2);
            q.ranges.push_back(id << 16 | id);
            p += 3, n -= 3;
        } else if (p[0] == SDP_UINT32 && n >= 5) {
            const uint32_t range = be(p + 1, 4);
            if ((range >> 16) > (range & 0xFFFF)) {
                *error = "an attribute ID range ends before it starts";
                return false;
            }
            q.ranges.push_back(range);
            q.individual = false;
            p += 5, n -= 5;
        } else {
            *error = "the attribute ID list holds something other than IDs and ranges";
            return false;
        }
    }
    if (q.ranges.empty()) {
        *error = "the attribute ID list is empty";
        return false;
    }
    *out = std::move(q);
    return true;
}

SdpSearch::SdpSearch(vgps::RunLoop* loop, int fd, SdpQuery query, std::chrono::milliseconds timeout, Done done)
    : loop_(loop), fd_(fd), query_(std::move(query)), done_(std::move(done)) {
    timer_ = loop_->add_timer(timeout, [this] {
        timer_ = 0;
        VLOG("service search: no answer in time");
        finish(vgps::kServiceSearchNotPerformed, {});
    });
    connect_ = std::make_unique<ConnectWait>(loop_, fd_, timeout, [this](int error) { on_connected(error); });
}

SdpSearch::~SdpSearch() { close(); }

void SdpSearch::on_connected(int error) {
    if (error != 0) {
        VLOG("service search: cannot reach the SDP server: %s", std::strerror(error));
        finish(vgps::kServiceSearchNotPerformed, {});
        return;
    }
    session_ = sdp_create(fd_, 0);
    if (session_ == nullptr) {
        VLOG("service search: sdp_create: %s", std::strerror(errno));
        finish(vgps::kServiceSearchNotPerformed, {});
        return;
    }
    sdp_set_notify(session_, &SdpSearch::on_response, this);

    // libbluetooth's lists point at the values; they stay in query_.
    std::vector<uint16_t> ids;
    for (uint32_t r : query_.ranges) ids.push_back(static_cast<uint16_t>(r >> 16));
    sdp_list_t* uuids = nullptr;
    for (uuid_t& u : query_.uuids) uuids = sdp_list_append(uuids, &u);
    sdp_list_t* attributes = nullptr;
    for (size_t i = 0; i < query_.ranges.size(); ++i) {
        attributes = sdp_list_append(attributes, query_.individual ? static_cast<void*>(&ids[i]) : &query_.ranges[i]);
    }
    const int r = sdp_service_search_attr_async(session_, uuids,
                                                query_.individual ? SDP_ATTR_REQ_INDIVIDUAL : SDP_ATTR_REQ_RANGE,
                                                attributes);
    sdp_list_free(uuids, nullptr);
    sdp_list_free(attributes, nullptr);
    if (r < 0) {
        VLOG("service search: cannot send the request: %s", std::strerror(sdp_get_error(session_)));
        finish(vgps::kServiceSearchNotPerformed, {});
        return;
    }
    watch_ = std::make_unique<IoWatch>(loop_, fd_, [this](uint32_t) { on_readable(); });
    watch_->set_events(EPOLLIN);
}

void SdpSearch::on_response(uint8_t type, uint16_t status, uint8_t* rsp, size_t size, void* udata) {
    auto* self = static_cast<SdpSearch*>(udata);
    self->answered_ = true;
    if (type == SDP_SVC_SEARCH_ATTR_RSP && status == 0) {
        self->result_ = 0;
        self->attributes_.assign(rsp, rsp + size);
    } else if (type == SDP_ERROR_RSP) {
        VLOG("service search: the device refused the request: 0x%04x (%s)", status, status_text(status));
        self->result_ = status;
    } else {
        VLOG("service search: the answer broke off: %s", std::strerror(sdp_get_error(self->session_)));
        self->result_ = vgps::kServiceSearchNotPerformed;
    }
}

void SdpSearch::on_readable() {
    // One answer per call: a continued one makes libbluetooth ask for the
    // next part and return.
    const int r = sdp_process(session_);
    if (answered_) {
        finish(result_, std::move(attributes_));
    } else if (r < 0) {
        VLOG("service search: the answer broke off: %s", std::strerror(sdp_get_error(session_)));
        finish(vgps::kServiceSearchNotPerformed, {});
    }
}

void SdpSearch::finish(uint32_t result, std::vector<uint8_t> attributes) {
    close();
    auto done = std::move(done_);
    done_ = nullptr;
    // `done` may destroy this search.
    if (done) done(result, std::move(attributes));
}

void SdpSearch::close() {
    if (timer_) loop_->cancel_timer(timer_);
    timer_ = 0;
    connect_.reset();
    watch_.reset();
    if (session_) {
        sdp_close(session_);  // closes the socket too
    } else if (fd_ >= 0) {
        ::close(fd_);
    }
    session_ = nullptr;
    fd_ = -1;
}

}  // namespace vexod::bluez
