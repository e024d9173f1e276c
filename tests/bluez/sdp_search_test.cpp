// libbluetooth's SDP client, wrapped around one end of a SOCK_SEQPACKET
// socket pair (as an L2CAP socket keeps PDU boundaries), against a device's
// SDP server played on the other end: real records (built with
// libbluetooth's record API as the simulator builds them, and captured from
// real devices), answers split behind continuation states, a refusal, and a
// device that stops answering.
#include "bluez/sdp_search.h"

#include <bluetooth/bluetooth.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bluez/bt_sockets.h"
#include "platform/log.h"
#include "platform/run_loop.h"
#include "sdp/sdp_record_walk.h"
#include "sdp_records.h"
#include "support/temp_dir.h"

namespace vexod::bluez {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// What the application sends (request 20): the Serial Port class, every
// attribute.
const Bytes kPattern = {0x35, 0x03, 0x19, 0x11, 0x01};
const Bytes kAllAttributes = {0x35, 0x05, 0x0A, 0x00, 0x00, 0xFF, 0xFF};

Bytes from_hex(const std::string& text) {
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

size_t element_size(const Bytes& b, size_t at) {
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

class SdpSearchTest : public ::testing::Test {
protected:
    struct Outcome {
        bool done = false;
        uint32_t result = 1;
        Bytes attributes;
    };

    // Searches through a socket pair whose far end `server_for` serves.
    Outcome search(Bytes attributes, size_t chunk, SdpServer::Mode mode = SdpServer::Mode::Answer,
                   std::chrono::milliseconds timeout = 5000ms) {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
        server = std::make_unique<SdpServer>(&loop, fds[1], std::move(attributes), chunk, mode);
        SdpQuery query;
        std::string error;
        EXPECT_TRUE(sdp_parse_query(kPattern, kAllAttributes, &query, &error)) << error;
        Outcome out;
        SdpSearch s(&loop, fds[0], query, timeout, [&](uint32_t result, Bytes bytes) {
            out = Outcome{true, result, std::move(bytes)};
        });
        EXPECT_FALSE(out.done) << "never answered from inside the constructor";
        EXPECT_TRUE(loop.run_until([&] { return out.done; }, timeout + 2000ms));
        return out;
    }

    static int channel(const Bytes& attributes) {
        return vgps::sdp_choose_rfcomm_channel(attributes.data(), static_cast<uint32_t>(attributes.size()),
                                               vgps::bdaddr{{0, 0x0b, 0x0d, 0x88, 0xa2, 0x3c}});
    }

    vgps::LogCapture log;  // the record listing of the channel choice
    vgps::RunLoop loop;
    std::unique_ptr<SdpServer> server;
};

TEST_F(SdpSearchTest, TheSimulatorsRecordsComeBackAsSentAndGiveTheSameChannel) {
    struct Case {
        const char* what;
        std::vector<Service> services;
        int channel;
    };
    const Case cases[] = {
        {"one serial port", {{"SPP Slave", 1}}, 1},
        {"a GPS port after another", {{"Serial Port", 1}, {"GPS Serial Port", 2}}, 2},
        {"no RFCOMM", {{"GPS", 0}}, 0},
        {"many records", {{"A", 1}, {"B", 2}, {"C", 3}, {"D", 4}, {"Bluetooth GPS", 5}, {"F", 6}, {"G", 7}}, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes simulated = build_attribute_lists(c.services);
        ASSERT_EQ(channel(simulated), c.channel);
        // Whole, and in parts of 48 bytes behind continuation states.
        for (size_t chunk : {size_t(65535), size_t(48)}) {
            const Outcome out = search(simulated, chunk);
            EXPECT_EQ(out.result, 0u);
            EXPECT_EQ(out.attributes, simulated);
            EXPECT_EQ(channel(out.attributes), c.channel);
            EXPECT_EQ(server->requests.size(), (simulated.size() + chunk - 1) / chunk);
            // The device is asked for exactly what the application asked.
            for (const auto& r : server->requests) {
                EXPECT_EQ(r.pattern, kPattern);
                EXPECT_EQ(r.attribute_ids, kAllAttributes);
                EXPECT_EQ(r.max_bytes, 0xFFFF);
            }
        }
    }
}

TEST_F(SdpSearchTest, RealDevicesRecordsInSmallParts) {
    for (const char* name : {"rn-spp.hex", "chsmartbulb.hex", "elm327.hex", "pebble.hex", "dialog-audio.hex"}) {
        SCOPED_TRACE(name);
        const Bytes captured = from_hex(vgps::test::read_file(std::string(VGPS_TEST_DATA_DIR) + "/sdp/" + name));
        ASSERT_FALSE(captured.empty());
        const Outcome out = search(captured, 23);
        EXPECT_EQ(out.result, 0u);
        EXPECT_EQ(out.attributes, captured);
        EXPECT_GT(channel(out.attributes), 0);
        EXPECT_EQ(channel(out.attributes), channel(captured));
        EXPECT_TRUE(loop.run_until([&] { return server->saw_end; }, 2000ms)) << "the socket is closed after the answer";
    }
}

TEST_F(SdpSearchTest, ADeviceThatDoesNotAnswer) {
    const Bytes records = build_attribute_lists({{"SPP", 1}, {"GPS", 2}});
    struct Case {
        const char* what;
        SdpServer::Mode mode;
        size_t requests;
    };
    for (const Case& c : {Case{"silent", SdpServer::Mode::Silent, 1}, Case{"hangs up", SdpServer::Mode::HangUp, 1},
                          Case{"hangs up halfway", SdpServer::Mode::HangUpAfterFirstPart, 2}}) {
        SCOPED_TRACE(c.what);
        const auto started = std::chrono::steady_clock::now();
        const Outcome out = search(records, 40, c.mode, 300ms);
        EXPECT_EQ(out.result, kSearchNoAnswer);
        EXPECT_TRUE(out.attributes.empty()) << "no part of a broken answer";
        EXPECT_EQ(server->requests.size(), c.requests);
        if (c.mode != SdpServer::Mode::Silent) {
            EXPECT_LT(std::chrono::steady_clock::now() - started, 300ms) << "a hang-up is not waited out";
        }
    }
    EXPECT_TRUE(log.contains("<vexod> service search: no answer in time"));
}

TEST_F(SdpSearchTest, ARefusedRequestGivesTheDevicesErrorCode) {
    const Outcome out = search(build_attribute_lists({{"SPP", 1}}), 100, SdpServer::Mode::Refuse);
    EXPECT_EQ(out.result, 3u);
    EXPECT_TRUE(out.attributes.empty());
    EXPECT_TRUE(log.contains("<vexod> service search: the device refused the request: 0x0003 (invalid request syntax)"));
}

TEST_F(SdpSearchTest, DestroyedBeforeTheAnswerClosesTheSocketAndReportsNothing) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
    server = std::make_unique<SdpServer>(&loop, fds[1], Bytes{}, 100, SdpServer::Mode::Silent);
    SdpQuery query;
    std::string error;
    ASSERT_TRUE(sdp_parse_query(kPattern, kAllAttributes, &query, &error));
    bool called = false;
    auto s = std::make_unique<SdpSearch>(&loop, fds[0], query, 200ms, [&](uint32_t, Bytes) { called = true; });
    ASSERT_TRUE(loop.run_until([&] { return server->requests.size() == 1; }, 2000ms));
    s.reset();
    EXPECT_TRUE(loop.run_until([&] { return server->saw_end; }, 2000ms));
    loop.run_until([] { return false; }, 300ms);
    EXPECT_FALSE(called);
}

TEST(SdpQuery, PatternsAndAttributeLists) {
    SdpQuery q;
    std::string error;
    // 16-, 32- and 128-bit UUIDs; single IDs only: sent as 16-bit IDs.
    ASSERT_TRUE(sdp_parse_query(from_hex("3519 191101 1a00001101 1c00001101 00001000 800000805f9b34fb"),
                                from_hex("3506 090000 090100"), &q, &error))
        << error;
    ASSERT_EQ(q.uuids.size(), 3u);
    EXPECT_EQ(q.uuids[0].type, SDP_UUID16);
    EXPECT_EQ(q.uuids[1].type, SDP_UUID32);
    EXPECT_EQ(q.uuids[2].type, SDP_UUID128);
    EXPECT_EQ(q.ranges, (std::vector<uint32_t>{0x00000000, 0x01000100}));
    EXPECT_TRUE(q.individual);
    // A range among them: everything is sent as ranges.
    ASSERT_TRUE(sdp_parse_query(kPattern, from_hex("360008 0a00000004 090100"), &q, &error)) << error;
    EXPECT_EQ(q.ranges, (std::vector<uint32_t>{0x00000004, 0x01000100}));
    EXPECT_FALSE(q.individual);

    const std::pair<const char*, const char*> bad[] = {
        {"191101", "3503 090000"},             // pattern not a sequence
        {"3504 191101", "3503 090000"},        // sequence longer than the bytes
        {"3503 191101 00", "3503 090000"},     // bytes after it
        {"3500", "3503 090000"},               // no UUID
        {"3503 091101", "3503 090000"},        // not a UUID
        {"3503 191101", "3500"},               // no attribute
        {"3503 191101", "3505 0a00050004"},    // a range that ends before it starts
        {"3503 191101", "3503 190000"},        // not an ID
        {"3503 191101", ""},                   // nothing
    };
    for (const auto& [pattern, ids] : bad) {
        EXPECT_FALSE(sdp_parse_query(from_hex(pattern), from_hex(ids), &q, &error)) << pattern << " / " << ids;
    }
    Bytes thirteen = {0x35, 39};
    for (int i = 0; i < 13; ++i) thirteen.insert(thirteen.end(), {0x19, 0x11, static_cast<uint8_t>(i)});
    EXPECT_FALSE(sdp_parse_query(thirteen, kAllAttributes, &q, &error));
    EXPECT_EQ(error, "the search pattern holds 13 UUIDs, not 1 to 12");
}

TEST(BluetoothAddress, LibbluetoothHoldsTheBytesReversed) {
    bdaddr_t expected;
    ASSERT_EQ(::str2ba("00:0B:0D:88:A2:3C", &expected), 0);  // libbluetooth's own parser
    const bdaddr_t b = to_bdaddr(Address{0x00, 0x0b, 0x0d, 0x88, 0xa2, 0x3c});
    EXPECT_EQ(std::memcmp(&b, &expected, sizeof b), 0);
    EXPECT_EQ(address_text(Address{0x00, 0x0b, 0x0d, 0x88, 0xa2, 0x3c}), "00:0b:0d:88:a2:3c");
}

}  // namespace
}  // namespace vexod::bluez
