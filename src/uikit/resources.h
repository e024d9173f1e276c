// The application's resource folder, where images and texts are loaded by
// name. The first of these that is set or exists:
//   1. the environment variable VEXOD_GPS_RESOURCES (set and not empty);
//   2. ../share/vexod-gps beside the running program (an installed copy);
//   3. the source tree's resources/ folder (builds run from the tree).
#pragma once

#include <optional>
#include <string>

namespace vgps {

std::string resource_directory();

// The path of the resource `name` in that folder; absent for a name that
// is empty, holds a '/' or starts with '.', so nothing outside the folder
// is ever opened. The file need not exist.
std::optional<std::string> resource_path(const std::string& name);

}  // namespace vgps
