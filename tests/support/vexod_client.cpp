#include "support/vexod_client.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace vgps::test {

VexodClient::VexodClient(const std::string& socket_path) : fd_(connect_unix(socket_path)) {
    EXPECT_GE(fd_, 0) << socket_path;
}

void VexodClient::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

Bytes VexodClient::ask(uint32_t funcid, const Bytes& payload) { return exchange(frame(funcid, ++msgid_, 0, payload)); }

Bytes VexodClient::exchange(const Bytes& request) {
    EXPECT_TRUE(write_all(fd_, request));
    for (Bytes f; !(f = read_frame()).empty();) {
        if (get32(f, 8) != 0 && get32(f, 12) == msgid_) return f;
        queued_.push_back(std::move(f));
    }
    return {};
}

Bytes VexodClient::notification(uint32_t funcid) {
    for (;;) {
        Bytes f;
        if (!queued_.empty()) {
            f = std::move(queued_.front());
            queued_.pop_front();
        } else if ((f = read_frame()).empty()) {
            return f;
        }
        if (get32(f, 16) == funcid) return f;
    }
}

Bytes VexodClient::read_frame() {
    // Reads time out after 10 s of silence (connect_unix).
    auto fill = [this](Bytes& f, size_t from) {
        for (ssize_t n; from < f.size(); from += static_cast<size_t>(n)) {
            if ((n = ::read(fd_, f.data() + from, f.size() - from)) <= 0) return false;
        }
        return true;
    };
    Bytes f(VEXOD_HEADER_SIZE);
    if (!fill(f, 0)) return {};
    f.resize(std::max<size_t>(VEXOD_HEADER_SIZE, get32(f, 4)));
    return fill(f, VEXOD_HEADER_SIZE) ? f : Bytes{};
}

bool VexodClient::fail_notification(uint32_t funcid) {
    ADD_FAILURE() << "no well-formed notification " << funcid;
    return false;
}

VexodClient::Link VexodClient::link(const bdaddr& device, uint8_t channel) {
    EXPECT_EQ(request(vexod_rfcomm_connect_msg{device, 1, channel}), 0u);
    vexod_rfcomm_connected_msg n;
    if (!next(&n)) return {};
    EXPECT_EQ(n.remote, device);
    return {n.channel, n.result, std::string(n.path.text())};
}

uint32_t VexodClient::link_end(uint8_t channel) {
    vexod_rfcomm_disconnected_msg n;
    if (!next(&n)) return 0xFFFFFFFF;
    EXPECT_EQ(n.channel, channel);
    return n.value32;
}

}  // namespace vgps::test
