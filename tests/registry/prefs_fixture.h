// A scratch preferences folder for one test: VEXOD_GPS_PREFS_DIR points at it
// while the test runs, and fixture scenarios from tests/data/prefs are copied
// into it.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "registry/BTDeviceCache.h"
#include "support/plist_probe.h"
#include "support/temp_dir.h"

namespace vgps::test {

inline const std::string kPrefsData = std::string(VGPS_TEST_DATA_DIR) + "/prefs";
// Main files that do not parse, under tests/data/prefs/unreadable/.
inline const char* const kUnreadable[] = {"garbage", "truncated-binary", "truncated-xml", "array-root",
                                          "empty",   "nul-key-binary",   "far-date-binary"};

inline const bdaddr kA{{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}};  // 00:11:22:33:44:55
inline const bdaddr kB{{0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}};  // 0a:1b:2c:3d:4e:5f
inline const bdaddr kC{{0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54}};  // fe:dc:ba:98:76:54

class PrefsTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv(kPreferencesDirVariable, dir_.path().c_str(), 1); }
    void TearDown() override { ::unsetenv(kPreferencesDirVariable); }

    // Puts the files of tests/data/prefs/<scenario> (e.g. "xml/a-then-b") in
    // place of those the folder held.
    void use(const std::string& scenario) {
        for (const auto& e : std::filesystem::directory_iterator(dir_.path())) std::filesystem::remove(e.path());
        copy_files(kPrefsData + "/" + scenario, dir_.path());
    }

    std::string mainFile() const { return main_preferences_path(); }
    // A rewrite puts a new file in place, so a changed inode means the file
    // was written. 0 when there is no file.
    ino_t mainInode() const {
        struct stat st;
        return ::stat(mainFile().c_str(), &st) == 0 ? st.st_ino : 0;
    }
    // plistlib's reading of the main file.
    PlistProbe probeMain(const std::vector<std::string>& args = {}) const { return probe_plist(mainFile(), args); }

    TempDir dir_;
};

}  // namespace vgps::test
