// The far ends of a device's sockets, played by the tests on their run loop:
// a device's SDP server on a SOCK_SEQPACKET socket (as L2CAP keeps PDU
// boundaries), and either end of a stream socket (the receiver's end of an
// RFCOMM link, or the application on its data socket).
#pragma once

#include <bluetooth/bluetooth.h>
#include <bluetooth/sdp.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "bluez/io_watch.h"
#include "platform/run_loop.h"

namespace vexod::bluez::test {

using Bytes = std::vector<uint8_t>;

// What the application's request 20 asks for: the Serial Port class, every
// attribute.
const Bytes kPattern = {0x35, 0x03, 0x19, 0x11, 0x01};
const Bytes kAllAttributes = {0x35, 0x05, 0x0A, 0x00, 0x00, 0xFF, 0xFF};
// What each request to the device must carry for it: the pattern, the
// maximum byte count (0xFFFF), the attribute list.
const Bytes kAsked = {0x35, 0x03, 0x19, 0x11, 0x01, 0xFF, 0xFF, 0x35, 0x05, 0x0A, 0x00, 0x00, 0xFF, 0xFF};

// A device's SDP server: answers each ServiceSearchAttributeRequest with
// at most `chunk` bytes of `attributes`, the rest behind a continuation
// state of its own (a 2-byte offset), as devices with a small MTU do.
class SdpServer {
public:
    enum class Mode { Answer, Silent, Refuse, HangUp, HangUpAfterFirstPart };

    SdpServer(vgps::RunLoop* loop, int fd, Bytes attributes, size_t chunk, Mode mode = Mode::Answer)
        : loop_(loop), fd_(fd), attributes_(std::move(attributes)), chunk_(chunk), mode_(mode) {
        source_ = loop_->add_source(fd_, [this] { serve(); });
    }
    ~SdpServer() { hang_up(); }

    // The parameters of each request but its continuation state: the
    // pattern, the maximum byte count, the attribute list.
    std::vector<Bytes> requests;
    bool saw_end = false;  // the client closed its end

private:
    void serve() {
        uint8_t pdu[1024];
        const ssize_t n = ::recv(fd_, pdu, sizeof pdu, 0);
        if (n <= 0) {
            saw_end = true;
            return hang_up();
        }
        const Bytes b(pdu, pdu + n);
        // Our continuation state comes back unchanged.
        const size_t offset = requests.size() * chunk_;
        const Bytes state = offset == 0 ? Bytes{0} : Bytes{2, uint8_t(offset >> 8), uint8_t(offset)};
        ASSERT_EQ(b[0], SDP_SVC_SEARCH_ATTR_REQ);
        ASSERT_EQ(size_t(b[3] << 8 | b[4]), b.size() - 5) << "parameter length";
        ASSERT_TRUE(b.size() > 5 + state.size() && std::equal(state.rbegin(), state.rend(), b.rbegin()));
        requests.emplace_back(b.begin() + 5, b.end() - static_cast<long>(state.size()));

        if (mode_ == Mode::Silent) return;
        if (mode_ == Mode::HangUp || (mode_ == Mode::HangUpAfterFirstPart && requests.size() == 2)) return hang_up();
        Bytes answer = {SDP_SVC_SEARCH_ATTR_RSP, b[1], b[2], 0, 0};
        if (mode_ == Mode::Refuse) {
            answer[0] = SDP_ERROR_RSP;
            answer.insert(answer.end(), {0x00, 0x03});  // invalid request syntax
        } else {
            const size_t part = std::min(chunk_, attributes_.size() - offset), next = offset + part;
            answer.insert(answer.end(), {uint8_t(part >> 8), uint8_t(part)});
            answer.insert(answer.end(), attributes_.begin() + offset, attributes_.begin() + next);
            if (next < attributes_.size()) answer.insert(answer.end(), {2, uint8_t(next >> 8), uint8_t(next)});
            else answer.push_back(0);
        }
        answer[3] = uint8_t((answer.size() - 5) >> 8);
        answer[4] = uint8_t(answer.size() - 5);
        ASSERT_EQ(::send(fd_, answer.data(), answer.size(), 0), ssize_t(answer.size()));
    }

    void hang_up() {
        if (fd_ < 0) return;
        loop_->remove_source(source_);
        ::close(fd_);
        fd_ = -1;
    }

    vgps::RunLoop* loop_;
    int fd_;
    Bytes attributes_;
    size_t chunk_;
    Mode mode_;
    vgps::RunLoop::SourceId source_ = 0;
};

// One end of a stream socket played by the test on the run loop: sends
// what it is given as fast as the socket takes it, collects what arrives.
class Peer {
public:
    Peer(vgps::RunLoop* loop, int fd) : fd_(fd), watch_(loop, fd, [this](uint32_t) { serve(); }) {
        watch_.set_events(EPOLLIN);
    }
    ~Peer() { close(); }

    void send(std::string bytes) {
        out_ += std::move(bytes);
        serve();
    }
    // Stops (or resumes) reading, as a stalled application would.
    void set_reading(bool on) {
        reading_ = on;
        serve();
    }
    void close_when_sent() {
        close_when_sent_ = true;
        serve();
    }
    void close() {
        if (fd_ < 0) return;
        watch_.set_events(0);
        ::close(fd_);
        fd_ = -1;
    }
    bool closed() const { return fd_ < 0; }

    std::string in;
    bool at_end = false;  // the other side closed
    size_t sent = 0;
    bool blocked = false;  // the last write found the socket full

private:
    void serve() {
        if (fd_ < 0) return;
        for (ssize_t n; sent < out_.size(); sent += static_cast<size_t>(n)) {
            blocked = (n = ::send(fd_, out_.data() + sent, out_.size() - sent, MSG_NOSIGNAL)) < 0 && errno == EAGAIN;
            if (n <= 0) break;
        }
        for (ssize_t n; reading_ && !at_end;) {
            char buffer[4096];
            if ((n = ::read(fd_, buffer, sizeof buffer)) > 0) {
                in.append(buffer, static_cast<size_t>(n));
            } else {
                at_end = n == 0 || errno != EAGAIN;
                break;
            }
        }
        if (close_when_sent_ && sent == out_.size()) return close();
        watch_.set_events((reading_ && !at_end ? EPOLLIN : 0u) | (sent < out_.size() ? EPOLLOUT : 0u));
    }

    int fd_;
    IoWatch watch_;
    std::string out_;
    bool reading_ = true;
    bool close_when_sent_ = false;
};

}  // namespace vexod::bluez::test
