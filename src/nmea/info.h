// The decoded GPS state: nmeaINFO, its satellite records and the pack type
// codes that double as the bits of nmeaINFO::smask.
#pragma once

#include "nmea/time.h"

namespace vgps {

// Pack type codes; the same values are the bits of nmeaINFO::smask.
enum nmeaPACKTYPE {
    NMEA_NOPACK = 0,  // none, or an address field other than the five below
    NMEA_GPGGA = 1,
    NMEA_GPGSA = 2,
    NMEA_GPGSV = 4,
    NMEA_GPRMC = 8,
    NMEA_GPVTG = 16,
};

constexpr int NMEA_MAXSAT = 12;    // entries of the satellite table
constexpr int NMEA_SATINPACK = 4;  // satellites one GSV sentence carries
constexpr double NMEA_TUD_KNOTS = 1.852;  // km/h per knot

struct nmeaSATELLITE {
    int id;       // satellite number (PRN)
    int in_use;   // 1 once a GSA sentence listed it as used, else 0
    int elv;      // elevation, degrees
    int azimuth;  // azimuth from true north, degrees
    int sig;      // signal-to-noise ratio, dB
};

struct nmeaSATINFO {
    int inuse;   // matches found by the last GSA sentence
    int inview;  // satellites in view, as the last accepted GSV said
    nmeaSATELLITE sat[NMEA_MAXSAT];  // entry 4(k-1)+i: satellite i of GSV sentence k
};

struct nmeaINFO {
    int smask;           // pack types applied since the last reset (nmeaPACKTYPE bits)
    nmeaTIME utc;        // UTC of the last position
    int sig;             // GGA quality indicator as received; 0 after reset
    int fix;             // 1 no fix, 2 2D, 3 3D; 1 after reset
    double PDOP;
    double HDOP;
    double VDOP;
    double lat;          // ddmm.mmmm, negative for south
    double lon;          // dddmm.mmmm, negative for west
    double elv;          // altitude above mean sea level as GGA gives it
    double speed;        // km/h over ground
    double direction;    // track over ground, degrees true
    double declination;  // magnetic track, degrees, as VTG gives it
    nmeaSATINFO satinfo;
};

// Zeroes the record, sets utc to the current time, sig to 0 and fix to 1.
void nmea_zero_INFO(nmeaINFO* info);

// Converts a coordinate of the ddmm.mmmm form to decimal degrees: the whole
// part of value / 100 is the degrees and the rest, times 100, the minutes;
// both parts keep the sign of the value (4807.038 gives 48.1173,
// -4807.038 gives -48.1173).
double nmea_ndeg2degree(double val);

}  // namespace vgps
