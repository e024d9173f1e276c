#include "nmea/tok.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace vgps {
namespace {

// The conversions must give exactly what strtod / strtol give for the same
// text (the decoders' results are defined by them), including the forms the
// fast paths hand on.
TEST(NmeaAtof, AgreesWithStrtodBitForBit) {
    const char* texts[] = {
        "4807.038", "01131.000", "-0", "-0.000", "+1.5", " 12.5", "\t3", ".5", "5.", ".", "-",
        "", "1e3", "1.5e", "1.5e+", "2E-3", "0x1p3", "-0X10", "0x", "inf", "-Infinity", "nan",
        "NaN(123)", "12abc", "12.5.3", "1,5", "123456789012345678901234",
        "0.1234567890123456789012345", "9007199254740993", "9007199254740992", "9007199254740991",
        "0.30000000000000004", "1.00000000000000011102230246251565", "000000000000000000001.5",
        "0.0000000000000000000001", "0.00000000000000000000001", "1e400", "-1e-400", "023.4",
        "12\x01", "7*4A",
    };
    for (const char* text : texts) {
        const double got = nmea_atof(text, static_cast<int>(std::strlen(text)));
        const double want = std::strtod(text, nullptr);
        if (std::isnan(want)) {
            EXPECT_TRUE(std::isnan(got)) << '"' << text << '"';
        } else {
            EXPECT_EQ(0, std::memcmp(&got, &want, sizeof got))
                << '"' << text << "\" gives " << got << ", strtod " << want;
        }
    }
}

TEST(NmeaAtoi, AgreesWithStrtolInEveryRadixUsed) {
    const char* texts[] = {"12",   "-7",   "+7",    " 7",  "0x1F", "0X1f", "1F",   "1f",
                           "zz",   "08",   "777",   "-",   "",     "2147483648",
                           "-2147483649", "99999999999999999999", "123456789012", "0000000000000012",
                           "4a",   "A*",   "12,3"};
    for (int radix : {10, 16, 8}) {
        for (const char* text : texts) {
            const int got = nmea_atoi(text, static_cast<int>(std::strlen(text)), radix);
            const int want = static_cast<int>(std::strtol(text, nullptr, radix));
            EXPECT_EQ(want, got) << '"' << text << "\" radix " << radix;
        }
    }
}

TEST(NmeaConversions, ReadOnlyTheGivenBytesAndRefuseLongTexts) {
    EXPECT_EQ(12.5, nmea_atof("12.5678", 4));
    EXPECT_EQ(12, nmea_atoi("123", 2, 10));
    EXPECT_EQ(0.0, nmea_atof("5", 0));
    EXPECT_EQ(0, nmea_atoi("5", -1, 10));

    const std::string digits255(255, '1');
    const std::string digits256(256, '1');
    EXPECT_EQ(std::strtod(digits255.c_str(), nullptr), nmea_atof(digits255.data(), 255));
    EXPECT_EQ(0.0, nmea_atof(digits256.data(), 256));
    const std::string zeros = std::string(254, '0') + "7";
    EXPECT_EQ(7, nmea_atoi(zeros.data(), 255, 10));
    EXPECT_EQ(0, nmea_atoi((zeros + "7").data(), 256, 10));
}

TEST(NmeaScanf, CountsEmptyFieldsWithoutStoringThem) {
    int a = -1, b = -1, c = -1;
    const char text[] = "5,,7*";
    EXPECT_EQ(3, nmea_scanf(text, 5, "%d,%d,%d*", &a, &b, &c));
    EXPECT_EQ(5, a);
    EXPECT_EQ(-1, b);
    EXPECT_EQ(7, c);

    char letter = 'x';
    double number = -1;
    EXPECT_EQ(2, nmea_scanf(",2.5*", 5, "%C,%f*", &letter, &number));
    EXPECT_EQ('x', letter);
    EXPECT_EQ(2.5, number);
}

TEST(NmeaScanf, NonNumbersCountAsZero) {
    int a = -1;
    double d = -1;
    EXPECT_EQ(2, nmea_scanf("ab,cd*", 6, "%d,%f*", &a, &d));
    EXPECT_EQ(0, a);
    EXPECT_EQ(0.0, d);
}

TEST(NmeaScanf, EndsAtTheFirstLiteralThatDiffers) {
    int a = -1, b = -1;
    // A letter field of two characters: its first is stored, the scan ends.
    char letter = 0;
    EXPECT_EQ(1, nmea_scanf("AB,5*", 5, "%C,%d*", &letter, &a));
    EXPECT_EQ('A', letter);
    EXPECT_EQ(-1, a);
    // More fields than the format: the last directive runs up to its "*".
    EXPECT_EQ(2, nmea_scanf("1,2,3*", 6, "%d,%d*", &a, &b));
    EXPECT_EQ(1, a);
    EXPECT_EQ(2, b);
    // A different address.
    EXPECT_EQ(0, nmea_scanf("$GPGGX,1*", 9, "$GPGGA,%d*", &a));
}

TEST(NmeaScanf, WidthsTakeExactlyThatManyBytes) {
    int h = -1, m = -1, s = -1, f = -1;
    EXPECT_EQ(4, nmea_scanf("123519.25", 9, "%2d%2d%2d.%d", &h, &m, &s, &f));
    EXPECT_EQ(12, h);
    EXPECT_EQ(35, m);
    EXPECT_EQ(19, s);
    EXPECT_EQ(25, f);
    // Too few bytes left for a width: the directive is not counted.
    h = m = s = -1;
    EXPECT_EQ(2, nmea_scanf("12345", 5, "%2d%2d%2d", &h, &m, &s));
    EXPECT_EQ(-1, s);
    // Widths take any byte, commas included.
    EXPECT_EQ(3, nmea_scanf(",003.1", 6, "%2d%2d%2d", &h, &m, &s));
    EXPECT_EQ(0, h);
    EXPECT_EQ(3, m);
    EXPECT_EQ(0, s);
}

TEST(NmeaScanf, StoresUnsignedHexOctalAndText) {
    unsigned u = 0, x = 0, o = 0;
    char text[NMEA_CONVSTR_BUF] = "old";
    EXPECT_EQ(4, nmea_scanf("42,ff,17,abc*", 13, "%u,%x,%o,%s*", &u, &x, &o, text));
    EXPECT_EQ(42u, u);
    EXPECT_EQ(255u, x);
    EXPECT_EQ(15u, o);
    EXPECT_STREQ("abc", text);
}

TEST(NmeaScanf, CutsLongTextsToTheirBuffer) {
    // Exactly NMEA_CONVSTR_BUF bytes on the heap: ASan reports any write past it.
    std::vector<char> text(NMEA_CONVSTR_BUF, 'x');
    const std::string input = std::string(600, '7') + ",1*";
    int after = -1;
    EXPECT_EQ(2, nmea_scanf(input.data(), static_cast<int>(input.size()), "%s,%d*", text.data(),
                            &after));
    EXPECT_EQ(static_cast<size_t>(NMEA_CONVSTR_BUF - 1), std::strlen(text.data()));
    EXPECT_EQ(1, after);
}

}  // namespace
}  // namespace vgps
