// Checks property-list files with Python's plistlib (plist_probe.py beside
// this file), a reader independent of the code that wrote them, and copies
// preference fixtures into a scratch folder.
#pragma once

#include <string>
#include <vector>

namespace vgps::test {

struct PlistProbe {
    int status = -1;   // 0 when plistlib read the file
    std::string form;  // "xml" or "binary"
    std::string json;  // canonical JSON of the selected value
};

// plist_probe.py FILE [args...]: args as the script takes them, e.g.
// {"--drop", "remembered", "default"}.
PlistProbe probe_plist(const std::string& path, const std::vector<std::string>& args = {});

// Copies every file of `from` (not recursive) into the folder `to`.
void copy_files(const std::string& from, const std::string& to);

}  // namespace vgps::test
