// Arbitrary bytes through the property-list reader and the address parser.
// Whatever parses must write back as XML that parses again to the same text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/plist_file.h"
#include "registry/bdaddr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    vgps::bdaddr ba{};
    if (vgps::str2ba(bytes.c_str(), &ba) == 1) {
        vgps::bdaddr again{};
        if (vgps::str2ba(vgps::ba2str(ba).c_str(), &again) != 1 || !(again == ba)) std::abort();
    }

    vgps::PlistReadResult r = vgps::plist_parse_dictionary(bytes);
    if (r.status != vgps::PlistReadStatus::Ok) return 0;
    const std::string xml = vgps::plist_to_xml_text(r.dictionary);
    vgps::PlistReadResult back = vgps::plist_parse_dictionary(xml);
    if (back.status != vgps::PlistReadStatus::Ok) std::abort();
    if (vgps::plist_to_xml_text(back.dictionary) != xml) std::abort();
    return 0;
}
