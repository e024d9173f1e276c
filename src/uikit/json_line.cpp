#include "uikit/json_line.h"

#include <charconv>
#include <cmath>

#include "platform/alert.h"

namespace vgps {
namespace {

void write(const JSON& value, std::string& out) {
    switch (value.type()) {
        case JSON::value_t::null:
        case JSON::value_t::discarded: out += "null"; break;
        case JSON::value_t::boolean: out += value.get<bool>() ? "true" : "false"; break;
        case JSON::value_t::number_integer: out += std::to_string(value.get<int64_t>()); break;
        case JSON::value_t::number_unsigned: out += std::to_string(value.get<uint64_t>()); break;
        case JSON::value_t::number_float: {
            const double d = value.get<double>();
            if (!std::isfinite(d)) {
                out += "null";
                break;
            }
            char buf[32];
            const auto r = std::to_chars(buf, buf + sizeof buf, d);
            out.append(buf, r.ptr);
            break;
        }
        case JSON::value_t::string: out += quote_text(value.get_ref<const std::string&>()); break;
        case JSON::value_t::array: {
            out += '[';
            bool first = true;
            for (const auto& item : value) {
                if (!first) out += ',';
                first = false;
                write(item, out);
            }
            out += ']';
            break;
        }
        case JSON::value_t::object: {
            out += '{';
            bool first = true;
            for (const auto& [key, item] : value.items()) {
                if (!first) out += ',';
                first = false;
                out += quote_text(key);
                out += ':';
                write(item, out);
            }
            out += '}';
            break;
        }
        case JSON::value_t::binary: out += "null"; break;
    }
}

}  // namespace

std::string json_line(const JSON& value) {
    std::string out;
    write(value, out);
    return out;
}

}  // namespace vgps
