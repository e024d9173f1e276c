// Text conversions the platform's string type does on creation.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace vgps {

// The bytes as a string when they are well-formed UTF-8 (no overlong forms,
// surrogates or values above U+10FFFF), else absent.
std::optional<std::string> string_from_utf8(const char* bytes, size_t length);
// The same for a NUL-terminated text: the bytes before the first zero.
std::optional<std::string> string_from_utf8(const char* text);

// True when `text` contains `part`, comparing ASCII letters without regard
// to case.
bool contains_ignoring_case(const std::string& text, const std::string& part);

}  // namespace vgps
