#include "scenario.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "nmea_feed.h"

namespace vexod {
namespace {

using json = nlohmann::json;

// Validation walks the document and stops at the first bad value, naming
// it by its path.
struct Checker {
    std::string error;

    bool fail(const std::string& where, const std::string& what) {
        error = where + ": " + what;
        return false;
    }

    bool known_keys(const json& object, const std::string& where, std::set<std::string> keys) {
        if (!object.is_object()) return fail(where, "must be an object");
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (!keys.count(it.key())) return fail(where.empty() ? it.key() : where + "." + it.key(), "unknown key");
        }
        return true;
    }

    bool get_uint(const json& object, const std::string& key, const std::string& where, uint64_t max, uint32_t* out) {
        if (!object.contains(key)) return true;
        const json& v = object[key];
        if (!v.is_number_unsigned())
            return fail(where + "." + key, "must be a whole number of 0 or more");
        const uint64_t value = v.get<uint64_t>();
        if (value > max) return fail(where + "." + key, "must be at most " + std::to_string(max));
        *out = static_cast<uint32_t>(value);
        return true;
    }

    bool get_double(const json& object, const std::string& key, const std::string& where, double min, double max,
                    double* out) {
        if (!object.contains(key)) return true;
        const json& v = object[key];
        if (!v.is_number()) return fail(where + "." + key, "must be a number");
        const double value = v.get<double>();
        if (!(value >= min && value <= max))
            return fail(where + "." + key, "must be between " + number(min) + " and " + number(max));
        *out = value;
        return true;
    }

    // A whole number written as such or as a text such as "0x1101".
    bool get_code(const json& object, const std::string& key, const std::string& where, uint64_t max,
                  const std::string& example, uint64_t* out) {
        if (!object.contains(key)) return true;
        const json& v = object[key];
        uint64_t value = 0;
        if (v.is_number_unsigned()) {
            value = v.get<uint64_t>();
        } else if (v.is_string()) {
            const std::string s = v.get<std::string>();
            char* end = nullptr;
            errno = 0;
            value = std::strtoull(s.c_str(), &end, 0);
            if (s.empty() || s[0] == '-' || *end != '\0' || errno == ERANGE)
                return fail(where + "." + key, "must be a number such as \"" + example + "\"");
        } else {
            return fail(where + "." + key, "must be a number such as \"" + example + "\"");
        }
        if (value > max) return fail(where + "." + key, "must be at most " + number(static_cast<double>(max)));
        *out = value;
        return true;
    }

    static std::string number(double v) {
        std::ostringstream out;
        out << v;
        return out.str();
    }

    bool get_bool(const json& object, const std::string& key, const std::string& where, bool* out) {
        if (!object.contains(key)) return true;
        if (!object[key].is_boolean()) return fail(where + "." + key, "must be true or false");
        *out = object[key].get<bool>();
        return true;
    }

    bool get_string(const json& object, const std::string& key, const std::string& where, std::string* out) {
        if (!object.contains(key)) return true;
        if (!object[key].is_string()) return fail(where + "." + key, "must be a string");
        *out = object[key].get<std::string>();
        return true;
    }
};

// What a path names that is not a regular file, for the message.
std::string not_a_file(mode_t mode) {
    if (S_ISDIR(mode)) return "is a folder, not a file";
    const char* kind = S_ISFIFO(mode) ? "a FIFO" : S_ISCHR(mode) ? "a character device" : S_ISBLK(mode) ? "a block device"
                       : S_ISSOCK(mode) ? "a socket" : "not a plain file";
    return std::string("is not a regular file (") + kind + ")";
}

std::string mebibytes(size_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

// Reads a whole regular file of at most `limit` bytes. Anything else (a
// folder, a FIFO or device that might never end or block the daemon's
// start, a larger file) is refused, saying why in `why`.
bool read_regular_file(const std::string& path, size_t limit, std::string* out, std::string* why) {
    // Not blocking: opening a FIFO waits for a writer otherwise.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat st;
    if (fd < 0) {
        const int saved = errno;
        *why = ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) ? not_a_file(st.st_mode) : std::strerror(saved);
        return false;
    }
    std::string text;
    bool ok = false;
    if (::fstat(fd, &st) != 0) {
        *why = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        *why = not_a_file(st.st_mode);
    } else if (static_cast<uint64_t>(st.st_size) > limit) {
        *why = "is " + std::to_string(st.st_size) + " bytes, more than the limit of " + mebibytes(limit);
    } else {
        text.reserve(static_cast<size_t>(st.st_size));
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                *why = std::strerror(errno);
                break;
            }
            if (n == 0) {
                ok = true;
                break;
            }
            text.append(buffer, static_cast<size_t>(n));
            if (text.size() > limit) {  // it grew while being read
                *why = "is more than the limit of " + mebibytes(limit);
                break;
            }
        }
    }
    ::close(fd);
    if (ok) *out = std::move(text);
    return ok;
}

// Walks the document without building it, to find where it stops being
// valid JSON: the library reports a number too large for a double without
// a position otherwise (and by an exception).
class SyntaxCheck : public json::json_sax_t {
public:
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return true; }
    bool key(string_t&) override { return true; }
    bool end_object() override { return true; }
    bool start_array(std::size_t) override { return true; }
    bool end_array() override { return true; }
    bool parse_error(std::size_t position, const std::string&, const json::exception& e) override {
        byte = position;
        what = e.what();
        return false;
    }

    size_t byte = 0;  // characters read when the error was found
    std::string what;
};

// "line L, column C: what", at the last character read before the error:
// the library counts a newline it read as the start of the next line,
// which points people at the wrong one.
std::string syntax_error(const std::string& text, const SyntaxCheck& check) {
    const size_t last = std::min<size_t>(check.byte > 0 ? check.byte - 1 : 0, text.size());
    size_t line = 1, column = 1;
    for (size_t i = 0; i < last; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    // Without the library's "[json.exception.parse_error.101] parse error
    // at line L, column C: " in front.
    std::string what = check.what;
    if (what.rfind('[', 0) == 0 && what.find("] ") != std::string::npos) what.erase(0, what.find("] ") + 2);
    if (what.rfind("parse error", 0) == 0 && what.find(": ") != std::string::npos) what.erase(0, what.find(": ") + 2);
    return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what;
}

std::string at(const std::string& base, size_t index) { return base + "[" + std::to_string(index) + "]"; }

bool parse_hex(const std::string& text, std::vector<uint8_t>* out) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char ch : text) {
        if (ch == ' ' || ch == ':' || ch == '\n') {
            if (high >= 0) return false;  // digits come in pairs
            continue;
        }
        int d;
        if (ch >= '0' && ch <= '9') d = ch - '0';
        else if (ch >= 'a' && ch <= 'f') d = ch - 'a' + 10;
        else if (ch >= 'A' && ch <= 'F') d = ch - 'A' + 10;
        else return false;
        if (high < 0) {
            high = d;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + d));
            high = -1;
        }
    }
    if (high >= 0) return false;
    *out = std::move(bytes);
    return true;
}

bool read_link_faults(Checker& c, const json& f, const std::string& where, LinkFaults* out) {
    if (!c.known_keys(f, where, {"connect_result", "drop_after_epochs", "split_at_epoch", "split_pause_ms",
                                 "burst_at_epoch", "socket_path", "sdp_attributes_hex"}))
        return false;
    auto optional_uint = [&](const char* key, uint32_t min, uint64_t max, std::optional<uint32_t>* slot) {
        if (!f.contains(key)) return true;
        uint32_t n = 0;
        if (!c.get_uint(f, key, where, max, &n)) return false;
        if (n < min) return c.fail(where + "." + key, "must be at least " + std::to_string(min));
        *slot = n;
        return true;
    };
    if (f.contains("connect_result")) {
        uint64_t value = 0;
        if (!c.get_code(f, "connect_result", where, 0xFFFFFFFF, "0x0302000b", &value)) return false;
        if (value == 0) return c.fail(where + ".connect_result", "must not be 0");
        out->connect_result = static_cast<uint32_t>(value);
    }
    if (!optional_uint("drop_after_epochs", 0, 1000000000, &out->drop_after_epochs)) return false;
    if (!optional_uint("split_at_epoch", 1, 1000000000, &out->split_at_epoch)) return false;
    if (!c.get_uint(f, "split_pause_ms", where, 600000, &out->split_pause_ms)) return false;
    if (!optional_uint("burst_at_epoch", 1, 1000000000, &out->burst_at_epoch)) return false;
    std::string path = "ok";
    if (!c.get_string(f, "socket_path", where, &path)) return false;
    if (path == "ok") out->socket_path = SocketPathFault::None;
    else if (path == "missing") out->socket_path = SocketPathFault::Missing;
    else if (path == "refused") out->socket_path = SocketPathFault::Refused;
    else if (path == "long") out->socket_path = SocketPathFault::Long;
    else return c.fail(where + ".socket_path", "must be ok, missing, refused or long");
    if (f.contains("sdp_attributes_hex")) {
        std::string hex;
        std::vector<uint8_t> bytes;
        if (!c.get_string(f, "sdp_attributes_hex", where, &hex)) return false;
        if (!parse_hex(hex, &bytes))
            return c.fail(where + ".sdp_attributes_hex", "must be pairs of hex digits such as \"35 00\"");
        out->sdp_attributes = std::move(bytes);
    }
    return true;
}

bool read_generator(Checker& c, const json& g, const std::string& where, Generator* out) {
    if (!c.known_keys(g, where, {"lat", "lon", "speed_knots", "course_deg", "start_time"})) return false;
    if (!c.get_double(g, "lat", where, -89.0, 89.0, &out->lat)) return false;
    if (!c.get_double(g, "lon", where, -180.0, 180.0, &out->lon)) return false;
    if (!c.get_double(g, "speed_knots", where, 0.0, 1000.0, &out->speed_knots)) return false;
    if (!c.get_double(g, "course_deg", where, 0.0, 360.0, &out->course_deg)) return false;
    if (g.contains("start_time")) {
        uint32_t t = 0;
        if (!c.get_uint(g, "start_time", where, 0xFFFFFFFFu, &t)) return false;
        out->start_time = t;
    }
    return true;
}

bool read_nmea_file(Checker& c, const std::string& where, const std::string& base_dir, Device* out) {
    std::string path = out->nmea_file;
    if (!path.empty() && path[0] != '/' && !base_dir.empty()) path = base_dir + "/" + path;
    std::string text, why;
    if (!read_regular_file(path, kMaxNmeaFileSize, &text, &why))
        return c.fail(where + ".nmea_file", "cannot read " + path + ": " + why);
    out->nmea_epochs = nmea_epochs(text);
    if (out->nmea_epochs.empty()) return c.fail(where + ".nmea_file", path + " holds no NMEA sentences");
    return true;
}

bool read_device(Checker& c, const json& d, const std::string& where, const std::string& base_dir, Device* out) {
    if (!c.known_keys(d, where, {"address", "class", "name", "inquiry_text", "inquiry_delay_ms", "name_delay_ms",
                                 "repeat", "search_delay_ms", "connect_delay_ms", "services", "switched_off",
                                 "nmea_file", "generator", "link_faults"}))
        return false;
    if (!d.contains("address") || !d["address"].is_string() || !vgps::bdaddr_from_text(d["address"].get<std::string>(), &out->address))
        return c.fail(where + ".address", "must be a Bluetooth address \"xx:xx:xx:xx:xx:xx\"");
    if (d.contains("class")) {
        uint64_t value = 0;
        if (!c.get_code(d, "class", where, 0xFFFFFF, "0x001f00", &value)) {
            if (c.error.find("at most") != std::string::npos) c.error = where + ".class: must fit in 24 bits";
            return false;
        }
        out->device_class = static_cast<uint32_t>(value);
    }
    if (d.contains("name") && !d["name"].is_null()) {
        if (!d["name"].is_string()) return c.fail(where + ".name", "must be a string or null");
        out->name = d["name"].get<std::string>();
    }
    if (!c.get_string(d, "inquiry_text", where, &out->inquiry_text)) return false;
    if (!c.get_uint(d, "inquiry_delay_ms", where, 3600000, &out->inquiry_delay_ms)) return false;
    if (!c.get_uint(d, "name_delay_ms", where, 3600000, &out->name_delay_ms)) return false;
    if (!c.get_uint(d, "repeat", where, 100, &out->repeat)) return false;
    if (!c.get_uint(d, "search_delay_ms", where, 3600000, &out->search_delay_ms)) return false;
    if (!c.get_uint(d, "connect_delay_ms", where, 3600000, &out->connect_delay_ms)) return false;
    if (!c.get_bool(d, "switched_off", where, &out->switched_off)) return false;
    if (!c.get_string(d, "nmea_file", where, &out->nmea_file)) return false;
    if (!out->nmea_file.empty() && !read_nmea_file(c, where, base_dir, out)) return false;
    if (d.contains("generator") && !read_generator(c, d["generator"], where + ".generator", &out->generator))
        return false;
    if (d.contains("link_faults") && !read_link_faults(c, d["link_faults"], where + ".link_faults", &out->link_faults))
        return false;
    if (d.contains("services")) {
        if (!d["services"].is_array()) return c.fail(where + ".services", "must be an array");
        for (size_t i = 0; i < d["services"].size(); ++i) {
            const json& s = d["services"][i];
            const std::string w = at(where + ".services", i);
            if (!c.known_keys(s, w, {"name", "rfcomm_channel", "service_class"})) return false;
            Service service;
            uint32_t channel = 0;
            uint64_t service_class = service.service_class;
            if (!c.get_string(s, "name", w, &service.name)) return false;
            if (!c.get_uint(s, "rfcomm_channel", w, 30, &channel)) return false;
            if (!c.get_code(s, "service_class", w, 0xFFFF, "0x1101", &service_class)) return false;
            service.rfcomm_channel = static_cast<uint8_t>(channel);
            service.service_class = static_cast<uint16_t>(service_class);
            out->services.push_back(service);
        }
    }
    return true;
}

bool read_faults(Checker& c, const json& f, Faults* out) {
    if (!c.known_keys(f, "faults", {"drop_after_requests", "hang_up_at_request", "delay_response", "malformed_frame"})) return false;
    if (f.contains("drop_after_requests")) {
        uint32_t n = 0;
        if (!c.get_uint(f, "drop_after_requests", "faults", 1000000, &n)) return false;
        out->drop_after_requests = n;
    }
    if (f.contains("hang_up_at_request")) {
        uint32_t n = 0;
        if (!c.get_uint(f, "hang_up_at_request", "faults", 1000000, &n)) return false;
        out->hang_up_at_request = n;
    }
    if (f.contains("delay_response")) {
        if (!f["delay_response"].is_array()) return c.fail("faults.delay_response", "must be an array");
        for (size_t i = 0; i < f["delay_response"].size(); ++i) {
            const json& d = f["delay_response"][i];
            const std::string w = at("faults.delay_response", i);
            if (!c.known_keys(d, w, {"funcid", "ms"})) return false;
            if (!d.contains("funcid") || !d.contains("ms")) return c.fail(w, "needs \"funcid\" and \"ms\"");
            ResponseDelay delay{0, 0};
            if (!c.get_uint(d, "funcid", w, 0xFFFFFFFFu, &delay.funcid)) return false;
            if (!c.get_uint(d, "ms", w, 600000, &delay.ms)) return false;
            out->delay_response.push_back(delay);
        }
    }
    if (f.contains("malformed_frame")) {
        const json& m = f["malformed_frame"];
        if (!c.known_keys(m, "faults.malformed_frame", {"after_requests", "kind"})) return false;
        uint32_t n = 0;
        if (!c.get_uint(m, "after_requests", "faults.malformed_frame", 1000000, &n)) return false;
        out->malformed_after_requests = n;
        std::string kind = "bad_magic";
        if (!c.get_string(m, "kind", "faults.malformed_frame", &kind)) return false;
        if (kind == "bad_magic") out->malformed_kind = MalformedKind::BadMagic;
        else if (kind == "too_small") out->malformed_kind = MalformedKind::TooSmall;
        else if (kind == "too_big") out->malformed_kind = MalformedKind::TooBig;
        else if (kind == "truncated") out->malformed_kind = MalformedKind::Truncated;
        else return c.fail("faults.malformed_frame.kind", "must be bad_magic, too_small, too_big or truncated");
    }
    return true;
}

}  // namespace

bool parse_scenario(const std::string& text, Scenario* out, std::string* error, const std::string& base_dir) {
    SyntaxCheck syntax;
    if (!json::sax_parse(text, &syntax)) {
        *error = syntax_error(text, syntax);
        return false;
    }
    const json doc = json::parse(text, nullptr, false);
    if (doc.is_discarded()) {  // not reached: the walk above found it valid
        *error = "not a JSON document";
        return false;
    }
    Checker c;
    Scenario s;
    bool ok = c.known_keys(doc, "", {"radio", "inquiry", "devices", "faults", "link", "comment"});
    if (ok && doc.contains("radio")) {
        ok = c.known_keys(doc["radio"], "radio", {"powered"}) && c.get_bool(doc["radio"], "powered", "radio", &s.powered);
    }
    if (ok && doc.contains("inquiry")) {
        const json& q = doc["inquiry"];
        std::string ends = "complete";
        ok = c.known_keys(q, "inquiry", {"end_after_ms", "ends_with"}) &&
             c.get_uint(q, "end_after_ms", "inquiry", 3600000, &s.inquiry_end_after_ms) &&
             c.get_string(q, "ends_with", "inquiry", &ends);
        if (ok && ends != "complete" && ends != "canceled")
            ok = c.fail("inquiry.ends_with", "must be \"complete\" or \"canceled\"");
        s.inquiry_canceled = ends == "canceled";
    }
    if (ok && doc.contains("devices")) {
        if (!doc["devices"].is_array()) {
            ok = c.fail("devices", "must be an array");
        } else {
            for (size_t i = 0; ok && i < doc["devices"].size(); ++i) {
                Device d;
                ok = read_device(c, doc["devices"][i], at("devices", i), base_dir, &d);
                if (ok) s.devices.push_back(std::move(d));
            }
        }
    }
    if (ok && doc.contains("faults")) ok = read_faults(c, doc["faults"], &s.faults);
    if (ok && doc.contains("link")) {
        const json& l = doc["link"];
        ok = c.known_keys(l, "link", {"speed", "accept_timeout_ms"}) &&
             c.get_double(l, "speed", "link", 0.0, 1000000.0, &s.speed) &&
             c.get_uint(l, "accept_timeout_ms", "link", 3600000, &s.accept_timeout_ms);
    }
    if (!ok) {
        *error = c.error;
        return false;
    }
    *out = std::move(s);
    return true;
}

bool load_scenario(const std::string& path, Scenario* out, std::string* error) {
    std::string text;
    if (!read_regular_file(path, kMaxScenarioFileSize, &text, error)) return false;
    const auto slash = path.rfind('/');
    return parse_scenario(text, out, error, slash == std::string::npos ? "" : path.substr(0, slash + (slash == 0)));
}

}  // namespace vexod
