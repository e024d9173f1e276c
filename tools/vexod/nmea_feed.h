// What the simulated receiver sends: a recorded capture cut into epochs (the
// sentences of one fix), or a generated stream around a start position.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace vexod {

// "$" + body + "*HH\r\n", with the XOR checksum of body.
std::string nmea_sentence(const std::string& body);

// Cuts a capture into epochs. Lines starting with '#' and blank lines are
// dropped; every line is sent with CR LF, whatever the file used. A new
// epoch starts where a sentence carries a fix time other than the current
// epoch's (GGA, RMC, GLL, GNS, ZDA).
std::vector<std::string> nmea_epochs(const std::string& capture);

// A receiver moving on a straight course at constant speed: each epoch is
// GGA, GSA, three GSV, RMC and VTG, one second apart, 12 satellites, valid
// checksums. It stays on the globe: over a pole it goes on down the other
// side with the course turned round, and longitudes wrap at 180 degrees.
class NmeaGenerator {
public:
    NmeaGenerator(double lat_deg, double lon_deg, std::time_t start, double speed_knots = 5.0,
                  double course_deg = 45.0);
    std::string next_epoch();

private:
    double lat_;
    double lon_;
    std::time_t time_;
    double speed_knots_;
    double course_deg_;
};

}  // namespace vexod
