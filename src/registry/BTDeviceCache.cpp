#include "registry/BTDeviceCache.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <unordered_map>

#include "platform/log.h"

namespace vgps {

namespace {

constexpr char kDefaultPreferencesDir[] = "/var/mobile/Library/Preferences";
constexpr char kLoadSaved[] = "-[BTDeviceCache loadSaved]";

// The entries of the devices file by address text, looked up as
// PlistDictionary::find does (the first entry under a key), in constant
// time: a load parses the file once and looks every remembered device up.
class DeviceEntries {
public:
    // No file: no entries. The file must outlive the index.
    explicit DeviceEntries(const PlistDictionary* file) {
        if (!file) return;
        index_.reserve(file->size());
        for (const auto& [key, value] : *file) index_.emplace(key, &value);
    }
    const PlistDictionary* find(const std::string& address) const {
        const auto it = index_.find(address);
        return it == index_.end() ? nullptr : it->second->asDictionary();
    }

private:
    std::unordered_map<std::string_view, const PlistValue*> index_;
};

}  // namespace

std::string preferences_dir() {
    const char* dir = std::getenv(kPreferencesDirVariable);
    if (dir && *dir) return dir;
    return kDefaultPreferencesDir;
}

std::string main_preferences_path() { return preferences_dir() + "/com.quiloe.vexod.plist"; }

std::string devices_preferences_path() {
    return preferences_dir() + "/com.quiloe.vexod-devices.plist";
}

BTDeviceCache* BTDeviceCache::sharedCache() {
    // Stored before loading, so a call made while loading gets the same
    // instance. Used from the main thread only, like every other caller.
    static BTDeviceCache* shared = nullptr;
    if (!shared) {
        shared = new BTDeviceCache();
        shared->loadSaved();
    }
    return shared;
}

std::optional<PlistDictionary> BTDeviceCache::getDeviceDictionary(const std::string& address) const {
    PlistReadResult file = plist_read_dictionary(devices_preferences_path());
    if (file.status != PlistReadStatus::Ok) return std::nullopt;
    const PlistDictionary* entry = file.dictionary.findDictionary(address);
    if (!entry) return std::nullopt;
    return *entry;
}

void BTDeviceCache::loadSaved() {
    const std::string mainPath = main_preferences_path();
    PlistReadResult file = plist_read_dictionary(mainPath);
    if (file.status == PlistReadStatus::Unreadable) {
        log_error("<%s> skipping %s: not a readable property-list dictionary", kLoadSaved, mainPath.c_str());
    }
    if (file.status != PlistReadStatus::Ok) return;

    const std::string* defaultText = file.dictionary.findString("default");
    const PlistArray* remembered = file.dictionary.findArray("remembered");
    if (!remembered || remembered->empty()) return;

    // The devices file is read once for the whole list.
    const std::string devicesPath = devices_preferences_path();
    const PlistReadResult devicesFile = plist_read_dictionary(devicesPath);
    if (devicesFile.status == PlistReadStatus::Unreadable) {
        log_error("<%s> skipping %s: not a readable property-list dictionary; the remembered devices have no "
                  "names or classes",
                  kLoadSaved, devicesPath.c_str());
    }
    const DeviceEntries entries(devicesFile.status == PlistReadStatus::Ok ? &devicesFile.dictionary : nullptr);

    for (const PlistValue& element : *remembered) {
        // Elements that are not address texts are skipped: loading them as
        // 00:00:00:00:00:00 would show a device that does not exist.
        const std::string* text = element.asString();
        if (!text) continue;
        bdaddr address{};
        if (!str2ba(text->c_str(), &address)) continue;

        std::optional<std::string> name;
        uint32_t deviceClass = 0;
        if (const PlistDictionary* entry = entries.find(*text)) {
            if (const std::string* n = entry->findString("device-name")) name = *n;
            if (const PlistValue* c = entry->find("device-class")) {
                if (const PlistInteger* i = c->asInteger()) {
                    deviceClass = static_cast<uint32_t>(i->asUnsigned());
                }
            }
        }

        auto device = std::make_shared<BTDevice>(std::move(name), deviceClass, std::nullopt, &address);
        device->setIsSaved(true);
        device->setIsBookmarked(defaultText && *defaultText == *text);
        addBTDevice(std::move(device));
    }
}

bool BTDeviceCache::empty() const { return deviceCache_.empty(); }

uint32_t BTDeviceCache::deviceCount() const { return static_cast<uint32_t>(deviceCache_.size()); }

std::shared_ptr<BTDevice> BTDeviceCache::deviceAt(int32_t index) const {
    if (index < 0 || static_cast<size_t>(index) >= deviceCache_.size()) return nullptr;
    return deviceCache_[static_cast<size_t>(index)];
}

void BTDeviceCache::removeDeviceAt(uint32_t index) {
    if (index >= deviceCache_.size()) return;
    deviceCache_.erase(deviceCache_.begin() + index);
}

void BTDeviceCache::addBTDevice(std::shared_ptr<BTDevice> device) {
    // Every reader takes the records as present; a null one is not listed.
    if (!device) return;
    deviceCache_.push_back(std::move(device));
}

std::shared_ptr<BTDevice> BTDeviceCache::getBTDevice(const bdaddr* address) const {
    if (!address) return nullptr;
    for (const auto& device : deviceCache_) {
        if (*device->getDeviceAddress() == *address) return device;
    }
    return nullptr;
}

std::vector<uint32_t> BTDeviceCache::getUnsaved() const {
    std::vector<uint32_t> positions;
    for (uint32_t i = 0; i < deviceCache_.size(); ++i) {
        if (!deviceCache_[i]->isSaved()) positions.push_back(i);
    }
    return positions;
}

void BTDeviceCache::clearUnsaved() {
    std::erase_if(deviceCache_, [](const std::shared_ptr<BTDevice>& d) { return !d->isSaved(); });
}

void BTDeviceCache::clearAllDevices() { deviceCache_.clear(); }

}  // namespace vgps
