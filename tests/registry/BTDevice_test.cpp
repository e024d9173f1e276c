#include "registry/BTDevice.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/log.h"
#include "prefs_fixture.h"

namespace vgps {
namespace {

using test::kA;
using test::kB;
using test::kC;
using test::read_file;

BTDevice device(const bdaddr& address) { return BTDevice(std::nullopt, 0, std::nullopt, &address); }

// An empty name, like an absent one, shows the address.
TEST(BTDeviceRecord, TitleFallsBackToTheAddress) {
    EXPECT_EQ(BTDevice().nameOrAddress(), "00:00:00:00:00:00");  // name "", address zero
    EXPECT_EQ(BTDevice(std::nullopt, 0, std::nullopt, &kB).nameOrAddress(), "0a:1b:2c:3d:4e:5f");
    EXPECT_EQ(BTDevice("G", 0, std::nullopt, &kB).nameOrAddress(), "G");
}

// One operation of a new record of `device` on the main file: whether it
// writes the file (a rewrite puts a new inode in place) and the file as
// plistlib reads it afterwards ("" for no file), with the address texts
// written A (kA's), B (kB's) and U (kB's in upper case).
struct FileStep {
    const bdaddr* device;
    void (BTDevice::*op)();
    bool writes;
    std::string json;
};

std::string with_addresses(std::string json) {
    for (auto [letter, text] : {std::pair{'A', "\"00:11:22:33:44:55\""}, {'B', "\"0a:1b:2c:3d:4e:5f\""},
                                {'U', "\"0A:1B:2C:3D:4E:5F\""}})
        for (size_t at; (at = json.find(letter)) != std::string::npos;) json.replace(at, 1, text);
    return json;
}

class BTDeviceFile : public test::PrefsTest {
protected:
    void play(const std::string& scenario, const std::vector<FileStep>& steps) {
        if (!scenario.empty()) use(scenario);
        for (size_t i = 0; i < steps.size(); ++i) {
            SCOPED_TRACE(scenario + " step " + std::to_string(i + 1));
            const ino_t inode = mainInode();
            BTDevice d = device(*steps[i].device);
            (d.*steps[i].op)();
            EXPECT_EQ(mainInode() != inode, steps[i].writes);
            EXPECT_EQ(std::filesystem::exists(mainFile()) ? probeMain().json : "", with_addresses(steps[i].json));
        }
    }
};

constexpr auto kSave = &BTDevice::saveToFile;
constexpr auto kRemove = &BTDevice::removeFromFile;
constexpr auto kDefault = &BTDevice::saveAsDefault;
constexpr auto kNoDefault = &BTDevice::removeDefault;

// Without a file only the two saves create one; saving what is there
// already does not write.
TEST_F(BTDeviceFile, SavesCreateTheFileAndWriteOnlyWhatChanges) {
    play("", {
        {&kB, kRemove, false, ""},
        {&kB, kNoDefault, false, ""},
        {&kB, kDefault, true, R"({"default": B})"},
        {&kB, kSave, true, R"({"default": B, "remembered": [B]})"},
        {&kB, kSave, false, R"({"default": B, "remembered": [B]})"},
        {&kA, kSave, true, R"({"default": B, "remembered": [B, A]})"},  // appended at the end
    });
    EXPECT_EQ(probeMain().form, "xml");
    play("xml/a-then-b", {
        {&kB, kDefault, false, R"({"default": B, "remembered": [A, B]})"},
        {&kA, kDefault, true, R"({"default": A, "remembered": [A, B]})"},
        // Any default goes, and the file is rewritten though there is none.
        {&kB, kNoDefault, true, R"({"remembered": [A, B]})"},
        {&kB, kNoDefault, true, R"({"remembered": [A, B]})"},
    });
    // A "remembered" that is no list is someone else's data: left as it is.
    play("xml/remembered-not-array", {
        {&kA, kSave, false, R"({"default": A, "remembered": A})"},
        {&kA, kRemove, false, R"({"default": A, "remembered": A})"},
    });
}

// Addresses compare as texts, case and all. Removal takes every copy of the
// device's text and leaves the default; without a match it still rewrites.
TEST_F(BTDeviceFile, RemoveAndDefaultCompareTextsExactly) {
    // remembered B, "0A:1B:...", A, B; default "0A:1B:..."; "other"
    play("binary/copies-of-b", {
        {&kB, kDefault, true, R"({"default": B, "other": "x", "remembered": [B, U, A, B]})"},
        {&kB, kRemove, true, R"({"default": B, "other": "x", "remembered": [U, A]})"},
        {&kC, kRemove, true, R"({"default": B, "other": "x", "remembered": [U, A]})"},
        {&kB, kSave, true, R"({"default": B, "other": "x", "remembered": [U, A, B]})"},
    });
}

// Every write carries over the keys this system does not know, with their
// values exactly as plistlib reads them, from either form of the file.
TEST_F(BTDeviceFile, UnknownKeysSurviveEveryWrite) {
    for (const char* form : {"xml", "binary"}) {
        for (auto op : {kSave, kRemove, kDefault, kNoDefault}) {
            SCOPED_TRACE(form);
            use(std::string(form) + "/unknown-keys");
            const std::string others = probeMain({"--drop", "remembered", "default"}).json;
            const ino_t inode = mainInode();
            BTDevice b = device(kB);  // in no list, not the default: every op writes
            (b.*op)();
            ASSERT_NE(mainInode(), inode);
            test::PlistProbe after = probeMain({"--drop", "remembered", "default"});
            EXPECT_EQ(after.form, "xml");
            EXPECT_EQ(after.json, others);
        }
    }
}

// A main file that is there but does not parse is never overwritten, loads
// nothing and says so once; the in-memory flags still change. A missing
// file is nothing to report.
TEST_F(BTDeviceFile, UnreadableFileSurvivesEveryOperationAndIsSkippedWithALogLine) {
    const std::vector<std::string> skipped{"<-[BTDeviceCache loadSaved]> skipping " + mainFile() +
                                           ": not a readable property-list dictionary"};
    for (const char* name : test::kUnreadable) {
        SCOPED_TRACE(name);
        use(std::string("unreadable/") + name);
        const std::string bytes = read_file(mainFile());
        const ino_t inode = mainInode();
        LogCapture log;
        BTDeviceCache cache;
        cache.loadSaved();
        EXPECT_TRUE(cache.empty());
        EXPECT_EQ(log.lines(), skipped);
        BTDevice c = device(kC);
        c.saveToFile();
        c.saveAsDefault();
        EXPECT_TRUE(c.isSaved() && c.isBookmarked());
        c.removeFromFile();
        c.removeDefault();
        EXPECT_FALSE(c.isSaved() || c.isBookmarked());
        EXPECT_EQ(mainInode(), inode);
        EXPECT_EQ(read_file(mainFile()), bytes);
    }
    std::filesystem::remove(mainFile());
    std::filesystem::create_directory(mainFile());
    LogCapture log;
    BTDeviceCache cache;
    cache.loadSaved();
    EXPECT_EQ(log.lines(), skipped) << "a folder in its place";
    std::filesystem::remove(mainFile());
    log.clear();
    cache.loadSaved();
    EXPECT_EQ(log.lines(), std::vector<std::string>{});
}

}  // namespace
}  // namespace vgps
