// The GPS data link of a connected device: the local socket over which the
// daemon hands on the receiver's serial stream, the NMEA parser and decoded
// record fed from it, and the position notification posted after every
// block read. Owned by DaemonManager, which decides when a link opens and
// what a failure means for its state and its delegate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "nmea/info.h"
#include "nmea/parser.h"
#include "platform/notification_center.h"
#include "platform/run_loop.h"
#include "platform/socket.h"

namespace vgps {

// How long a connect may take, to the daemon and to a data socket alike.
inline constexpr double kConnectTimeoutSeconds = 5.0;

// The position notification, posted after every block read from the data
// socket, and its four user-info entries.
inline constexpr const char* kPositionNotificationName = "com.quiloe.vexod-gps-trial-nmea";
inline constexpr const char* kPositionUTCKey = "UTC";  // text, see position_utc_text
inline constexpr const char* kPositionFixKey = "FIX";  // integer: 1 no fix, 2 2D, 3 3D
inline constexpr const char* kPositionLatKey = "LAT";  // single precision, ddmm.mmmm, negative south
inline constexpr const char* kPositionLonKey = "LON";  // single precision, dddmm.mmmm, negative west

// Longest data socket path accepted, its terminating zero included: the path
// field of a local socket address on the daemon's platform. A longer path is
// refused, never cut short.
inline constexpr size_t kMaxDataSocketPath = 104;

// Largest block read from the data socket: one byte of the buffer is kept
// for the terminating zero.
inline constexpr int kNmeaBlockSize = 1023;
// Most blocks one read callback takes. A real receiver sends a few hundred
// bytes a second, so the socket is always drained at once; a peer that
// writes faster than the blocks are decoded cannot keep the main thread in
// one callback for ever: the rest waits for the next turn of the run loop.
inline constexpr int kNmeaMaxBlocksPerCallback = 64;

// "YYYY/MM/DD hh:mm:ss.hh" of an nmeaTIME (year + 1900, month + 1; the
// hundredths as two digits at least, so hsec 7 gives ".07").
std::string position_utc_text(const nmeaTIME& utc);
// The user-info of the position notification for `info`.
UserInfo position_user_info(const nmeaINFO& info);

class GPSDataLink {
public:
    enum class OpenResult {
        Linked,
        PathTooLong,   // the path does not fit a local socket address
        NotCreated,    // the socket object could not be made
        NotConnected,  // nobody accepted the connection in time
        Untrusted,     // the process behind it runs as another user (logged)
    };

    // Posts to `center`; the data socket is served by `loop`. Neither is
    // owned.
    GPSDataLink(NotificationCenter* center, RunLoop* loop);
    ~GPSDataLink();  // closes the link
    GPSDataLink(const GPSDataLink&) = delete;
    GPSDataLink& operator=(const GPSDataLink&) = delete;

    // Connects to the data socket at `path` (a link still open is closed
    // first), then starts a fresh parser and record. Anything but Linked
    // leaves no link open, with the errno value that tells why in *error.
    // The daemon hands the path over, but any local user could have bound
    // it: the process behind it must run as root or as this user, as the
    // daemon must.
    OpenResult open(const char* path, int* error);

    // Drains the socket: blocks of at most kNmeaBlockSize bytes, each parsed
    // and followed by one position notification, at most
    // kNmeaMaxBlocksPerCallback blocks a call. The end of the stream or a
    // read error closes the link.
    void readNMEASentences();

    // Unregisters the data socket and closes its descriptor. Idempotent.
    void close();

    // The data socket's descriptor, -1 while there is no link.
    int descriptor() const { return rfcomm ? rfcomm->native() : -1; }
    // The decoded state of the current (or last) link.
    const nmeaINFO& info() const { return info_; }

private:
    NotificationCenter* center_;
    RunLoop* loop_;
    std::unique_ptr<Socket> rfcomm;  // the data socket
    nmeaPARSER parser;               // the stream parser
    nmeaINFO info_{};                // decoded state
    uint8_t nmeaBuffer[kNmeaBlockSize + 1] = {};
};

// Run-loop callback of the data socket; `info` is its GPSDataLink.
void rfcomm_socket_callback(Socket* s, uint32_t type, const void* address, const void* data, void* info);

}  // namespace vgps
