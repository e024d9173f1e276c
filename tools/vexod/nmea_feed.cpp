#include "nmea_feed.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <cstdio>
#include <string_view>

namespace vexod {
namespace {

// The fix time of a sentence, or "" when it carries none.
std::string_view fix_time(std::string_view line) {
    if (line.size() < 7 || (line[0] != '$' && line[0] != '!')) return {};
    std::string_view type = line.substr(3, 3);
    int field = 0;
    if (type == "GGA" || type == "RMC" || type == "GNS" || type == "ZDA") {
        field = 1;
    } else if (type == "GLL") {
        field = 5;
    } else {
        return {};
    }
    size_t start = 0;
    for (int i = 0; i < field; ++i) {
        start = line.find(',', start);
        if (start == std::string_view::npos) return {};
        ++start;
    }
    size_t end = line.find_first_of(",*\r\n", start);
    return line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

// ddmm.mmmm (or dddmm.mmmm) of an absolute angle in degrees. Rounded in
// ten-thousandths of a minute, so that the minutes never read 60.
std::string ndeg(double deg, int degree_digits) {
    const long long units = std::llround(std::fabs(deg) * 600000.0);
    const long long whole = units / 600000, rest = units % 600000;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*lld%02lld.%04lld", degree_digits, whole, rest / 10000, rest % 10000);
    return buf;
}

}  // namespace

std::string nmea_sentence(const std::string& body) {
    uint8_t sum = 0;
    for (char c : body) sum ^= static_cast<uint8_t>(c);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

std::vector<std::string> nmea_epochs(const std::string& capture) {
    std::vector<std::string> epochs;
    std::string current;
    std::string current_time;
    size_t pos = 0;
    while (pos < capture.size()) {
        size_t end = capture.find('\n', pos);
        if (end == std::string::npos) end = capture.size();
        std::string_view line(capture.data() + pos, end - pos);
        pos = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
        if (line.empty() || line[0] == '#') continue;
        std::string_view t = fix_time(line);
        if (!t.empty() && t != current_time) {
            if (!current_time.empty() && !current.empty()) {
                epochs.push_back(std::move(current));
                current.clear();
            }
            current_time = t;
        }
        current.append(line);
        current.append("\r\n");
    }
    if (!current.empty()) epochs.push_back(std::move(current));
    return epochs;
}

NmeaGenerator::NmeaGenerator(double lat_deg, double lon_deg, std::time_t start, double speed_knots,
                             double course_deg)
    : lat_(lat_deg), lon_(lon_deg), time_(start), speed_knots_(speed_knots), course_deg_(course_deg) {}

std::string NmeaGenerator::next_epoch() {
    std::tm utc{};
    gmtime_r(&time_, &utc);
    char hms[32], dmy[32];
    std::snprintf(hms, sizeof hms, "%02d%02d%02d.00", utc.tm_hour, utc.tm_min, utc.tm_sec);
    std::snprintf(dmy, sizeof dmy, "%02d%02d%02d", utc.tm_mday, utc.tm_mon + 1, utc.tm_year % 100);
    const std::string lat = ndeg(lat_, 2) + (lat_ < 0 ? ",S" : ",N");
    const std::string lon = ndeg(lon_, 3) + (lon_ < 0 ? ",W" : ",E");
    char buf[160];
    std::string out;

    std::snprintf(buf, sizeof buf, "GPGGA,%s,%s,%s,1,08,0.9,545.4,M,46.9,M,,", hms, lat.c_str(), lon.c_str());
    out += nmea_sentence(buf);
    out += nmea_sentence("GPGSA,A,3,01,02,03,04,05,06,07,08,,,,,1.8,0.9,1.5");
    for (int msg = 1; msg <= 3; ++msg) {
        std::string gsv = "GPGSV,3," + std::to_string(msg) + ",12";
        for (int i = 0; i < 4; ++i) {
            int prn = (msg - 1) * 4 + i + 1;
            std::snprintf(buf, sizeof buf, ",%02d,%02d,%03d,%02d", prn, 10 + prn * 5, prn * 30 % 360, 20 + prn);
            gsv += buf;
        }
        out += nmea_sentence(gsv);
    }
    std::snprintf(buf, sizeof buf, "GPRMC,%s,A,%s,%s,%.1f,%.1f,%s,,", hms, lat.c_str(), lon.c_str(), speed_knots_,
                  course_deg_, dmy);
    out += nmea_sentence(buf);
    std::snprintf(buf, sizeof buf, "GPVTG,%.1f,T,,M,%.1f,N,%.1f,K", course_deg_, speed_knots_, speed_knots_ * 1.852);
    out += nmea_sentence(buf);

    // One second along the course; a knot is one minute of latitude an hour.
    const double distance_deg = speed_knots_ / 3600.0 / 60.0;
    const double course = course_deg_ * std::numbers::pi / 180.0;
    lat_ += distance_deg * std::cos(course);
    lon_ += distance_deg * std::sin(course) / std::max(0.01, std::cos(lat_ * std::numbers::pi / 180.0));
    if (std::fabs(lat_) > 90.0) {
        // Over the pole: down the meridian on the other side, heading the
        // other way.
        lat_ = std::copysign(180.0, lat_) - lat_;
        lon_ += 180.0;
        course_deg_ = std::fmod(course_deg_ + 180.0, 360.0);
    }
    lon_ = std::remainder(lon_, 360.0);  // -180 to 180
    ++time_;
    return out;
}

}  // namespace vexod
