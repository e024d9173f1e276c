#include "bluez/address.h"

#include <cstring>

#include "registry/bdaddr.h"

namespace vexod::bluez {

std::string address_text(const Address& address) {
    vgps::bdaddr ba;
    std::memcpy(ba.addr, address.data(), 6);
    return vgps::ba2str(ba);
}

bdaddr_t to_bdaddr(const Address& address) {
    bdaddr_t b;
    for (int i = 0; i < 6; ++i) b.b[i] = address[5 - i];
    return b;
}

}  // namespace vexod::bluez
