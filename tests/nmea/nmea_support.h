// Helpers for the NMEA tests: sentences with their checksum, the receiver
// captures of tests/data/nmea, and a recorder of the error and trace reports.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "nmea/context.h"
#include "support/temp_dir.h"

namespace vgps::test {

// "$" + body + "*" + checksum + CR LF, the checksum computed as a receiver
// does (exclusive-or of the body's bytes).
inline std::string nmea_sentence(const std::string& body, const char* line_end = "\r\n") {
    unsigned crc = 0;
    for (unsigned char c : body) crc ^= c;
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X", crc & 0xFF);
    return "$" + body + tail + line_end;
}

// The data lines of tests/data/nmea/NAME.log, without the "#" comment lines
// and empty lines, each ending in CR LF as the receiver sent it.
inline std::vector<std::string> capture_lines(const std::string& name) {
    const std::string raw = read_file(std::string(VGPS_TEST_DATA_DIR) + "/nmea/" + name + ".log");
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < raw.size()) {
        size_t eol = raw.find('\n', pos);
        if (eol == std::string::npos) eol = raw.size();
        std::string line = raw.substr(pos, eol - pos);
        pos = eol + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        lines.push_back(line + "\r\n");
    }
    return lines;
}

inline std::string capture_stream(const std::string& name) {
    std::string out;
    for (const std::string& line : capture_lines(name)) out += line;
    return out;
}

// Records every error and trace report while it exists (one at a time).
class NmeaReports {
public:
    NmeaReports() {
        current_ = this;
        saved_ = *nmea_property();
        nmea_property()->error_cb = [](const char* s, int n) { current_->errors.emplace_back(s, n); };
        nmea_property()->trace_cb = [](const char* s, int n) { current_->traces.emplace_back(s, n); };
    }
    ~NmeaReports() {
        *nmea_property() = saved_;
        current_ = nullptr;
    }
    NmeaReports(const NmeaReports&) = delete;
    NmeaReports& operator=(const NmeaReports&) = delete;

    std::vector<std::string> errors;
    std::vector<std::string> traces;

private:
    static inline NmeaReports* current_ = nullptr;
    nmeaPROPERTY saved_;
};

}  // namespace vgps::test
