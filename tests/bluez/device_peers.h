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
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "bluez/io_watch.h"
#include "platform/fd.h"
#include "platform/run_loop.h"
#include "support/temp_dir.h"

namespace vexod::bluez::test {

using Bytes = std::vector<uint8_t>;

// The bytes of the hex digits in `text`, anything else skipped.
inline Bytes from_hex(const std::string& text) {
    Bytes out;
    int high = -1;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) continue;
        const int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

// A real receiver's NMEA capture, `copies` times over.
inline std::string capture(int copies) {
    const std::string one = vgps::test::read_file(std::string(VGPS_TEST_DATA_DIR) + "/nmea/haicom-305N.log");
    EXPECT_GT(one.size(), 10000u);
    std::string all;
    for (int i = 0; i < copies; ++i) all += one;
    return all;
}

// The size of the data element sequence at `at`.
inline size_t element_size(const Bytes& b, size_t at) {
    switch (b.at(at)) {
        case 0x35: return 2 + b.at(at + 1);
        case 0x36: return 3 + (b.at(at + 1) << 8 | b.at(at + 2));
        default: ADD_FAILURE() << "not a sequence"; return b.size();
    }
}

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

    struct Request {
        Bytes pattern, attribute_ids, continuation;
        uint16_t max_bytes;
    };
    std::vector<Request> requests;
    bool saw_end = false;  // the client closed its end

private:
    void serve() {
        uint8_t pdu[1024];
        const ssize_t n = ::recv(fd_, pdu, sizeof pdu, 0);
        if (n <= 0) {
            saw_end = true;
            hang_up();
            return;
        }
        const Bytes b(pdu, pdu + n);
        ASSERT_EQ(b[0], SDP_SVC_SEARCH_ATTR_REQ);
        ASSERT_EQ(size_t(b[3] << 8 | b[4]), b.size() - 5) << "parameter length";
        Request r;
        size_t at = 5;
        const size_t pattern_size = element_size(b, at);
        r.pattern.assign(b.begin() + at, b.begin() + at + pattern_size);
        at += pattern_size;
        r.max_bytes = static_cast<uint16_t>(b.at(at) << 8 | b.at(at + 1));
        at += 2;
        const size_t list_size = element_size(b, at);
        r.attribute_ids.assign(b.begin() + at, b.begin() + at + list_size);
        at += list_size;
        r.continuation.assign(b.begin() + at + 1, b.begin() + at + 1 + b.at(at));
        requests.push_back(r);

        if (mode_ == Mode::Silent) return;
        if (mode_ == Mode::HangUp || (mode_ == Mode::HangUpAfterFirstPart && requests.size() == 2)) {
            hang_up();
            return;
        }
        Bytes answer = {0, b[1], b[2], 0, 0};
        if (mode_ == Mode::Refuse) {
            answer[0] = SDP_ERROR_RSP;
            answer.insert(answer.end(), {0x00, 0x03});  // invalid request syntax
        } else {
            size_t offset = 0;
            if (r.continuation.size() == 2) offset = r.continuation[0] << 8 | r.continuation[1];
            EXPECT_EQ(offset, (requests.size() - 1) * chunk_) << "the continuation state comes back unchanged";
            const size_t part = std::min(chunk_, attributes_.size() - offset);
            answer[0] = SDP_SVC_SEARCH_ATTR_RSP;
            answer.push_back(static_cast<uint8_t>(part >> 8));
            answer.push_back(static_cast<uint8_t>(part));
            answer.insert(answer.end(), attributes_.begin() + offset, attributes_.begin() + offset + part);
            const size_t next = offset + part;
            if (next < attributes_.size()) {
                answer.insert(answer.end(), {2, static_cast<uint8_t>(next >> 8), static_cast<uint8_t>(next)});
            } else {
                answer.push_back(0);
            }
        }
        answer[3] = static_cast<uint8_t>((answer.size() - 5) >> 8);
        answer[4] = static_cast<uint8_t>(answer.size() - 5);
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
// `out` as fast as the socket takes it, collects what arrives.
class Peer {
public:
    Peer(vgps::RunLoop* loop, int fd) : loop_(loop), fd_(fd), watch_(loop, fd, [this](uint32_t) { serve(); }) {
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
    void close() {
        if (fd_ < 0) return;
        watch_.set_events(0);
        ::close(fd_);
        fd_ = -1;
    }
    bool closed() const { return fd_ < 0; }
    void close_when_sent() {
        close_when_sent_ = true;
        serve();
    }

    std::string in;
    bool at_end = false;  // the other side closed
    int error = 0;
    size_t sent = 0;
    bool blocked = false;  // the last write found the socket full

private:
    void serve() {
        if (fd_ < 0) return;
        while (sent < out_.size()) {
            const ssize_t n = ::send(fd_, out_.data() + sent, out_.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                blocked = n < 0 && errno == EAGAIN;
                if (!blocked) error = errno;
                break;
            }
            sent += static_cast<size_t>(n);
            blocked = false;
        }
        while (reading_ && !at_end) {
            char buffer[4096];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                in.append(buffer, static_cast<size_t>(n));
            } else {
                if (n == 0) at_end = true;
                else if (errno != EAGAIN) error = errno, at_end = true;
                break;
            }
        }
        if (close_when_sent_ && sent == out_.size()) {
            close();
            return;
        }
        watch_.set_events((reading_ && !at_end ? EPOLLIN : 0u) | (sent < out_.size() ? EPOLLOUT : 0u));
    }

    vgps::RunLoop* loop_;
    int fd_;
    IoWatch watch_;
    std::string out_;
    bool reading_ = true;
    bool close_when_sent_ = false;
};

// A non-blocking connection to the local socket at `path`.
inline int connect_to(const std::string& path) {
    const int fd = vgps::connect_local(path, SOCK_CLOEXEC | SOCK_NONBLOCK);
    EXPECT_GE(fd, 0) << path << ": " << std::strerror(errno);
    return fd;
}

}  // namespace vexod::bluez::test
