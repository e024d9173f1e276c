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

// A non-blocking connection to the device's local socket `<address>.<name>`,
// as the radio takes its Bluetooth sockets.
int connect_to(const vgps::bdaddr& device, const std::string& name, int type) {
    const char* dir = std::getenv("VEXOD_LOCAL_RADIO");
    const std::string base = std::string(dir ? dir : ".") + "/" + vgps::ba2str(device) + ".";
    if (::access((base + "sdp").c_str(), F_OK) != 0) {
        errno = EHOSTDOWN;
        return -1;
    }
    sockaddr_un address;
    if (!vgps::local_address(base + name, &address)) return -1;
    const int fd = ::socket(AF_UNIX, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
        errno == EINPROGRESS)
        return fd;
    const int error = errno == ENOENT ? ECONNREFUSED : errno;
    ::close(fd);
    errno = error;
    return -1;
}

}  // namespace

int open_sdp_socket(const vgps::bdaddr&, const vgps::bdaddr& device) {
    return connect_to(device, "sdp", SOCK_SEQPACKET);
}

int open_rfcomm_socket(const vgps::bdaddr&, const vgps::bdaddr& device, uint8_t channel) {
    return connect_to(device, std::to_string(channel), SOCK_STREAM);
}

}  // namespace vexod::bluez
