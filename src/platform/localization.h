// Lookup of the texts shown to the user. No translation tables are carried,
// so the lookup gives back its key; with an empty key, the value.
#pragma once

#include <string>

namespace vgps {

// localizedStringForKey:value:table: of the main bundle. `table` null means
// the default table.
std::string localized_string(const std::string& key, const std::string& value = "", const char* table = nullptr);

}  // namespace vgps
