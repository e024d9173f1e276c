// The Bluetooth sockets of vexod-local-radio, the build of vexod that the
// end-to-end tests run: local sockets in the folder named by the
// environment variable VEXOD_LOCAL_RADIO stand in for the devices, served by
// the test.
//
//   <address>.sdp        a SOCK_SEQPACKET socket: the device's SDP server
//   <address>.<channel>  a stream socket: one of its RFCOMM channels
//
// (<address> in lower case, "00:0b:0d:88:a2:3c"). A device without an SDP
// socket is out of range (EHOSTDOWN); a channel without a socket of a device
// that has one is refused (ECONNREFUSED). Everything else vexod does is the
// real program's.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "bluez/bt_sockets.h"
#include "platform/fd.h"

namespace vexod::bluez {
namespace {

std::string device_socket(const vgps::bdaddr& device, const std::string& suffix) {
    const char* dir = std::getenv("VEXOD_LOCAL_RADIO");
    return std::string(dir ? dir : ".") + "/" + vgps::ba2str(device) + "." + suffix;
}

// A non-blocking connection to the local socket at `path`, as the radio
// takes its Bluetooth sockets.
int connect_to(const std::string& path, int type) {
    sockaddr_un address;
    if (!vgps::local_address(path, &address)) return -1;
    const int fd = ::socket(AF_UNIX, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
        const int error = errno;
        ::close(fd);
        errno = error == ENOENT ? ECONNREFUSED : error;
        return -1;
    }
    return fd;
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace

int open_sdp_socket(const vgps::bdaddr&, const vgps::bdaddr& device) {
    const std::string path = device_socket(device, "sdp");
    if (!exists(path)) {
        errno = EHOSTDOWN;
        return -1;
    }
    return connect_to(path, SOCK_SEQPACKET);
}

int open_rfcomm_socket(const vgps::bdaddr&, const vgps::bdaddr& device, uint8_t channel) {
    if (!exists(device_socket(device, "sdp"))) {
        errno = EHOSTDOWN;
        return -1;
    }
    return connect_to(device_socket(device, std::to_string(channel)), SOCK_STREAM);
}

}  // namespace vexod::bluez
