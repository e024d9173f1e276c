// The JSON of the window dump: objects keep their keys in the order they
// were written, and one line of text holds the whole value.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace vgps {

using JSON = nlohmann::ordered_json;

// The value as one line without spaces. Numbers with a fraction part are
// written in the shortest form that reads back exactly, whole numbers
// without a decimal point ("416", "-0"); NaN and infinities as null.
// Strings are escaped as in platform/alert.h's quote_text.
std::string json_line(const JSON& value);

}  // namespace vgps
