// libbluetooth's SDP client, wrapped around one end of a SOCK_SEQPACKET
// socket pair (as an L2CAP socket keeps PDU boundaries), against a device's
// SDP server played on the other end: what the device is asked, a refusal,
// and a device that stops answering. (Records coming back in parts: end to
// end, in vexod_bluez_test.cpp.)
#include "bluez/sdp_search.h"

#include <bluetooth/bluetooth.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "bluez/address.h"
#include "device_peers.h"
#include "platform/log.h"
#include "platform/run_loop.h"
#include "sdp_records.h"
#include "support/temp_dir.h"

namespace vexod::bluez {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::kAllAttributes;
using test::kPattern;
using test::SdpServer;

// The bytes of the hex digits in `text`, blanks skipped.
Bytes from_hex(const std::string& text) {
    Bytes out;
    std::string pair;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c)) && (pair += c).size() == 2) {
            out.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
            pair.clear();
        }
    }
    return out;
}

class SdpSearchTest : public ::testing::Test {
protected:
    struct Outcome {
        bool done = false;
        uint32_t result = 1;
        Bytes attributes;
    };

    // Searches for `pattern` and `ids` through a socket pair whose far end
    // is the device's SDP server, serving `attributes`.
    Outcome search(Bytes attributes, size_t chunk, SdpServer::Mode mode = SdpServer::Mode::Answer,
                   std::chrono::milliseconds timeout = 5000ms) {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
        server = std::make_unique<SdpServer>(&loop, fds[1], std::move(attributes), chunk, mode);
        SdpQuery query;
        std::string error;
        EXPECT_TRUE(sdp_parse_query(pattern, ids, &query, &error)) << error;
        Outcome out;
        SdpSearch s(&loop, fds[0], query, timeout, [&](uint32_t result, Bytes bytes) {
            out = Outcome{true, result, std::move(bytes)};
        });
        EXPECT_FALSE(out.done) << "never answered from inside the constructor";
        EXPECT_TRUE(loop.run_until([&] { return out.done; }, timeout + 2000ms));
        return out;
    }

    vgps::LogCapture log;
    vgps::RunLoop loop;
    std::unique_ptr<SdpServer> server;
    Bytes pattern = kPattern, ids = kAllAttributes;
};

TEST_F(SdpSearchTest, TheDeviceIsAskedWhatTheApplicationAsked) {
    struct Case {
        const char* pattern;
        const char* ids;
        const char* sent;  // pattern, maximum byte count, attribute list
    };
    for (const Case& c : {
             // 32- and 128-bit UUIDs; single IDs, sent as such.
             Case{"350a 1a00001101 1a00001000", "3506 090000 090100", "350a 1a00001101 1a00001000 ffff 3506 090000 090100"},
             Case{"3511 1c00001101 00001000 800000805f9b34fb", "3503 090100",
                  "3511 1c00001101 00001000 800000805f9b34fb ffff 3503 090100"},
             // Sizes mixed: every UUID is sent in 128 bits, keeping its value.
             Case{"3519 191101 1a00001000 1c00000001 00001000 800000805f9b34fb", "3503 090100",
                  "3533 1c00001101 00001000 800000805f9b34fb 1c00001000 00001000 800000805f9b34fb"
                  " 1c00000001 00001000 800000805f9b34fb ffff 3503 090100"},
             // A range among them: everything is sent as ranges.
             Case{"3503 191101", "360008 0a00000004 090100", "3503 191101 ffff 350a 0a00000004 0a01000100"},
         }) {
        SCOPED_TRACE(c.pattern);
        pattern = from_hex(c.pattern);
        ids = from_hex(c.ids);
        search({}, 100, SdpServer::Mode::Silent, 100ms);
        EXPECT_EQ(server->requests, std::vector<Bytes>{from_hex(c.sent)});
    }
}

TEST_F(SdpSearchTest, ADeviceThatDoesNotAnswerOrRefuses) {
    using Mode = SdpServer::Mode;
    struct Case {
        const char* what;
        Mode mode;
        size_t requests;
        uint32_t result;
        const char* log;
    };
    for (const Case& c : {
             Case{"silent", Mode::Silent, 1, vgps::kServiceSearchNotPerformed,
                  "<vexod> service search: no answer in time"},
             Case{"hangs up", Mode::HangUp, 1, vgps::kServiceSearchNotPerformed, nullptr},
             Case{"hangs up halfway", Mode::HangUpAfterFirstPart, 2, vgps::kServiceSearchNotPerformed, nullptr},
             Case{"refuses", Mode::Refuse, 1, 3,
                  "<vexod> service search: the device refused the request: 0x0003 (invalid request syntax)"},
         }) {
        SCOPED_TRACE(c.what);
        const auto started = std::chrono::steady_clock::now();
        const Outcome out = search(build_attribute_lists({{"SPP", 1}, {"GPS", 2}}), 40, c.mode, 300ms);
        EXPECT_EQ(out.result, c.result);
        EXPECT_TRUE(out.attributes.empty()) << "no part of a broken answer";
        EXPECT_EQ(server->requests.size(), c.requests);
        if (c.mode != Mode::Silent) {
            EXPECT_LT(std::chrono::steady_clock::now() - started, 300ms) << "not waited out";
        }
        if (c.log) {
            EXPECT_TRUE(log.contains(c.log));
        }
    }
}

TEST(SdpQuery, WhatIsNotAPatternOrAnAttributeListIsRefused) {
    SdpQuery q;
    std::string error;
    const std::pair<const char*, const char*> bad[] = {
        {"191101", "3503 090000"},           // pattern not a sequence
        {"3503 191101 00", "3503 090000"},   // bytes after it
        {"3500", "3503 090000"},             // no UUID
        {"3503 091101", "3503 090000"},      // not a UUID
        {"3503 191101", "3500"},             // no attribute
        {"3503 191101", "3505 0a00050004"},  // a range that ends before it starts
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
