// Helpers for the NMEA tests: sentences, records, captures, and a recorder
// of the error and trace reports.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "nmea/context.h"
#include "nmea/info.h"
#include "support/temp_dir.h"

namespace vgps::test {

using Strings = std::vector<std::string>;

// "$" + body + "*" + checksum + line end, the checksum computed as a
// receiver does (exclusive-or of the body's bytes).
inline std::string nmea_sentence(const std::string& body, const char* line_end = "\r\n") {
    unsigned crc = 0;
    for (unsigned char c : body) crc ^= c;
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X", crc);
    return "$" + body + tail + line_end;
}

// A record reset at `when` (default 2010-12-06 00:00:00 UTC) after being
// filled with garbage, so that a field the reset misses shows.
inline nmeaINFO fresh_info(std::time_t when = 1291593600) {
    nmeaINFO info;
    std::memset(&info, 0x5a, sizeof info);
    nmea_time_set_clock(&when);
    nmea_zero_INFO(&info);
    nmea_time_set_clock(nullptr);
    return info;
}

inline const std::string kNmeaData = std::string(VGPS_TEST_DATA_DIR) + "/nmea/";

// The lines of text without their CR LF or LF.
inline Strings lines_of(const std::string& text) {
    Strings lines;
    for (size_t pos = 0, eol; pos < text.size(); pos = eol + 1) {
        eol = std::min(text.find('\n', pos), text.size());
        lines.push_back(text.substr(pos, eol - pos));
        if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
    }
    return lines;
}

// The data lines of the receiver capture NAME.log, without the "#" comment
// lines and empty lines, each ending in CR LF as the receiver sent it.
inline Strings capture_lines(const std::string& name) {
    Strings out;
    for (const std::string& line : lines_of(read_file(kNmeaData + name + ".log")))
        if (!line.empty() && line[0] != '#') out.push_back(line + "\r\n");
    return out;
}

// About `size` bytes of what a receiver's link carries: the sentences in a
// random order, mostly whole, now and then with a wrong byte, cut short,
// replaced by noise or by a run that ends no sentence (sometimes enough to
// fill the parser's buffer), with a line feed alone or with a "*" and
// checksum but no line end (both stall the scan until the buffer fills).
inline std::string faulty_stream(const Strings& sentences, size_t size, std::mt19937& rng) {
    auto below = [&rng](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
    const std::string noise_bytes = "$\r\n,.0123456789ABCDEFGPx\xe9";
    std::string stream;
    while (stream.size() < size) {
        std::string s = sentences[below(sentences.size())];
        const size_t r = below(200);
        if (r < 8) {  // a wrong byte
            s[below(s.size())] ^= static_cast<char>(1 + below(127));
        } else if (r < 16) {  // cut short
            s.resize(below(s.size()));
        } else if (r < 24) {  // noise
            s.clear();
            for (size_t n = 1 + below(40); n; --n) s += noise_bytes[below(noise_bytes.size())];
        } else if (r < 26) {  // a run that ends no sentence
            s = std::string(below(1500), 'x');
        } else if (r == 26) {  // line feed alone
            s.erase(s.size() - 2, 1);
        } else if (r == 27) {  // a "*" and checksum without the line end
            s.resize(s.size() - 2);
        }
        stream += s;
    }
    return stream;
}

// Records every error and trace report while it exists (one at a time).
class NmeaReports {
public:
    NmeaReports() : saved_(*nmea_property()) {
        current_ = this;
        nmea_property()->error_cb = [](const char* s, int n) { current_->errors.emplace_back(s, n); };
        nmea_property()->trace_cb = [](const char* s, int n) { current_->traces.emplace_back(s, n); };
    }
    ~NmeaReports() { *nmea_property() = saved_; }
    NmeaReports(const NmeaReports&) = delete;
    NmeaReports& operator=(const NmeaReports&) = delete;

    Strings errors, traces;

private:
    static inline NmeaReports* current_ = nullptr;
    nmeaPROPERTY saved_;
};

}  // namespace vgps::test
