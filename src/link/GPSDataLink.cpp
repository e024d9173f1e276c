#include "link/GPSDataLink.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "link/utility.h"
#include "platform/fd.h"
#include "platform/log.h"

namespace vgps {

std::string position_utc_text(const nmeaTIME& utc) {
    char text[96];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d.%02d", utc.year + 1900, utc.mon + 1, utc.day,
                  utc.hour, utc.min, utc.sec, utc.hsec);
    return text;
}

UserInfo position_user_info(const nmeaINFO& info) {
    return UserInfo{
        {kPositionUTCKey, position_utc_text(info.utc)},
        {kPositionFixKey, int64_t{info.fix}},
        // The values travel in single precision.
        {kPositionLatKey, static_cast<double>(static_cast<float>(info.lat))},
        {kPositionLonKey, static_cast<double>(static_cast<float>(info.lon))},
    };
}

GPSDataLink::GPSDataLink(NotificationCenter* center, RunLoop* loop) : center_(center), loop_(loop) {
    nmea_zero_INFO(&info_);
}

GPSDataLink::~GPSDataLink() {
    close();
    nmea_parser_destroy(&parser);
}

GPSDataLink::OpenResult GPSDataLink::open(const char* path, int* error) {
    // A link still open from before is replaced, not left behind open.
    close();

    sockaddr_un address;
    const std::string_view path_text = path == nullptr ? "" : path;
    if (path_text.size() >= kMaxDataSocketPath || !local_address(path_text, &address)) {
        *error = ENAMETOOLONG;
        return OpenResult::PathTooLong;
    }
    rfcomm = Socket::create(PF_LOCAL, SOCK_STREAM, 0, kSocketReadCallBack, rfcomm_socket_callback, this);
    if (!rfcomm) {
        *error = errno;
        return OpenResult::NotCreated;
    }
    rfcomm->schedule(loop_);
    if (rfcomm->connect_to_address(reinterpret_cast<sockaddr*>(&address), sizeof address, kConnectTimeoutSeconds) !=
        kSocketSuccess) {
        *error = errno;
        // An unconnected socket would be reported readable on every turn of
        // the run loop: it goes at once.
        close();
        return OpenResult::NotConnected;
    }
    if (!trusted_local_peer("-[DaemonManager connectWithSocketPath:status:]", rfcomm->native(),
                            "the data socket " + std::string(path_text))) {
        *error = EACCES;
        close();
        return OpenResult::Untrusted;
    }
    // The read callback comes again after each call; invalidating the
    // object no longer closes the descriptor (close() asks for that).
    rfcomm->set_flags(kSocketAutomaticallyReenableReadCallBack);
    set_nonblocking(rfcomm->native());
    nmea_parser_init(&parser);
    nmea_zero_INFO(&info_);
    return OpenResult::Linked;
}

void GPSDataLink::close() {
    if (!rfcomm) return;
    rfcomm->set_flags(rfcomm->flags() | kSocketCloseOnInvalidate);
    rfcomm->invalidate();
    rfcomm.reset();
}

void GPSDataLink::readNMEASentences() {
    static const char* const who = "-[DaemonManager readNMEASentences]";
    for (int blocks = 0; blocks < kNmeaMaxBlocksPerCallback; ++blocks) {
        // An observer of the notification may have ended the link.
        if (!rfcomm || !rfcomm->valid()) return;
        const ssize_t n = ::read(rfcomm->native(), nmeaBuffer, kNmeaBlockSize);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            // A socket in error stays readable: reading on would spin.
            log_from(who, "rfcomm socket read failed: %s", std::strerror(errno));
            close();
            return;
        }
        if (n == 0) {
            log_from(who, "rfcomm socket disconnected");
            close();
            return;
        }
        nmeaBuffer[n] = 0;
        nmea_parse(&parser, reinterpret_cast<const char*>(nmeaBuffer), static_cast<int>(n), &info_);
        // With nobody listening (no inspector on screen) there is nothing to
        // build or post.
        static const std::string name = kPositionNotificationName;
        if (center_->observerCount(name) == 0) continue;
        center_->postNotificationName(name, nullptr, position_user_info(info_));
    }
}

void rfcomm_socket_callback(Socket* /*s*/, uint32_t type, const void*, const void*, void* info) {
    if (type == kSocketReadCallBack) static_cast<GPSDataLink*>(info)->readNMEASentences();
}

}  // namespace vgps
