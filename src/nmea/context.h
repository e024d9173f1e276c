// Process-wide settings of the NMEA modules and the two report operations
// through which every NMEA module reports errors and traces sentences.
#pragma once

namespace vgps {

// Receives a text and its length (not zero-terminated for traces).
using nmeaTraceFunc = void (*)(const char* str, int str_size);
using nmeaErrorFunc = void (*)(const char* str, int str_size);

constexpr int NMEA_DEF_PARSEBUFF = 1024;  // default parser buffer size
constexpr int NMEA_MIN_PARSEBUFF = 256;   // smallest parser buffer ever allocated
constexpr int NMEA_ERROR_BUFF = 1024;     // room for one formatted error text

struct nmeaPROPERTY {
    nmeaTraceFunc trace_cb;  // every sentence before it is decoded; null: none
    nmeaErrorFunc error_cb;  // every error text; null: none
    int parser_buff_size;    // requested size of a parser buffer
};

// The one settings record of the process (no callbacks, 1024-byte buffers).
nmeaPROPERTY* nmea_property();

// Hands the bytes to trace_cb when one is installed and the size is not 0.
void nmea_trace_buff(const char* buff, int buff_size);

// Formats an error text (at most 1022 characters) and hands it to error_cb;
// does nothing, not even the formatting, when no callback is installed.
void nmea_error(const char* str, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vgps
