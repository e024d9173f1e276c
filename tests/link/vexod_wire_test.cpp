// The wire format against the bytes written out by hand, offset by offset as
// the protocol lays them down: the response and every notification, encoded
// and decoded, and each one byte short refused. (The requests' bytes are
// checked where they are sent, in vexod_rpc1_test.)
#include "link/vexod_wire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vgps {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes hex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += text[i] == ' ' ? 1 : 2)
        if (text[i] != ' ') out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

constexpr bdaddr kAddr{{0x00, 0x0b, 0x0d, 0x88, 0xa2, 0x3c}};
const std::string kAddrHex = "00 0b 0d 88 a2 3c ";
const vexod_bytes kPath(std::string_view("/p"));

// Encodes `m` with the header fields given and checks the bytes against the
// header (magic 78 56 34 12, size, resp, msgid, funcid) and `payload`;
// decodes them again to the same bytes; one byte shorter is refused. (Lengths
// that wrap are refused in vexod_notify_test.)
template <class M>
void check(const char* what, const M& m, uint32_t funcid, const std::string& payload, uint32_t resp = 0,
           uint32_t msgid = 0) {
    SCOPED_TRACE(what);
    const Bytes body = hex(payload);
    char header[80];
    std::snprintf(header, sizeof header, "78 56 34 12 %02zx 00 00 00 %02x 00 00 00 %02x 00 00 00 %02x 00 00 00 ",
                  20 + body.size(), resp, msgid, funcid);
    const Bytes expected = hex(header + payload);
    EXPECT_EQ(vexod_frame(m, funcid, msgid, resp), expected);
    M decoded, shorter;
    ASSERT_TRUE(vexod_decode(expected.data(), static_cast<uint32_t>(expected.size()), &decoded));
    EXPECT_EQ(vexod_frame(decoded, funcid, msgid, resp), expected);
    EXPECT_FALSE(vexod_decode(expected.data(), static_cast<uint32_t>(expected.size() - 1), &shorter));
}

TEST(Wire, TheResponseAndEveryNotification) {
    check("response: the result in the funcid field, the value at 20", vexod_result_msg{0xCAFE}, 0, "fe ca 00 00", 1,
          9);
    EXPECT_EQ(vexod_frame(vexod_no_payload{}, 101, 9, 1), hex("78 56 34 12 14 00 00 00 01 00 00 00 09 00 00 00 65 00 00 00"));
    check("25: address, the two lengths, result, pattern, attributes",
          vexod_search_response_msg{kAddr, vexod_bytes(std::string_view("P")), vexod_bytes(std::string_view("AA")),
                                    0x03020004},
          25, kAddrHex + "01 00 00 00 02 00 00 00 04 00 02 03 50 41 41");
    check("26: a status", vexod_inquiry_complete_msg{5}, 26, "05 00 00 00");
    check("28: address, 16-bit value, class most significant first, text length, 32-bit value, text",
          vexod_inquiry_result_msg{kAddr, 0x1234, {0x00, 0x1F, 0x00}, vexod_bytes(std::string_view("G")), 7}, 28,
          kAddrHex + "34 12 00 1f 00 01 00 00 00 07 00 00 00 47");
    check("29: address, name length, result, name",
          vexod_name_complete_msg{kAddr, vexod_bytes(std::string_view("ab")), 4}, 29,
          kAddrHex + "02 00 00 00 04 00 00 00 61 62");
    check("30: address, channel, path length, result, path", vexod_rfcomm_connected_msg{kAddr, 3, kPath, 0xFFFFFFFF},
          30, kAddrHex + "03 02 00 00 00 ff ff ff ff 2f 70");
    check("31: address, channel, 32-bit value", vexod_rfcomm_disconnected_msg{kAddr, 3, 2}, 31,
          kAddrHex + "03 02 00 00 00");
    check("32: address, 16-bit value, path length, result, path", vexod_l2cap_connected_msg{kAddr, 0x0101, kPath, 1},
          32, kAddrHex + "01 01 02 00 00 00 01 00 00 00 2f 70");
    check("33: address, 16-bit value, 32-bit value", vexod_l2cap_disconnected_msg{kAddr, 0x0101, 9}, 33,
          kAddrHex + "01 01 09 00 00 00");
    check("36: address, path length, result, path", vexod_sco_accepted_msg{kAddr, kPath, 1}, 36,
          kAddrHex + "02 00 00 00 01 00 00 00 2f 70");
    check("37: address, 32-bit value", vexod_sco_disconnected_msg{kAddr, 9}, 37, kAddrHex + "09 00 00 00");
    // The smallest sizes at which each is served, with empty variable fields.
    EXPECT_EQ(VEXOD_HEADER_SIZE + vexod_fixed_size<vexod_search_response_msg>(), 38u);
    EXPECT_EQ(VEXOD_HEADER_SIZE + vexod_fixed_size<vexod_inquiry_result_msg>(), 39u);
    EXPECT_EQ(VEXOD_HEADER_SIZE + vexod_fixed_size<vexod_rfcomm_connected_msg>(), 35u);
}

}  // namespace
}  // namespace vgps
