// A client of the vexod daemon that speaks the protocol frame by frame, as
// the application would, without the application's own code: requests with
// their responses, and the notifications that arrive in between.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "link/vexod_wire.h"
#include "support/sockets.h"

namespace vgps::test {

class VexodClient {
public:
    explicit VexodClient(const std::string& socket_path);
    ~VexodClient() { close(); }
    VexodClient(const VexodClient&) = delete;
    VexodClient& operator=(const VexodClient&) = delete;
    void close();
    int fd() const { return fd_; }

    // The response frame to a request (raw payload, or a request message);
    // empty when the daemon hung up or stayed silent for 10 s.
    Bytes ask(uint32_t funcid, const Bytes& payload = {});
    template <class M>
        requires requires { M::kFuncId; }
    Bytes ask(const M& request) {
        return exchange(vexod_frame(request, M::kFuncId, ++msgid_));
    }
    // The result code of the response (0xFFFFFFFF without one).
    template <class... A> uint32_t request(const A&... a) {
        const Bytes r = ask(a...);
        return r.size() >= 20 ? get32(r, 16) : 0xFFFFFFFF;
    }

    // The next notification with this function id; empty when none comes.
    Bytes notification(uint32_t funcid);
    // The same decoded; false (and a test failure) when none comes or its
    // bytes are not exactly the message's. Variable fields point into the
    // client, valid until the next call.
    template <class M> bool next(M* out) {
        last_ = notification(M::kFuncId);
        const bool ok = vexod_decode(last_.data(), static_cast<uint32_t>(last_.size()), out) &&
                        vexod_message_size(*out) == last_.size();
        return ok || fail_notification(M::kFuncId);
    }

    // Request 12 and its notification 30 (the path empty without a link).
    struct Link {
        uint8_t channel = 0;
        uint32_t result = 0xFFFFFFFF;
        std::string path;
    };
    Link link(const bdaddr& device, uint8_t channel = 1);
    // The value of the next notification 31: why a link ended.
    uint32_t link_end(uint8_t channel = 1);

private:
    Bytes exchange(const Bytes& request);
    Bytes read_frame();
    static bool fail_notification(uint32_t funcid);

    int fd_;
    uint32_t msgid_ = 0;
    std::deque<Bytes> queued_;
    Bytes last_;
};

}  // namespace vgps::test
