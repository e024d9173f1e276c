// One remote Bluetooth device: address, name, class of device, the
// connection state shown on the main screen, and the two flags that tie it
// to the main preference file.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "registry/bdaddr.h"

namespace vgps {

enum BTDeviceState : int32_t {
    BTDeviceStateIdle = 0,
    BTDeviceStateConnecting = 1,
    BTDeviceStateConnected = 2,
};

class BTDevice {
public:
    // init: name and manufacturer "", class 0, address 00:00:00:00:00:00,
    // state 0, both flags false.
    BTDevice();
    // initWithDeviceName:deviceClass:Manufacturer:deviceAddress: (an absent
    // name stays absent; the address is copied).
    BTDevice(std::optional<std::string> deviceName, uint32_t deviceClass,
             std::optional<std::string> manufacturer, const bdaddr* deviceAddress);

    const std::optional<std::string>& deviceName() const { return deviceName_; }
    void setDeviceName(std::optional<std::string> name) { deviceName_ = std::move(name); }
    uint32_t deviceClass() const { return deviceClass_; }
    void setDeviceClass(uint32_t value) { deviceClass_ = value; }
    const std::optional<std::string>& manufacturer() const { return manufacturer_; }
    void setManufacturer(std::optional<std::string> value) { manufacturer_ = std::move(value); }
    int32_t state() const { return state_; }
    void setState(int32_t value) { state_ = value; }
    bool isSaved() const { return isSaved_; }
    void setIsSaved(bool value) { isSaved_ = value; }
    bool isBookmarked() const { return isBookmarked_; }
    void setIsBookmarked(bool value) { isBookmarked_ = value; }

    const bdaddr* getDeviceAddress() const { return &deviceAddress_; }
    void setDeviceAddress(const bdaddr* address) { deviceAddress_ = *address; }

    std::string addressString() const;
    // The name when it has at least one character, else the address text.
    std::string nameOrAddress() const;

    // Read-modify-write of the main preference file; the in-memory flag is
    // set first, whatever happens to the file. An existing file that does
    // not parse is never overwritten.
    void saveToFile();
    void removeFromFile();
    void saveAsDefault();
    void removeDefault();

private:
    std::optional<std::string> deviceName_;
    bdaddr deviceAddress_{};
    uint32_t deviceClass_ = 0;
    std::optional<std::string> manufacturer_;
    int32_t state_ = BTDeviceStateIdle;
    bool isSaved_ = false;
    bool isBookmarked_ = false;
};

}  // namespace vgps
