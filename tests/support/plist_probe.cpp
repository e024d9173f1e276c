#include "support/plist_probe.h"

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

namespace vgps::test {

namespace {

std::string shell_quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

}  // namespace

PlistProbe probe_plist(const std::string& path, const std::vector<std::string>& args) {
    std::string command = shell_quote(VGPS_PYTHON3) + " " + shell_quote(VGPS_PLIST_PROBE) + " " +
                          shell_quote(path);
    for (const auto& arg : args) command += " " + shell_quote(arg);
    PlistProbe probe;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return probe;
    std::string output;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    int status = ::pclose(pipe);
    probe.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    size_t newline = output.find('\n');
    if (newline != std::string::npos) {
        probe.form = output.substr(0, newline);
        probe.json = output.substr(newline + 1);
        if (!probe.json.empty() && probe.json.back() == '\n') probe.json.pop_back();
    }
    return probe;
}

void copy_files(const std::string& from, const std::string& to) {
    namespace fs = std::filesystem;
    for (const auto& entry : fs::directory_iterator(from)) {
        if (entry.is_regular_file()) {
            fs::copy_file(entry.path(), fs::path(to) / entry.path().filename(),
                          fs::copy_options::overwrite_existing);
        }
    }
}

}  // namespace vgps::test
