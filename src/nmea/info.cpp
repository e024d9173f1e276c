#include "nmea/info.h"

#include <cmath>
#include <cstring>

#include "platform/fatal_assert.h"

namespace vgps {

void nmea_zero_INFO(nmeaINFO* info) {
    VGPS_FATAL_ASSERT(info);
    std::memset(info, 0, sizeof(nmeaINFO));
    nmea_time_now(&info->utc);
    info->sig = 0;
    info->fix = 1;
}

double nmea_ndeg2degree(double val) {
    double degrees;
    double fraction = std::modf(val / 100.0, &degrees);
    return degrees + (fraction * 100.0) / 60.0;
}

}  // namespace vgps
