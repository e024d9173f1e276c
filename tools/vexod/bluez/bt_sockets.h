// The Bluetooth sockets of the real radio: a non-blocking socket() and
// connect() each, to a device's SDP server (L2CAP) and to one of its RFCOMM
// channels. Everything after the connect is done on descriptors that a test
// can stand in for with socket pairs; these few lines need a radio.
//
// They are chosen when the program is linked: vexod links bt_sockets.cpp;
// a test build of it links openers of local sockets in their place.
#pragma once

#include <cstdint>

#include "bluez/address.h"

namespace vexod::bluez {

// A non-blocking socket from the adapter at `local` (all zeros: any) to the
// device's SDP server, the connect in progress; -1 with errno when not even
// that could be started.
int open_sdp_socket(const vgps::bdaddr& local, const vgps::bdaddr& device);
// The same to the device's RFCOMM `channel` (a stream socket).
int open_rfcomm_socket(const vgps::bdaddr& local, const vgps::bdaddr& device, uint8_t channel);

}  // namespace vexod::bluez
