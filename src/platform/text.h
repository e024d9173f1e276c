// Text conversions the platform's string type does on creation.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace vgps {

// Decodes the character at bytes[*i] and moves *i past it; false, leaving
// *i where it was, when the bytes there are not well-formed UTF-8 (an
// overlong form, a surrogate, a value above U+10FFFF, a cut sequence).
bool utf8_next(const char* bytes, size_t length, size_t* i, char32_t* character);

// The bytes as a string when they are well-formed UTF-8, else absent.
std::optional<std::string> string_from_utf8(const char* bytes, size_t length);
// The same for a NUL-terminated text: the bytes before the first zero.
std::optional<std::string> string_from_utf8(const char* text);

// True when `text` contains `part`, comparing ASCII letters without regard
// to case.
bool contains_ignoring_case(const std::string& text, const std::string& part);

}  // namespace vgps
