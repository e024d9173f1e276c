// The process-wide ordered list of known devices: the remembered ones from
// the preference files first, then those found by inquiries.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/plist_file.h"
#include "registry/BTDevice.h"

namespace vgps {

class BTDeviceCache {
public:
    // The singleton: created on the first call, which also loads the
    // remembered devices once. Never destroyed.
    static BTDeviceCache* sharedCache();

    BTDeviceCache() = default;  // init: an empty list

    // Appends the remembered devices, reading the main file and the devices
    // file once each. A file that exists but cannot be read as a property-
    // list dictionary is skipped with a log line.
    void loadSaved();
    bool empty() const;
    uint32_t deviceCount() const;
    std::shared_ptr<BTDevice> deviceAt(int32_t index) const;
    void removeDeviceAt(uint32_t index);
    void addBTDevice(std::shared_ptr<BTDevice> device);
    // The first record whose address equals *address, or null.
    std::shared_ptr<BTDevice> getBTDevice(const bdaddr* address) const;
    // Positions, ascending, of the records not saved.
    std::vector<uint32_t> getUnsaved() const;
    void clearUnsaved();
    void clearAllDevices();
    // The devices file's entry for an address text (matched character for
    // character), read afresh on every call; none when the file is missing
    // or unreadable, or the entry is absent or not a dictionary.
    std::optional<PlistDictionary> getDeviceDictionary(const std::string& address) const;

private:
    std::vector<std::shared_ptr<BTDevice>> deviceCache_;
};

// Where the two preference files live: the folder named by the environment
// variable VEXOD_GPS_PREFS_DIR when it is set and not empty, else
// "/var/mobile/Library/Preferences".
inline constexpr char kPreferencesDirVariable[] = "VEXOD_GPS_PREFS_DIR";
std::string preferences_dir();
std::string main_preferences_path();     // <dir>/com.quiloe.vexod.plist
std::string devices_preferences_path();  // <dir>/com.quiloe.vexod-devices.plist

}  // namespace vgps
