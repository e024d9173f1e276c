#include "registry/bdaddr.h"

#include <bluetooth/bluetooth.h>
#include <gtest/gtest.h>

#include <cstdio>

namespace vgps {
namespace {

// Our parser agrees with the C library's own "%02x:...:%02x" conversion on
// texts of hex digits, blanks and colons, and a failure leaves the address
// untouched, not even its first fields written.
TEST(Bdaddr, ParsesLikeFormattedInput) {
    const bdaddr untouched{{1, 2, 3, 4, 5, 6}};
    for (const char* text :
         {"00:11:22:33:44:55", "AA:bb:Cc:dD:ee:FF", "1:2:3:4:5:6", " 1:\t2: 3: 4: 5: 6", "\n01:02:03:04:05:06",
          "01:02:03:04:05:0607", "0a:1b:2c:3d:4e:5fzz", "01:02:03:04:05:06:07", "f:ff:f:ff:f:ff", "", "  ",
          "01:02:03:04:05", "012:02:03:04:05:06", "01 :02:03:04:05:06", "01:02:03:04:05: ", ":01:02:03:04:05:06",
          "0a-1b-2c-3d-4e-5f", "g0:1b:2c:3d:4e:5f", "0a:1b:2c:3d:4e:zz", "0a::2c:3d:4e:5f"}) {
        unsigned v[6] = {};
        const bool ok = std::sscanf(text, "%02x:%02x:%02x:%02x:%02x:%02x", &v[0], &v[1], &v[2], &v[3], &v[4],
                                    &v[5]) == 6;
        bdaddr want = untouched;
        if (ok) for (int i = 0; i < 6; ++i) want.addr[i] = static_cast<uint8_t>(v[i]);
        bdaddr ba = untouched;
        ASSERT_EQ(str2ba(text, &ba), ok ? 1 : 0) << text;
        EXPECT_EQ(ba, want) << text;
    }
    // Signs, which the C conversion would take, are no hex digits.
    for (const char* text : {"-1:1b:2c:3d:4e:5f", "+a:1b:2c:3d:4e:5f", static_cast<const char*>(nullptr)}) {
        bdaddr ba = untouched;
        EXPECT_EQ(str2ba(text, &ba), 0);
        EXPECT_EQ(ba, untouched);
    }
}

// The strict text form of command lines and scenario files: exactly
// "xx:xx:xx:xx:xx:xx", either case, byte 0 first; text form and parser agree.
TEST(Bdaddr, TextFormIsExactlySeventeenCharacters) {
    const bdaddr untouched{{1, 2, 3, 4, 5, 6}};
    bdaddr ba = untouched;
    ASSERT_TRUE(bdaddr_from_text("0A:1b:2C:3d:4E:5f", &ba));
    EXPECT_EQ(ba, (bdaddr{{0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}}));
    EXPECT_EQ(ba2str(ba), "0a:1b:2c:3d:4e:5f");
    for (const char* text : {"", "0a:1b:2c:3d:4e", "0a:1b:2c:3d:4e:5f ", " 0a:1b:2c:3d:4e:5f", "a:1b:2c:3d:4e:5f0",
                             " a:1b:2c:3d:4e:5f", "0a-1b-2c-3d-4e-5f", "0a:1b:2c:3d:4e:5g", "+a:1b:2c:3d:4e:5f"}) {
        ba = untouched;
        EXPECT_FALSE(bdaddr_from_text(text, &ba)) << text;
        EXPECT_EQ(ba, untouched) << text;
    }
}

// libbluetooth is linked into this binary and exports its own str2ba, which
// stores the bytes reversed; the loader's test shows the registry calls ours.
TEST(Bdaddr, OursIsNotLibbluetoothsStr2ba) {
    bdaddr_t theirs{};
    ASSERT_EQ(::str2ba("0a:1b:2c:3d:4e:5f", &theirs), 0);  // libbluetooth returns 0 on success
    EXPECT_EQ(theirs.b[0], 0x5f);
    bdaddr ours{};
    ASSERT_EQ(vgps::str2ba("0a:1b:2c:3d:4e:5f", &ours), 1);
    EXPECT_EQ(ours, (bdaddr{{0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}}));
}

}  // namespace
}  // namespace vgps
