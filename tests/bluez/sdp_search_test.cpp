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

#include "bluez/address.h"
#include "device_peers.h"
#include "platform/log.h"
#include "platform/run_loop.h"
#include "sdp/sdp_record_walk.h"
#include "sdp_records.h"
#include "support/temp_dir.h"

namespace vexod::bluez {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::from_hex;
using test::SdpServer;

// What the application sends (request 20): the Serial Port class, every
// attribute.
const Bytes kPattern = {0x35, 0x03, 0x19, 0x11, 0x01};
const Bytes kAllAttributes = {0x35, 0x05, 0x0A, 0x00, 0x00, 0xFF, 0xFF};

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
        EXPECT_EQ(out.result, vgps::kServiceSearchNotPerformed);
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
    const bdaddr_t b = to_bdaddr(vgps::bdaddr{{0x00, 0x0b, 0x0d, 0x88, 0xa2, 0x3c}});
    EXPECT_EQ(std::memcmp(&b, &expected, sizeof b), 0);
}

}  // namespace
}  // namespace vexod::bluez
