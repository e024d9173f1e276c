#include "platform/localization.h"

namespace vgps {

std::string localized_string(const std::string& key, const std::string& value, const char* /*table*/) {
    return key.empty() ? value : key;
}

}  // namespace vgps
