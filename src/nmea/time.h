// UTC date and time as the NMEA records hold it, and the clock that
// nmea_zero_INFO reads.
#pragma once

#include <ctime>

namespace vgps {

struct nmeaTIME {
    int year;  // years since 1900 (2011 is 111)
    int mon;   // month, 0 for January to 11
    int day;   // day of the month, 1 to 31
    int hour;  // 0 to 23
    int min;   // 0 to 59
    int sec;   // 0 to 59
    int hsec;  // digits after the decimal point of the seconds, as a whole number
};

// Stores the current UTC time (hsec 0). Fields are 0 when the clock value
// cannot be broken down.
void nmea_time_now(nmeaTIME* stm);

// Makes nmea_time_now read *fixed (seconds since 1970, UTC) instead of the
// system clock; null goes back to the system clock. For tools and tests
// that need reproducible output; not meant for concurrent use.
void nmea_time_set_clock(const std::time_t* fixed);

}  // namespace vgps
