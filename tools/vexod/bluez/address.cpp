#include "bluez/address.h"

namespace vexod::bluez {

bdaddr_t to_bdaddr(const vgps::bdaddr& address) {
    bdaddr_t b;
    for (int i = 0; i < 6; ++i) b.b[i] = address.addr[5 - i];
    return b;
}

}  // namespace vexod::bluez
