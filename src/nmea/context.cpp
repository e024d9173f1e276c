#include "nmea/context.h"

#include <cstdarg>
#include <cstdio>

namespace vgps {
namespace {

nmeaPROPERTY prop = {nullptr, nullptr, NMEA_DEF_PARSEBUFF};

}  // namespace

nmeaPROPERTY* nmea_property() { return &prop; }

void nmea_trace_buff(const char* buff, int buff_size) {
    nmeaTraceFunc func = prop.trace_cb;
    if (func && buff_size) func(buff, buff_size);
}

void nmea_error(const char* str, ...) {
    nmeaErrorFunc func = prop.error_cb;
    if (!func) return;

    char buff[NMEA_ERROR_BUFF];
    va_list arg_list;
    va_start(arg_list, str);
    // At most NMEA_ERROR_BUFF - 2 characters and the terminating zero.
    int size = std::vsnprintf(buff, NMEA_ERROR_BUFF - 1, str, arg_list);
    va_end(arg_list);
    if (size > NMEA_ERROR_BUFF - 2) size = NMEA_ERROR_BUFF - 2;
    if (size > 0) func(buff, size);
}

}  // namespace vgps
