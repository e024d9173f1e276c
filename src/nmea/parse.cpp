#include "nmea/parse.h"

#include <cstdint>
#include <cstring>

#include "nmea/checksum_lanes.h"
#include "nmea/context.h"
#include "nmea/tok.h"
#include "platform/fatal_assert.h"

namespace vgps {
namespace {

// Satellites a GSV sentence must carry: 4, or what is left of the cycle in
// its last sentence. 64-bit: the indices come straight from the sentence.
int64_t gsv_sats_in_sentence(int msg_index, int inview) {
    if (int64_t{4} * msg_index <= inview) return NMEA_SATINPACK;
    return int64_t{inview} - int64_t{4} * (int64_t{msg_index} - 1);
}

inline int text_length(const char* text) { return static_cast<int>(std::strlen(text)); }

using nmea_lanes::fold_checksum;
using nmea_lanes::has_byte;

}  // namespace

int nmea_find_tail(const char* buff, int buff_sz, int* res_crc) {
    VGPS_FATAL_ASSERT(buff && res_crc);
    *res_crc = -1;
    // Bytes enter the checksum sign-extended, so an odd number of bytes of
    // 0x80 or above sets the high bits and no "*hh" matches. The exclusive-or
    // of sign-extended bytes is the exclusive-or of the bytes, sign-extended
    // once at the end: the bytes are gathered unsigned, eight at a time where
    // neither "$" nor "*" is among them.
    uint64_t crc = 0;
    int pos = 0;
    while (pos < buff_sz) {
        if (pos > 0 && buff_sz - pos >= 8) {
            uint64_t word;
            std::memcpy(&word, buff + pos, 8);
            if (!has_byte(word, '$') && !has_byte(word, '*')) {
                crc ^= word;
                pos += 8;
                continue;
            }
        }
        const char c = buff[pos];
        if (c == '$') {
            if (pos > 0) return pos;  // everything before this "$" is skipped
        } else if (c == '*') {
            if (buff_sz - pos < 5 || buff[pos + 3] != '\r' || buff[pos + 4] != '\n') return 0;
            *res_crc = nmea_atoi(buff + pos + 1, 2, 16);
            if (*res_crc != fold_checksum(crc)) *res_crc = -1;
            return pos + 5;
        } else if (pos > 0) {
            crc ^= static_cast<unsigned char>(c);
        }
        ++pos;
    }
    return 0;
}

int nmea_pack_type(const char* buff, int buff_sz) {
    VGPS_FATAL_ASSERT(buff);
    static const char* const names[] = {"GPGGA", "GPGSA", "GPGSV", "GPRMC", "GPVTG"};
    static const int types[] = {NMEA_GPGGA, NMEA_GPGSA, NMEA_GPGSV, NMEA_GPRMC, NMEA_GPVTG};
    if (buff_sz < 5) return NMEA_NOPACK;
    for (int i = 0; i < 5; ++i) {
        if (std::memcmp(buff, names[i], 5) == 0) return types[i];
    }
    return NMEA_NOPACK;
}

int _nmea_parse_time(const char* buff, int buff_sz, nmeaTIME* res) {
    VGPS_FATAL_ASSERT(buff && res);
    int success = 0;
    switch (buff_sz) {
    case 6:
        success = 3 == nmea_scanf(buff, buff_sz, "%2d%2d%2d", &res->hour, &res->min, &res->sec);
        break;
    case 8:
    case 9:
    case 10:
        success = 4 == nmea_scanf(buff, buff_sz, "%2d%2d%2d.%d", &res->hour, &res->min,
                                  &res->sec, &res->hsec);
        break;
    default:
        nmea_error("Parse of time error (format error)!");
        success = 0;
        break;
    }
    return success ? 0 : -1;
}

int nmea_parse_GPGGA(const char* buff, int buff_sz, nmeaGPGGA* pack) {
    VGPS_FATAL_ASSERT(buff && pack);
    char time_buff[NMEA_CONVSTR_BUF];
    time_buff[0] = '\0';
    std::memset(pack, 0, sizeof(nmeaGPGGA));
    nmea_trace_buff(buff, buff_sz);

    if (14 != nmea_scanf(buff, buff_sz, "$GPGGA,%s,%f,%C,%f,%C,%d,%d,%f,%f,%C,%f,%C,%f,%d*",
                         time_buff, &pack->lat, &pack->lat_hemi, &pack->lon, &pack->lon_hemi,
                         &pack->sig, &pack->sats_used, &pack->HDOP, &pack->elv,
                         &pack->elv_unit, &pack->geoid_sep, &pack->geoid_sep_unit,
                         &pack->dgps_age, &pack->dgps_station)) {
        nmea_error("GPGGA parse error!");
        return 0;
    }
    if (0 != _nmea_parse_time(time_buff, text_length(time_buff), &pack->utc)) {
        nmea_error("GPGGA time parse error!");
        return 0;
    }
    return 1;
}

int nmea_parse_GPGSA(const char* buff, int buff_sz, nmeaGPGSA* pack) {
    VGPS_FATAL_ASSERT(buff && pack);
    std::memset(pack, 0, sizeof(nmeaGPGSA));
    nmea_trace_buff(buff, buff_sz);

    int* ids = pack->sat_ids;
    if (17 != nmea_scanf(buff, buff_sz,
                         "$GPGSA,%C,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%f,%f,%f*",
                         &pack->fix_select, &pack->fix, &ids[0], &ids[1], &ids[2], &ids[3],
                         &ids[4], &ids[5], &ids[6], &ids[7], &ids[8], &ids[9], &ids[10],
                         &ids[11], &pack->PDOP, &pack->HDOP, &pack->VDOP)) {
        nmea_error("GPGSA parse error!");
        return 0;
    }
    return 1;
}

int nmea_parse_GPGSV(const char* buff, int buff_sz, nmeaGPGSV* pack) {
    VGPS_FATAL_ASSERT(buff && pack);
    std::memset(pack, 0, sizeof(nmeaGPGSV));
    nmea_trace_buff(buff, buff_sz);

    nmeaSATELLITE* s = pack->sat;
    const int nsat = nmea_scanf(
        buff, buff_sz, "$GPGSV,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d*",
        &pack->msg_count, &pack->msg_index, &pack->inview, &s[0].id, &s[0].elv,
        &s[0].azimuth, &s[0].sig, &s[1].id, &s[1].elv, &s[1].azimuth, &s[1].sig, &s[2].id,
        &s[2].elv, &s[2].azimuth, &s[2].sig, &s[3].id, &s[3].elv, &s[3].azimuth, &s[3].sig);
    const int64_t nsen = gsv_sats_in_sentence(pack->msg_index, pack->inview);
    if (nsen * 4 + 3 > nsat || nsat > 19) {
        nmea_error("GPGSV parse error!");
        return 0;
    }
    return 1;
}

int nmea_parse_GPRMC(const char* buff, int buff_sz, nmeaGPRMC* pack) {
    VGPS_FATAL_ASSERT(buff && pack);
    char time_buff[NMEA_CONVSTR_BUF];
    time_buff[0] = '\0';
    std::memset(pack, 0, sizeof(nmeaGPRMC));
    nmea_trace_buff(buff, buff_sz);

    const int nsen = nmea_scanf(
        buff, buff_sz, "$GPRMC,%s,%C,%f,%C,%f,%C,%f,%f,%2d%2d%2d,%f,%C,%C*", time_buff,
        &pack->status, &pack->lat, &pack->lat_hemi, &pack->lon, &pack->lon_hemi,
        &pack->speed_knots, &pack->direction, &pack->utc.day, &pack->utc.mon, &pack->utc.year,
        &pack->declination, &pack->declination_ew, &pack->mode);
    if (nsen != 13 && nsen != 14) {
        nmea_error("GPRMC parse error!");
        return 0;
    }
    if (0 != _nmea_parse_time(time_buff, text_length(time_buff), &pack->utc)) {
        nmea_error("GPRMC time parse error!");
        return 0;
    }
    if (pack->utc.year < 90) pack->utc.year += 100;  // 00..89 are 2000..2089
    pack->utc.mon -= 1;
    return 1;
}

int nmea_parse_GPVTG(const char* buff, int buff_sz, nmeaGPVTG* pack) {
    VGPS_FATAL_ASSERT(buff && pack);
    std::memset(pack, 0, sizeof(nmeaGPVTG));
    nmea_trace_buff(buff, buff_sz);

    if (8 != nmea_scanf(buff, buff_sz, "$GPVTG,%f,%C,%f,%C,%f,%C,%f,%C*", &pack->track_true,
                        &pack->track_true_unit, &pack->track_mag, &pack->track_mag_unit,
                        &pack->speed_knots, &pack->speed_knots_unit, &pack->speed_kmh,
                        &pack->speed_kmh_unit)) {
        nmea_error("GPVTG parse error!");
        return 0;
    }
    if (pack->track_true_unit != 'T' || pack->track_mag_unit != 'M' ||
        pack->speed_knots_unit != 'N' || pack->speed_kmh_unit != 'K') {
        nmea_error("GPVTG parse error (format error)!");
        return 0;
    }
    return 1;
}

void nmea_GPGGA2info(const nmeaGPGGA* pack, nmeaINFO* info) {
    VGPS_FATAL_ASSERT(pack && info);
    info->utc.hour = pack->utc.hour;
    info->utc.min = pack->utc.min;
    info->utc.sec = pack->utc.sec;
    info->utc.hsec = pack->utc.hsec;
    info->sig = pack->sig;
    info->HDOP = pack->HDOP;
    info->elv = pack->elv;
    info->lat = pack->lat_hemi == 'N' ? pack->lat : -pack->lat;
    info->lon = pack->lon_hemi == 'E' ? pack->lon : -pack->lon;
    info->smask |= NMEA_GPGGA;
}

void nmea_GPGSA2info(const nmeaGPGSA* pack, nmeaINFO* info) {
    VGPS_FATAL_ASSERT(pack && info);
    info->fix = pack->fix;
    info->PDOP = pack->PDOP;
    info->HDOP = pack->HDOP;
    info->VDOP = pack->VDOP;

    int in_table = info->satinfo.inview;
    if (in_table > NMEA_MAXSAT) in_table = NMEA_MAXSAT;
    int matches = 0;
    for (int i = 0; i < NMEA_MAXSAT; ++i) {
        if (!pack->sat_ids[i]) continue;
        for (int j = 0; j < in_table; ++j) {
            if (pack->sat_ids[i] == info->satinfo.sat[j].id) {
                info->satinfo.sat[j].in_use = 1;
                ++matches;
            }
        }
    }
    info->satinfo.inuse = matches;
    info->smask |= NMEA_GPGSA;
}

void nmea_GPGSV2info(const nmeaGPGSV* pack, nmeaINFO* info) {
    VGPS_FATAL_ASSERT(pack && info);
    if (pack->msg_index > pack->msg_count ||
        int64_t{pack->msg_index} * NMEA_SATINPACK > NMEA_MAXSAT)
        return;
    const int msg_index = pack->msg_index < 1 ? 1 : pack->msg_index;

    int64_t nsat = gsv_sats_in_sentence(msg_index, pack->inview);
    if (nsat < 0) nsat = 0;
    info->satinfo.inview = pack->inview;
    nmeaSATELLITE* table = info->satinfo.sat + NMEA_SATINPACK * (msg_index - 1);
    for (int64_t i = 0; i < nsat; ++i) {
        table[i].id = pack->sat[i].id;
        table[i].elv = pack->sat[i].elv;
        table[i].azimuth = pack->sat[i].azimuth;
        table[i].sig = pack->sat[i].sig;
    }
    info->smask |= NMEA_GPGSV;
}

void nmea_GPRMC2info(const nmeaGPRMC* pack, nmeaINFO* info) {
    VGPS_FATAL_ASSERT(pack && info);
    if (pack->status == 'A') {
        if (info->sig == 0) info->sig = 2;
        if (info->fix == 1) info->fix = 2;
    } else if (pack->status == 'V') {
        info->sig = 0;
        info->fix = 1;
    }
    info->utc = pack->utc;
    info->lat = pack->lat_hemi == 'N' ? pack->lat : -pack->lat;
    info->lon = pack->lon_hemi == 'E' ? pack->lon : -pack->lon;
    info->speed = pack->speed_knots * NMEA_TUD_KNOTS;
    info->direction = pack->direction;
    info->smask |= NMEA_GPRMC;
}

void nmea_GPVTG2info(const nmeaGPVTG* pack, nmeaINFO* info) {
    VGPS_FATAL_ASSERT(pack && info);
    info->direction = pack->track_true;
    info->declination = pack->track_mag;
    info->speed = pack->speed_kmh;
    info->smask |= NMEA_GPVTG;
}

}  // namespace vgps
