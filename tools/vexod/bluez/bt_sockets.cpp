#include "bluez/bt_sockets.h"

#include <bluetooth/l2cap.h>
#include <bluetooth/rfcomm.h>
#include <bluetooth/sdp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace vexod::bluez {
namespace {

// Binds to the adapter and starts the connect; the descriptor, or -1.
template <typename SockAddr>
int bind_and_connect(int fd, const SockAddr& local, const SockAddr& remote) {
    if (fd < 0) return -1;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        (::connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0 && errno != EINPROGRESS)) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

}  // namespace

int open_sdp_socket(const vgps::bdaddr& local, const vgps::bdaddr& device) {
    sockaddr_l2 from{}, to{};
    from.l2_family = to.l2_family = AF_BLUETOOTH;
    from.l2_bdaddr = to_bdaddr(local);
    to.l2_bdaddr = to_bdaddr(device);
    to.l2_psm = htobs(SDP_PSM);
    return bind_and_connect(::socket(AF_BLUETOOTH, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, BTPROTO_L2CAP), from, to);
}

int open_rfcomm_socket(const vgps::bdaddr& local, const vgps::bdaddr& device, uint8_t channel) {
    sockaddr_rc from{}, to{};
    from.rc_family = to.rc_family = AF_BLUETOOTH;
    from.rc_bdaddr = to_bdaddr(local);
    to.rc_bdaddr = to_bdaddr(device);
    to.rc_channel = channel;
    return bind_and_connect(::socket(AF_BLUETOOTH, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, BTPROTO_RFCOMM), from, to);
}

}  // namespace vexod::bluez
