// Device addresses between the daemon (vgps::bdaddr, six bytes in the order
// of the text form) and libbluetooth's sockets (bdaddr_t, the same bytes
// reversed).
#pragma once

#include <bluetooth/bluetooth.h>

#include <cstring>

#include "registry/bdaddr.h"

namespace vexod::bluez {

bdaddr_t to_bdaddr(const vgps::bdaddr& address);

// An order on addresses, for sets of them.
struct AddressLess {
    bool operator()(const vgps::bdaddr& a, const vgps::bdaddr& b) const {
        return std::memcmp(a.addr, b.addr, sizeof a.addr) < 0;
    }
};

}  // namespace vexod::bluez
