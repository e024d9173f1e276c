#include "nmea/time.h"

#include "platform/fatal_assert.h"

namespace vgps {
namespace {

bool clock_fixed = false;
std::time_t fixed_clock = 0;

}  // namespace

void nmea_time_set_clock(const std::time_t* fixed) {
    clock_fixed = fixed != nullptr;
    fixed_clock = fixed ? *fixed : 0;
}

void nmea_time_now(nmeaTIME* stm) {
    VGPS_FATAL_ASSERT(stm);
    std::time_t lt = clock_fixed ? fixed_clock : std::time(nullptr);
    std::tm tt{};
    if (!gmtime_r(&lt, &tt)) tt = std::tm{};
    stm->year = tt.tm_year;
    stm->mon = tt.tm_mon;
    stm->day = tt.tm_mday;
    stm->hour = tt.tm_hour;
    stm->min = tt.tm_min;
    stm->sec = tt.tm_sec;
    stm->hsec = 0;
}

}  // namespace vgps
