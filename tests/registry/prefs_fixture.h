// A scratch preferences folder for one test: VEXOD_GPS_PREFS_DIR points at it
// while the test runs, and fixture scenarios from tests/data/prefs are copied
// into it.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "registry/BTDeviceCache.h"
#include "support/plist_probe.h"
#include "support/temp_dir.h"

namespace vgps::test {

inline const std::string kPrefsData = std::string(VGPS_TEST_DATA_DIR) + "/prefs";

class PrefsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv(kPreferencesDirVariable)) saved_ = old;
        ::setenv(kPreferencesDirVariable, dir_.path().c_str(), 1);
    }
    void TearDown() override {
        if (saved_) ::setenv(kPreferencesDirVariable, saved_->c_str(), 1);
        else ::unsetenv(kPreferencesDirVariable);
    }

    // Copies tests/data/prefs/<scenario> (e.g. "xml/a-then-b") in.
    void use(const std::string& scenario) { copy_files(kPrefsData + "/" + scenario, dir_.path()); }

    std::string mainFile() const { return main_preferences_path(); }
    // The main file's inode: a rewrite puts a new file in place, so a
    // changed inode means the file was written. 0 when there is no file.
    ino_t mainInode() const {
        struct stat st;
        return ::stat(mainFile().c_str(), &st) == 0 ? st.st_ino : 0;
    }
    // plistlib's reading of the main file (see plist_probe.py).
    PlistProbe probeMain(const std::vector<std::string>& args = {}) const { return probe_plist(mainFile(), args); }
    std::string remembered() const {
        PlistProbe p = probeMain({"--key", "remembered"});
        EXPECT_EQ(p.status, 0);
        return p.json;
    }
    std::string defaultEntry() const {
        PlistProbe p = probeMain({"--key", "default"});
        EXPECT_EQ(p.status, 0);
        return p.json;
    }

    TempDir dir_;

private:
    std::optional<std::string> saved_;
};

}  // namespace vgps::test
