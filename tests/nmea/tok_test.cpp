#include "nmea/tok.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace vgps {
namespace {

// The conversions must give exactly what strtod / strtol give for the same
// text, including the forms their fast paths hand on to the C library.
TEST(NmeaConversions, AgreeWithTheCLibraryBitForBit) {
    const char* texts[] = {
        "4807.038", "-0", "-0.000", "+1.5", " 12.5", ".5", "5.", ".", "-", "", "1e3", "1.5e",
        "2E-3", "0x1p3", "-0X10", "inf", "nan", "12abc", "123456789012345678901234",
        "0.1234567890123456789012345", "9007199254740993", "0.30000000000000004", "1e400",
        "7*4A", "1F", "zz", "08", "2147483648", "-2147483649", "99999999999999999999"};
    for (const char* text : texts) {
        const int len = static_cast<int>(std::strlen(text));
        const double got = nmea_atof(text, len), want = std::strtod(text, nullptr);
        if (std::isnan(want)) {
            EXPECT_TRUE(std::isnan(got)) << '"' << text << '"';
        } else {
            EXPECT_EQ(0, std::memcmp(&got, &want, sizeof got)) << '"' << text << "\" " << got;
        }
        for (int radix : {10, 16, 8}) {
            EXPECT_EQ(static_cast<int>(std::strtol(text, nullptr, radix)), nmea_atoi(text, len, radix))
                << '"' << text << "\" radix " << radix;
        }
    }
    // Only the given bytes count; texts above 255 bytes give 0.
    EXPECT_EQ(12.5, nmea_atof("12.5678", 4));
    const std::string ones(256, '1');
    EXPECT_EQ(std::strtod(ones.substr(0, 255).c_str(), nullptr), nmea_atof(ones.data(), 255));
    EXPECT_EQ(0.0, nmea_atof(ones.data(), 256));
    EXPECT_EQ(0, nmea_atoi(ones.data(), 256, 10));
}

TEST(NmeaScanf, CountsEveryFieldItReaches) {
    int a = -1, b = -1, c = -1;
    char letter = 0;
    // Empty fields count but store nothing; non-numbers count as 0.
    EXPECT_EQ(3, nmea_scanf("x,,7*", 5, "%d,%d,%d*", &a, &b, &c));
    EXPECT_EQ((std::vector<int>{0, -1, 7}), (std::vector<int>{a, b, c}));
    // A letter field of two characters ends the scan right after it.
    EXPECT_EQ(1, nmea_scanf("AB,5*", 5, "%C,%d*", &letter, &b));
    EXPECT_EQ(std::make_pair('A', -1), std::make_pair(letter, b));
    // Widths take exactly that many bytes, whatever they are; a width that
    // does not fit ends the scan uncounted.
    EXPECT_EQ(3, nmea_scanf(",003.1", 6, "%2d%2d%2d", &a, &b, &c));
    EXPECT_EQ(3, b);
    EXPECT_EQ(2, nmea_scanf("12345", 5, "%2d%2d%2d", &a, &b, &c));
}

}  // namespace
}  // namespace vgps
