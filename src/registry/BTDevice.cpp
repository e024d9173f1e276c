#include "registry/BTDevice.h"

#include <algorithm>

#include "platform/plist_file.h"
#include "registry/BTDeviceCache.h"

namespace vgps {

namespace {

constexpr char kRememberedKey[] = "remembered";
constexpr char kDefaultKey[] = "default";

bool is_text(const PlistValue& value, const std::string& text) {
    const std::string* s = value.asString();
    return s && *s == text;
}

}  // namespace

BTDevice::BTDevice() : deviceName_(std::string()), manufacturer_(std::string()) {}

BTDevice::BTDevice(std::optional<std::string> deviceName, uint32_t deviceClass,
                   std::optional<std::string> manufacturer, const bdaddr* deviceAddress)
    : deviceName_(std::move(deviceName)),
      deviceClass_(deviceClass),
      manufacturer_(std::move(manufacturer)) {
    if (deviceAddress) deviceAddress_ = *deviceAddress;
}

std::string BTDevice::addressString() const { return ba2str(deviceAddress_); }

std::string BTDevice::nameOrAddress() const {
    if (deviceName_ && !deviceName_->empty()) return *deviceName_;
    return addressString();
}

// The four operations below read the main preference file whole, change it
// and write it back whole. A file that exists but cannot be read as a
// dictionary is left alone by all of them, and so is a "remembered" value
// that is not an array: the user's data is never replaced by a guess.
// Write failures are not reported; the in-memory flag keeps its new value.

void BTDevice::saveToFile() {
    isSaved_ = true;
    const std::string path = main_preferences_path();
    const std::string text = addressString();
    PlistReadResult file = plist_read_dictionary(path);
    if (file.status == PlistReadStatus::Unreadable) return;

    PlistDictionary& prefs = file.dictionary;
    PlistValue* remembered = prefs.find(kRememberedKey);
    if (!remembered) {
        // No file, or a file without the list: start the list.
        prefs.set(kRememberedKey, PlistArray{PlistValue(text)});
    } else {
        PlistArray* list = remembered->asArray();
        if (!list) return;
        auto same = [&](const PlistValue& v) { return is_text(v, text); };
        if (std::any_of(list->begin(), list->end(), same)) return;
        list->push_back(PlistValue(text));
    }
    plist_write_xml_atomically(path, prefs);
}

void BTDevice::removeFromFile() {
    isSaved_ = false;
    const std::string path = main_preferences_path();
    PlistReadResult file = plist_read_dictionary(path);
    if (file.status != PlistReadStatus::Ok) return;

    PlistArray* list = file.dictionary.findArray(kRememberedKey);
    if (!list) return;
    const std::string text = addressString();
    std::erase_if(*list, [&](const PlistValue& v) { return is_text(v, text); });
    // Written back even when nothing matched.
    plist_write_xml_atomically(path, file.dictionary);
}

void BTDevice::saveAsDefault() {
    isBookmarked_ = true;
    const std::string path = main_preferences_path();
    const std::string text = addressString();
    PlistReadResult file = plist_read_dictionary(path);
    if (file.status == PlistReadStatus::Unreadable) return;

    // A missing file is created holding just the default, as saveToFile
    // creates one holding just the list.
    const PlistValue* current = file.dictionary.find(kDefaultKey);
    if (current && is_text(*current, text)) return;
    file.dictionary.set(kDefaultKey, PlistValue(text));
    plist_write_xml_atomically(path, file.dictionary);
}

void BTDevice::removeDefault() {
    isBookmarked_ = false;
    const std::string path = main_preferences_path();
    PlistReadResult file = plist_read_dictionary(path);
    if (file.status != PlistReadStatus::Ok) return;

    // Written back even when there was no default.
    file.dictionary.erase(kDefaultKey);
    plist_write_xml_atomically(path, file.dictionary);
}

}  // namespace vgps
