#include "support/plist_probe.h"

#include <filesystem>

#include "support/process.h"

namespace vgps::test {

PlistProbe probe_plist(const std::string& path, const std::vector<std::string>& args) {
    std::string command = shell_quote(VGPS_PYTHON3) + " " + shell_quote(VGPS_PLIST_PROBE) + " " + shell_quote(path);
    for (const auto& arg : args) command += " " + shell_quote(arg);
    ShellRun run = run_shell(command);
    run.out.resize(2);  // the form, then the JSON on one line
    return {run.status, run.out[0], run.out[1]};
}

void copy_files(const std::string& from, const std::string& to) {
    namespace fs = std::filesystem;
    for (const auto& entry : fs::directory_iterator(from)) {
        if (entry.is_regular_file()) {
            fs::copy_file(entry.path(), fs::path(to) / entry.path().filename(), fs::copy_options::overwrite_existing);
        }
    }
}

}  // namespace vgps::test
