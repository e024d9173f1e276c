#include "registry/bdaddr.h"

#include <bluetooth/bluetooth.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace vgps {
namespace {

bdaddr make(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4, uint8_t b5) {
    return bdaddr{{b0, b1, b2, b3, b4, b5}};
}

TEST(Bdaddr, TextFormIsLowerCaseByteZeroFirst) {
    EXPECT_EQ(ba2str(bdaddr{}), "00:00:00:00:00:00");
    EXPECT_EQ(ba2str(make(0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f)), "0a:1b:2c:3d:4e:5f");
    EXPECT_EQ(ba2str(make(0xff, 0xfe, 0x80, 0x7f, 0x01, 0x00)), "ff:fe:80:7f:01:00");
}

TEST(Bdaddr, ParsesEitherCaseAndShortFields) {
    bdaddr ba{};
    ASSERT_EQ(str2ba("0A:1B:2C:3D:4E:5F", &ba), 1);
    EXPECT_EQ(ba, make(0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f));
    ASSERT_EQ(str2ba("a:b:c:d:e:f", &ba), 1);
    EXPECT_EQ(ba, make(0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f));
    // Blanks before each field; text after the sixth field is ignored,
    // including a third digit.
    ASSERT_EQ(str2ba(" 01:\t02: 3:04:05:06", &ba), 1);
    EXPECT_EQ(ba, make(1, 2, 3, 4, 5, 6));
    ASSERT_EQ(str2ba("0a:1b:2c:3d:4e:5fzz", &ba), 1);
    EXPECT_EQ(ba, make(0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f));
    ASSERT_EQ(str2ba("0a:1b:2c:3d:4e:5f6", &ba), 1);
    EXPECT_EQ(ba, make(0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f));
}

TEST(Bdaddr, MalformedTextLeavesAddressUntouched) {
    const bdaddr before = make(1, 2, 3, 4, 5, 6);
    for (const char* text : {"", "0a:1b:2c:3d:4e", "0a-1b-2c-3d-4e-5f", "0a:1b:2c:3d:4e:", "0a :1b:2c:3d:4e:5f",
                             "0ab:1b:2c:3d:4e:5f", "g0:1b:2c:3d:4e:5f", "0a:1b:2c:3d:4e:zz", "-1:1b:2c:3d:4e:5f",
                             "+a:1b:2c:3d:4e:5f", "0a::2c:3d:4e:5f"}) {
        bdaddr ba = before;
        EXPECT_EQ(str2ba(text, &ba), 0) << text;
        EXPECT_EQ(ba, before) << text;  // not even the first fields
    }
    bdaddr ba = before;
    EXPECT_EQ(str2ba(nullptr, &ba), 0);
    EXPECT_EQ(ba, before);
}

// Our parser agrees with the C library's own "%02x:...:%02x" conversion on
// every text made of hex digits, blanks and colons.
TEST(Bdaddr, AgreesWithFormattedInput) {
    const char* texts[] = {
        "00:11:22:33:44:55", "AA:bb:Cc:dD:ee:FF", "1:2:3:4:5:6", " 1: 2: 3: 4: 5: 6",
        "\n01:02:03:04:05:06", "01:02:03:04:05", "012:02:03:04:05:06", "01:02:03:04:05:0607",
        "01:02:03:04:05:06:07", "01 :02:03:04:05:06", "01:02:03:04:05: ", ":01:02:03:04:05:06",
        "f:ff:f:ff:f:ff", "  ", "01:02:03:04:05:0",
    };
    for (const char* text : texts) {
        unsigned v[6] = {0, 0, 0, 0, 0, 0};
        int fields = std::sscanf(text, "%02x:%02x:%02x:%02x:%02x:%02x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
        bdaddr ba{};
        int ours = str2ba(text, &ba);
        ASSERT_EQ(ours, fields == 6 ? 1 : 0) << text;
        if (ours) {
            EXPECT_EQ(ba, make(static_cast<uint8_t>(v[0]), static_cast<uint8_t>(v[1]), static_cast<uint8_t>(v[2]),
                               static_cast<uint8_t>(v[3]), static_cast<uint8_t>(v[4]), static_cast<uint8_t>(v[5])))
                << text;
        }
    }
}

TEST(Bdaddr, TextRoundTripsForEveryByteValue) {
    for (int i = 0; i < 256; ++i) {
        const uint8_t b = static_cast<uint8_t>(i);
        const bdaddr a = make(b, static_cast<uint8_t>(255 - i), 0, b, 0x5a, static_cast<uint8_t>(i * 7));
        bdaddr back{};
        ASSERT_EQ(str2ba(ba2str(a).c_str(), &back), 1);
        EXPECT_EQ(back, a);
    }
}

// libbluetooth is linked into this binary and exports its own str2ba, which
// stores the bytes reversed. The project's function must be the one that
// runs: byte 0 comes from the first pair of digits.
TEST(Bdaddr, OursIsNotLibbluetoothsStr2ba) {
    bdaddr_t theirs{};
    ASSERT_EQ(::str2ba("0a:1b:2c:3d:4e:5f", &theirs), 0);  // libbluetooth returns 0 on success
    EXPECT_EQ(theirs.b[0], 0x5f);

    bdaddr ours{};
    ASSERT_EQ(vgps::str2ba("0a:1b:2c:3d:4e:5f", &ours), 1);
    EXPECT_EQ(ours.addr[0], 0x0a);
    EXPECT_EQ(ours.addr[5], 0x5f);
}

}  // namespace
}  // namespace vgps
