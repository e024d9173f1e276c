#include "uikit/resources.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace vgps {
namespace {

bool is_directory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ../share/vexod-gps relative to the folder of the running program, or
// empty when there is none.
const std::string& installed_directory() {
    static const std::string dir = [] {
        char exe[PATH_MAX];
        const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n <= 0) return std::string();
        std::string path(exe, static_cast<size_t>(n));
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos) return std::string();
        std::string candidate = path.substr(0, slash) + "/../share/vexod-gps";
        return is_directory(candidate) ? candidate : std::string();
    }();
    return dir;
}

}  // namespace

std::string resource_directory() {
    const char* env = std::getenv("VEXOD_GPS_RESOURCES");
    if (env != nullptr && *env != '\0') return env;
    if (!installed_directory().empty()) return installed_directory();
    return VGPS_SOURCE_RESOURCES_DIR;
}

std::optional<std::string> resource_path(const std::string& name) {
    if (name.empty() || name[0] == '.' || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    return resource_directory() + "/" + name;
}

}  // namespace vgps
