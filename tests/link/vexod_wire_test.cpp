// The wire format against the bytes written out by hand, offset by offset as
// the protocol lays them down: every message the application and vexod
// exchange, encoded and decoded, and the shortest messages refused.
#include "link/vexod_wire.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace vgps {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes hex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

constexpr bdaddr kAddr{{0x00, 0x0b, 0x0d, 0x88, 0xa2, 0x3c}};
const std::string kAddrHex = "00 0b 0d 88 a2 3c ";

// The header of a message of `size` bytes: magic 78 56 34 12, size, resp,
// msgid, funcid.
std::string header(uint8_t size, uint8_t resp, uint8_t msgid, uint8_t funcid) {
    char text[80];
    std::snprintf(text, sizeof text, "78 56 34 12 %02x 00 00 00 %02x 00 00 00 %02x 00 00 00 %02x 00 00 00 ", size, resp,
                  msgid, funcid);
    return text;
}

// Encodes `m` with the header fields given, checks the bytes, decodes them
// again and checks that they encode the same; every message one byte
// shorter is refused.
template <class M>
void check(const M& m, uint32_t funcid, uint32_t msgid, uint32_t resp, const Bytes& expected) {
    const Bytes encoded = vexod_frame(m, funcid, msgid, resp);
    EXPECT_EQ(encoded, expected);
    M decoded;
    ASSERT_TRUE(vexod_decode(expected.data(), static_cast<uint32_t>(expected.size()), &decoded));
    EXPECT_EQ(vexod_frame(decoded, funcid, msgid, resp), expected);
    M shorter;
    EXPECT_FALSE(vexod_decode(expected.data(), static_cast<uint32_t>(expected.size() - 1), &shorter));
}

TEST(Wire, RequestsAndTheirResponse) {
    SCOPED_TRACE("19: 31 bytes, bytes 26 to 30 the two parameters");
    check(vexod_request_name_msg{kAddr, 0, 0}, VEXOD_REQUEST_NAME, 7, 0,
          hex(header(31, 0, 7, 19) + kAddrHex + "00 00 00 00 00"));
    SCOPED_TRACE("12: 28 bytes ending in the parameter and the channel");
    check(vexod_rfcomm_connect_msg{kAddr, 1, 3}, VEXOD_RFCOMM_CONNECT, 8, 0, hex(header(28, 0, 8, 12) + kAddrHex + "01 03"));
    SCOPED_TRACE("20: the lengths at 28 and 32, the pattern at 36, the list behind it");
    const uint8_t pattern[] = {0x35, 0x03, 0x19, 0x11, 0x01};
    const uint8_t list[] = {0x35, 0x05, 0x0A, 0x00, 0x00, 0xFF, 0xFF};
    check(vexod_service_search_msg{kAddr, 0xFFFF, {pattern, 5}, {list, 7}}, VEXOD_SERVICE_ATTRIBUTE_SEARCH, 9, 0,
          hex(header(48, 0, 9, 20) + kAddrHex + "ff ff 05 00 00 00 07 00 00 00 35 03 19 11 01 35 05 0a 00 00 ff ff"));
    SCOPED_TRACE("response: the result in the funcid field, the value at 20");
    check(vexod_result_msg{0xCAFE}, 0, 9, 1, hex(header(24, 1, 9, 0) + "fe ca 00 00"));
    EXPECT_EQ(vexod_frame(vexod_no_payload{}, 101, 9, 1), hex(header(20, 1, 9, 101)));
}

TEST(Wire, EveryNotification) {
    const vexod_bytes path(std::string_view("/p"));
    const std::string path_hex = "2f 70";
    const struct {
        const char* what;
        uint32_t funcid;
        std::function<void(const Bytes&)> check_it;
        std::string payload;
    } cases[] = {
        {"25: address, the two lengths, result, pattern, attributes", 25,
         [&](const Bytes& e) {
             check(vexod_search_response_msg{kAddr, vexod_bytes(std::string_view("P")), vexod_bytes(std::string_view("AA")),
                                             0x03020004},
                   25, 0, 0, e);
         },
         kAddrHex + "01 00 00 00 02 00 00 00 04 00 02 03 50 41 41"},
        {"26: a status", 26, [](const Bytes& e) { check(vexod_inquiry_complete_msg{5}, 26, 0, 0, e); }, "05 00 00 00"},
        {"28: address, 16-bit value, class most significant first, text length, 32-bit value, text", 28,
         [](const Bytes& e) {
             check(vexod_inquiry_result_msg{kAddr, 0x1234, {0x00, 0x1F, 0x00}, vexod_bytes(std::string_view("G")), 7},
                   28, 0, 0, e);
         },
         kAddrHex + "34 12 00 1f 00 01 00 00 00 07 00 00 00 47"},
        {"29: address, name length, result, name", 29,
         [](const Bytes& e) {
             check(vexod_name_complete_msg{kAddr, vexod_bytes(std::string_view("ab")), 4}, 29, 0, 0, e);
         },
         kAddrHex + "02 00 00 00 04 00 00 00 61 62"},
        {"30: address, channel, path length, result, path", 30,
         [&](const Bytes& e) { check(vexod_rfcomm_connected_msg{kAddr, 3, path, 0xFFFFFFFF}, 30, 0, 0, e); },
         kAddrHex + "03 02 00 00 00 ff ff ff ff " + path_hex},
        {"31: address, channel, 32-bit value", 31,
         [](const Bytes& e) { check(vexod_rfcomm_disconnected_msg{kAddr, 3, 2}, 31, 0, 0, e); },
         kAddrHex + "03 02 00 00 00"},
        {"32: address, 16-bit value, path length, result, path", 32,
         [&](const Bytes& e) { check(vexod_l2cap_connected_msg{kAddr, 0x0101, path, 1}, 32, 0, 0, e); },
         kAddrHex + "01 01 02 00 00 00 01 00 00 00 " + path_hex},
        {"33: address, 16-bit value, 32-bit value", 33,
         [](const Bytes& e) { check(vexod_l2cap_disconnected_msg{kAddr, 0x0101, 9}, 33, 0, 0, e); },
         kAddrHex + "01 01 09 00 00 00"},
        {"36: address, path length, result, path", 36,
         [&](const Bytes& e) { check(vexod_sco_accepted_msg{kAddr, path, 1}, 36, 0, 0, e); },
         kAddrHex + "02 00 00 00 01 00 00 00 " + path_hex},
        {"37: address, 32-bit value", 37,
         [](const Bytes& e) { check(vexod_sco_disconnected_msg{kAddr, 9}, 37, 0, 0, e); }, kAddrHex + "09 00 00 00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes payload = hex(c.payload);
        c.check_it(hex(header(static_cast<uint8_t>(20 + payload.size()), 0, 0, static_cast<uint8_t>(c.funcid)) +
                       c.payload));
    }
    // The smallest sizes at which each is served, with empty variable fields.
    EXPECT_EQ(VEXOD_HEADER_SIZE + vexod_fixed_size<vexod_search_response_msg>(), 38u);
    EXPECT_EQ(VEXOD_HEADER_SIZE + vexod_fixed_size<vexod_inquiry_result_msg>(), 39u);
    EXPECT_EQ(VEXOD_HEADER_SIZE + vexod_fixed_size<vexod_rfcomm_connected_msg>(), 35u);
}

TEST(Wire, LengthsThatOverrunTheMessageOrWrapAreRefused) {
    // Notification 25 whose lengths add up to 2^32 + 9: in 32 bits they
    // would wrap to 9 and fit the 10 bytes behind the fixed fields.
    Bytes m = hex(header(58, 0, 0, 25) + kAddrHex + "ff ff ff ff 0a 00 00 00 00 00 00 00");
    m.resize(58, 'x');
    vexod_search_response_msg n;
    EXPECT_FALSE(vexod_decode(m.data(), static_cast<uint32_t>(m.size()), &n));
    // The exact size passes; the lengths decide, not what lies behind them.
    m = hex(header(41, 0, 0, 25) + kAddrHex + "01 00 00 00 02 00 00 00 00 00 00 00 50 41 41");
    ASSERT_TRUE(vexod_decode(m.data(), static_cast<uint32_t>(m.size()), &n));
    EXPECT_EQ(n.pattern.text(), "P");
    EXPECT_EQ(n.attributes.text(), "AA");
    EXPECT_EQ(n.attributes.data, m.data() + 39);  // pointing into the message, not copied
}

}  // namespace
}  // namespace vgps
