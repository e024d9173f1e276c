// Field scanning and number conversion over byte ranges that are not
// zero-terminated (sentences are decoded in place in the parser's buffer).
#pragma once

namespace vgps {

// Number conversions copy at most this many bytes minus one; longer texts
// convert to 0. Text destinations of nmea_scanf ("%s") must hold this many
// bytes: a longer field is cut to NMEA_CONVSTR_BUF - 1 bytes.
constexpr int NMEA_CONVSTR_BUF = 256;

// The text as strtod would read it (leading blanks and a sign accepted,
// stops at the first byte that does not fit); 0 for texts of more than 255
// bytes, an empty text or a negative length. Numbers are read in the C
// locale's form.
double nmea_atof(const char* str, int str_sz);

// The text as strtol would read it in the given radix, narrowed to int;
// 0 as for nmea_atof.
int nmea_atoi(const char* str, int str_sz, int radix);

// Scans buff[0, buff_sz) against a format of literals and directives
// ("%c %C %s %S %f %e %E %g %G %d %i %u %x %X %o", with an optional decimal
// width), one destination pointer per directive: char*, char* (text buffer
// of NMEA_CONVSTR_BUF bytes), double*, int*, unsigned int*. A directive
// without width takes the bytes up to the next occurrence of the format
// character that follows it (or to the end); "%c"/"%C" take one byte unless
// the field is empty. Empty fields are counted but store nothing. The scan
// ends at the first literal that differs, at the end of the input or of
// the format. Returns the number of directives processed.
int nmea_scanf(const char* buff, int buff_sz, const char* format, ...);

}  // namespace vgps
