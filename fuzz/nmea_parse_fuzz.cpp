// Random bytes, cut into random block sizes, through the stream parser, as
// the data link feeds it, and one byte at a time through a second parser:
// after every block both must hold the same bytes and have applied the same
// packs to the same record. Then the bytes go through each decoder directly,
// and through the number conversions checked against the C library they
// must match.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "nmea/context.h"
#include "nmea/info.h"
#include "nmea/parse.h"
#include "nmea/parser.h"
#include "nmea/tok.h"

namespace {

using namespace vgps;

void ignore_report(const char*, int) {}

void check(bool condition) {
    if (!condition) std::abort();
}

void check_conversions(const char* data, int size) {
    if (size >= NMEA_CONVSTR_BUF) return;
    char text[NMEA_CONVSTR_BUF];
    std::memcpy(text, data, static_cast<size_t>(size));
    text[size] = '\0';
    const double want = size ? std::strtod(text, nullptr) : 0.0;
    const double got = nmea_atof(data, size);
    check(std::isnan(want) ? std::isnan(got) : std::memcmp(&want, &got, sizeof got) == 0);
    for (int radix : {10, 16, 8}) {
        const int want_int = size ? static_cast<int>(std::strtol(text, nullptr, radix)) : 0;
        check(want_int == nmea_atoi(data, size, radix));
    }
}

// Sentence framing one byte at a time, the plain form of nmea_find_tail.
int reference_find_tail(const char* buff, int size, int* res_crc) {
    *res_crc = -1;
    int crc = 0;
    for (int pos = 0; pos < size; ++pos) {
        const char c = buff[pos];
        if (c == '$') {
            if (pos > 0) return pos;
        } else if (c == '*') {
            if (pos + 5 > size || buff[pos + 3] != '\r' || buff[pos + 4] != '\n') return 0;
            *res_crc = nmea_atoi(buff + pos + 1, 2, 16);
            if (*res_crc != crc) *res_crc = -1;
            return pos + 5;
        } else if (pos > 0) {
            crc ^= static_cast<int>(static_cast<signed char>(c));
        }
    }
    return 0;
}

void check_framing(const char* data, int size) {
    for (int start = 0; start < size && start < 64; ++start) {
        int want_crc, got_crc;
        const int want = reference_find_tail(data + start, size - start, &want_crc);
        const int got = nmea_find_tail(data + start, size - start, &got_crc);
        check(want == got && want_crc == got_crc);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // The first two bytes choose the block sizes; the rest is the stream.
    uint32_t state = (uint32_t{data[0]} << 8 | data[1]) * 2654435761u + 1;
    const char* stream = reinterpret_cast<const char*>(data + 2);
    const int stream_size = static_cast<int>(size - 2);

    nmea_property()->error_cb = ignore_report;
    nmea_property()->trace_cb = ignore_report;

    nmeaPARSER parser, bytewise;
    nmeaINFO info, bytewise_info;
    check(nmea_parser_init(&parser) == 1 && nmea_parser_init(&bytewise) == 1);
    nmea_zero_INFO(&info);
    std::memcpy(&bytewise_info, &info, sizeof info);
    int applied = 0, bytewise_applied = 0;
    int pos = 0;
    while (pos < stream_size) {
        state = state * 1103515245u + 12345u;
        const uint32_t pick = (state >> 16) & 0xFF;
        // Mostly small blocks, sometimes the data link's 1023 bytes or more
        // than the buffer holds.
        int block = pick < 200 ? static_cast<int>(pick % 97) + 1
                    : pick < 240 ? 1023
                                 : static_cast<int>((state >> 4) % 3000) + 1;
        if (block > stream_size - pos) block = stream_size - pos;
        applied += nmea_parse(&parser, stream + pos, block, &info);
        check(parser.buff_use >= 0 && parser.buff_use < parser.buff_size);
        check(parser.top_node == nullptr && parser.end_node == nullptr);
        check(info.satinfo.inuse >= 0);
        for (const int end = pos + block; pos < end; ++pos)
            bytewise_applied += nmea_parse(&bytewise, stream + pos, 1, &bytewise_info);
        check(applied == bytewise_applied && parser.buff_use == bytewise.buff_use);
        check(std::memcmp(parser.buffer, bytewise.buffer, static_cast<size_t>(parser.buff_use)) == 0);
        check(std::memcmp(&info, &bytewise_info, sizeof info) == 0);
    }
    nmea_parser_destroy(&bytewise);
    nmea_parse(&parser, stream, 0, &info);
    nmea_parser_destroy(&parser);

    // Every decoder on the whole input, whatever its address field says.
    nmeaGPGGA gga;
    nmeaGPGSA gsa;
    nmeaGPGSV gsv;
    nmeaGPRMC rmc;
    nmeaGPVTG vtg;
    if (nmea_parse_GPGGA(stream, stream_size, &gga)) nmea_GPGGA2info(&gga, &info);
    if (nmea_parse_GPGSA(stream, stream_size, &gsa)) nmea_GPGSA2info(&gsa, &info);
    if (nmea_parse_GPGSV(stream, stream_size, &gsv)) nmea_GPGSV2info(&gsv, &info);
    if (nmea_parse_GPRMC(stream, stream_size, &rmc)) nmea_GPRMC2info(&rmc, &info);
    if (nmea_parse_GPVTG(stream, stream_size, &vtg)) nmea_GPVTG2info(&vtg, &info);
    nmeaTIME t{};
    _nmea_parse_time(stream, stream_size, &t);

    check_framing(stream, stream_size);
    check_conversions(stream, stream_size);
    return 0;
}
