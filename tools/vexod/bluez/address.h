// A Bluetooth device address as the daemon holds it: six bytes in the order
// of the text form (byte 0 is the first pair of digits).
#pragma once

#include <bluetooth/bluetooth.h>

#include <array>
#include <cstdint>
#include <string>

namespace vexod::bluez {

using Address = std::array<uint8_t, 6>;

// "xx:xx:xx:xx:xx:xx", lower case.
std::string address_text(const Address& address);
// libbluetooth's bdaddr_t holds the same six bytes in reverse order.
bdaddr_t to_bdaddr(const Address& address);

}  // namespace vexod::bluez
