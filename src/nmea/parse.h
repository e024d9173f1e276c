// Sentence framing, type recognition, the five sentence records (packs),
// their decoders and the operations that apply a pack to an nmeaINFO.
#pragma once

#include "nmea/info.h"
#include "nmea/time.h"

namespace vgps {

// A letter field is one byte, 0 when the sentence left it empty.

struct nmeaGPGGA {  // fix data
    nmeaTIME utc;  // only hour, min, sec, hsec are filled
    double lat;    // ddmm.mmmm
    char lat_hemi;  // N or S
    double lon;    // dddmm.mmmm
    char lon_hemi;  // E or W
    int sig;       // quality indicator
    int sats_used;
    double HDOP;
    double elv;
    char elv_unit;
    double geoid_sep;
    char geoid_sep_unit;
    double dgps_age;   // seconds
    int dgps_station;
};

struct nmeaGPGSA {  // satellites used and dilution
    char fix_select;  // A or M
    int fix;          // 1, 2 or 3
    int sat_ids[NMEA_MAXSAT];  // 0 for an empty slot
    double PDOP;
    double HDOP;
    double VDOP;
};

struct nmeaGPGSV {  // satellites in view, one sentence of a cycle
    int msg_count;
    int msg_index;  // from 1
    int inview;
    nmeaSATELLITE sat[NMEA_SATINPACK];  // in_use stays 0
};

struct nmeaGPRMC {  // recommended minimum data
    nmeaTIME utc;  // all seven fields
    char status;   // A valid, V warning
    double lat;
    char lat_hemi;
    double lon;
    char lon_hemi;
    double speed_knots;
    double direction;    // degrees true
    double declination;  // magnetic variation, degrees
    char declination_ew;
    char mode;  // 0 when the sentence has none
};

struct nmeaGPVTG {  // track and speed
    double track_true;
    char track_true_unit;  // must be T
    double track_mag;
    char track_mag_unit;  // must be M
    double speed_knots;
    char speed_knots_unit;  // must be N
    double speed_kmh;
    char speed_kmh_unit;  // must be K
};

// Framing. Scans one sentence from the start of buff: returns 0 when more
// bytes are needed, otherwise a length; *res_crc is then 0 or more for a
// complete sentence with a correct checksum, -1 for bytes to skip (noise
// before a "$" or a sentence with a wrong checksum).
int nmea_find_tail(const char* buff, int buff_sz, int* res_crc);

// Pack type of the address field that starts at buff (just after the "$").
int nmea_pack_type(const char* buff, int buff_sz);

// "hhmmss" or "hhmmss.d" to "hhmmss.ddd": 0 on success, -1 on failure.
int _nmea_parse_time(const char* buff, int buff_sz, nmeaTIME* res);

// Decoders: the sentence runs from its "$" through its CR LF. 1 accepted, 0
// rejected (reported through nmea_error).
int nmea_parse_GPGGA(const char* buff, int buff_sz, nmeaGPGGA* pack);
int nmea_parse_GPGSA(const char* buff, int buff_sz, nmeaGPGSA* pack);
int nmea_parse_GPGSV(const char* buff, int buff_sz, nmeaGPGSV* pack);
int nmea_parse_GPRMC(const char* buff, int buff_sz, nmeaGPRMC* pack);
int nmea_parse_GPVTG(const char* buff, int buff_sz, nmeaGPVTG* pack);

// Apply operations: each writes only its own fields of the record.
void nmea_GPGGA2info(const nmeaGPGGA* pack, nmeaINFO* info);
void nmea_GPGSA2info(const nmeaGPGSA* pack, nmeaINFO* info);
void nmea_GPGSV2info(const nmeaGPGSV* pack, nmeaINFO* info);
void nmea_GPRMC2info(const nmeaGPRMC* pack, nmeaINFO* info);
void nmea_GPVTG2info(const nmeaGPVTG* pack, nmeaINFO* info);

}  // namespace vgps
