#include "nmea/tok.h"

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace vgps {
namespace {

// Exact powers of ten: every one up to 1e22 is representable in a double.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                             1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr uint64_t kMaxExactMantissa = uint64_t{1} << 53;

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Value of a digit in radices up to 36, or 36 for anything else.
inline int digit_value(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= '0' && u <= '9') return u - '0';
    u |= 0x20;
    if (u >= 'a' && u <= 'z') return u - 'a' + 10;
    return 36;
}

// The common field forms ([sign]digits[.digits], no exponent) converted
// without strtod. With at most 2^53 as the integer of all digits and at
// most 22 digits after the point, both operands of the one division are
// exact, so the correctly rounded quotient is exactly what strtod returns.
// Returns false for every other text, which then goes to strtod.
bool fast_atof(const char* s, int len, double* out) {
    int i = 0;
    bool negative = false;
    if (i < len && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    // "0x..." is a hexadecimal number for strtod.
    if (i + 1 < len && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) return false;
    uint64_t mantissa = 0;
    int digits = 0;
    int fraction_digits = 0;
    for (; i < len && is_digit(s[i]); ++i, ++digits) {
        mantissa = mantissa * 10 + static_cast<uint64_t>(s[i] - '0');
        if (mantissa > kMaxExactMantissa) return false;
    }
    if (i < len && s[i] == '.') {
        for (++i; i < len && is_digit(s[i]); ++i, ++digits, ++fraction_digits) {
            mantissa = mantissa * 10 + static_cast<uint64_t>(s[i] - '0');
            if (mantissa > kMaxExactMantissa) return false;
        }
    }
    if (digits == 0 || fraction_digits > 22) return false;
    if (i < len && (s[i] == 'e' || s[i] == 'E')) return false;  // maybe an exponent
    double value = static_cast<double>(mantissa);
    if (fraction_digits) value /= kPow10[fraction_digits];
    *out = negative ? -value : value;
    return true;
}

// [sign]digits in the radix, at most 12 digits (36^12 < 2^63: no
// overflow), without strtol. Returns false for every other text.
bool fast_atol(const char* s, int len, int radix, long* out) {
    if (radix < 2 || radix > 36) return false;
    int i = 0;
    bool negative = false;
    if (i < len && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    // strtol in radix 16 skips a "0x" prefix.
    if (radix == 16 && i + 1 < len && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X'))
        return false;
    long value = 0;
    int digits = 0;
    for (; i < len; ++i) {
        int d = digit_value(s[i]);
        if (d >= radix) break;
        if (++digits > 12) return false;
        value = value * radix + d;
    }
    if (digits == 0) return false;
    *out = negative ? -value : value;
    return true;
}

}  // namespace

double nmea_atof(const char* str, int str_sz) {
    if (str_sz <= 0 || str_sz >= NMEA_CONVSTR_BUF) return 0.0;
    double value;
    if (fast_atof(str, str_sz, &value)) return value;
    char buff[NMEA_CONVSTR_BUF];
    std::memcpy(buff, str, static_cast<size_t>(str_sz));
    buff[str_sz] = '\0';
    return std::strtod(buff, nullptr);
}

int nmea_atoi(const char* str, int str_sz, int radix) {
    if (str_sz <= 0 || str_sz >= NMEA_CONVSTR_BUF) return 0;
    long value;
    if (!fast_atol(str, str_sz, radix, &value)) {
        char buff[NMEA_CONVSTR_BUF];
        std::memcpy(buff, str, static_cast<size_t>(str_sz));
        buff[str_sz] = '\0';
        value = std::strtol(buff, nullptr, radix);
    }
    return static_cast<int>(value);
}

namespace {

// nmea_atoi(s, len, 10) for the usual field of up to nine plain digits,
// without the call; every other text goes to nmea_atoi.
inline int decimal_field(const char* s, int len) {
    if (len <= 9) {
        unsigned value = 0;
        int i = 0;
        for (; i < len && is_digit(s[i]); ++i) value = value * 10 + static_cast<unsigned>(s[i] - '0');
        if (i > 0) return static_cast<int>(value);
    }
    return nmea_atoi(s, len, 10);
}

}  // namespace

int nmea_scanf(const char* buff, int buff_sz, const char* format, ...) {
    const char* const end_buf = buff + (buff_sz > 0 ? buff_sz : 0);
    int tok_count = 0;

    va_list arg_ptr;
    va_start(arg_ptr, format);

    // Each round starts at a format character with input left to read.
    while (*format && buff < end_buf) {
        if (*format != '%') {
            if (*buff++ != *format++) break;  // literals must match
            continue;
        }

        // A directive: optional decimal width, then the conversion letter.
        const char* const beg_fmt = ++format;
        while (is_digit(*format)) ++format;
        if (!*format) break;
        int width = 0;
        if (format > beg_fmt) width = decimal_field(beg_fmt, static_cast<int>(format - beg_fmt));
        const char letter = *format++;
        const char next = *format;  // the format character after the letter

        // The field: width bytes, or up to the next occurrence of `next`.
        const char* const beg_tok = buff;
        if (!width && (letter == 'c' || letter == 'C') && *buff != next) width = 1;
        if (width > 0) {
            if (end_buf - buff < width) break;
            buff += width;
        } else if (!next) {
            buff = end_buf;
        } else {
            while (buff < end_buf && *buff != next) ++buff;
        }
        ++tok_count;
        const int tok_len = static_cast<int>(buff - beg_tok);

        // Empty fields take their destination but store nothing.
        switch (letter) {
        case 'c':
        case 'C': {
            char* target = va_arg(arg_ptr, char*);
            if (tok_len) *target = *beg_tok;
            break;
        }
        case 's':
        case 'S': {
            char* target = va_arg(arg_ptr, char*);
            if (tok_len) {
                const int n = tok_len < NMEA_CONVSTR_BUF ? tok_len : NMEA_CONVSTR_BUF - 1;
                std::memcpy(target, beg_tok, static_cast<size_t>(n));
                target[n] = '\0';
            }
            break;
        }
        case 'f':
        case 'e':
        case 'E':
        case 'g':
        case 'G': {
            double* target = va_arg(arg_ptr, double*);
            if (tok_len) *target = nmea_atof(beg_tok, tok_len);
            break;
        }
        case 'd':
        case 'i': {
            int* target = va_arg(arg_ptr, int*);
            if (tok_len) *target = decimal_field(beg_tok, tok_len);
            break;
        }
        case 'u': {
            unsigned int* target = va_arg(arg_ptr, unsigned int*);
            if (tok_len) *target = static_cast<unsigned int>(decimal_field(beg_tok, tok_len));
            break;
        }
        case 'x':
        case 'X': {
            unsigned int* target = va_arg(arg_ptr, unsigned int*);
            if (tok_len) *target = static_cast<unsigned int>(nmea_atoi(beg_tok, tok_len, 16));
            break;
        }
        case 'o': {
            unsigned int* target = va_arg(arg_ptr, unsigned int*);
            if (tok_len) *target = static_cast<unsigned int>(nmea_atoi(beg_tok, tok_len, 8));
            break;
        }
        default:
            // An unknown letter takes no destination; with a field it ends the scan.
            if (tok_len) goto done;
            break;
        }
    }

done:
    va_end(arg_ptr);
    return tok_count;
}

}  // namespace vgps
