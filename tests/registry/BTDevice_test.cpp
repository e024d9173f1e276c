#include "registry/BTDevice.h"

#include <gtest/gtest.h>

#include <filesystem>

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

using BTDeviceFile = test::PrefsTest;

// Without a file only the two saves create one; a second save of the same
// address does not write.
TEST_F(BTDeviceFile, SavesCreateTheFileAndWriteOnce) {
    BTDevice b = device(kB);
    b.removeFromFile();
    b.removeDefault();
    EXPECT_FALSE(std::filesystem::exists(mainFile()));
    b.saveAsDefault();
    EXPECT_EQ(probeMain().json, "{\"default\": \"0a:1b:2c:3d:4e:5f\"}");
    b.saveToFile();
    test::PlistProbe written = probeMain();
    EXPECT_EQ(written.form, "xml");
    EXPECT_EQ(written.json, "{\"default\": \"0a:1b:2c:3d:4e:5f\", \"remembered\": [\"0a:1b:2c:3d:4e:5f\"]}");

    const ino_t inode = mainInode();
    const std::string bytes = read_file(mainFile());
    b.saveToFile();
    device(kB).saveToFile();  // another record, same address
    EXPECT_EQ(mainInode(), inode);
    EXPECT_EQ(read_file(mainFile()), bytes);
    device(kA).saveToFile();  // appended at the end
    EXPECT_EQ(key("remembered"), "[\"0a:1b:2c:3d:4e:5f\", \"00:11:22:33:44:55\"]");
}

// Addresses compare as texts, case and all. Removal takes every copy of the
// device's text and leaves the default; without a match it still rewrites.
TEST_F(BTDeviceFile, RemoveAndDefaultCompareTextsExactly) {
    use("binary/copies-of-b");  // remembered B, "0A:1B:...", A, B; default "0A:1B:..."; "other"
    BTDevice b = device(kB);
    ino_t inode = mainInode();
    b.saveAsDefault();
    EXPECT_NE(mainInode(), inode);
    b.removeFromFile();
    const std::string after = probeMain().json;
    EXPECT_EQ(after, "{\"default\": \"0a:1b:2c:3d:4e:5f\", \"other\": \"x\", "
                     "\"remembered\": [\"0A:1B:2C:3D:4E:5F\", \"00:11:22:33:44:55\"]}");
    inode = mainInode();
    device(kC).removeFromFile();
    EXPECT_NE(mainInode(), inode);
    EXPECT_EQ(probeMain().json, after);
    b.saveToFile();  // the upper-case copy is not the device
    EXPECT_EQ(key("remembered"), "[\"0A:1B:2C:3D:4E:5F\", \"00:11:22:33:44:55\", \"0a:1b:2c:3d:4e:5f\"]");
}

TEST_F(BTDeviceFile, DefaultWritesOnlyWhenItChanges) {
    use("xml/a-then-b");  // remembered A, B; default B
    ino_t inode = mainInode();
    BTDevice b = device(kB);
    b.saveAsDefault();
    EXPECT_EQ(mainInode(), inode);

    device(kA).saveAsDefault();
    EXPECT_NE(mainInode(), inode);
    EXPECT_EQ(key("default"), "\"00:11:22:33:44:55\"");

    b.removeDefault();  // A is the default, but any default goes
    EXPECT_EQ(key("default"), "<absent>");
    inode = mainInode();
    b.removeDefault();  // rewritten though there is no default
    EXPECT_NE(mainInode(), inode);
    EXPECT_EQ(key("remembered"), "[\"00:11:22:33:44:55\", \"0a:1b:2c:3d:4e:5f\"]");
}

// A "remembered" that is no list is someone else's data: left as it is.
TEST_F(BTDeviceFile, ForeignRememberedValueIsKept) {
    use("xml/remembered-not-array");  // "remembered" is a string
    const std::string bytes = read_file(mainFile());
    BTDevice a = device(kA);
    a.saveToFile();
    a.removeFromFile();
    EXPECT_EQ(read_file(mainFile()), bytes);
}

// Every write carries over the keys this system does not know, with their
// values exactly as plistlib reads them, from either form of the file.
TEST_F(BTDeviceFile, UnknownKeysSurviveEveryWrite) {
    for (const char* form : {"xml", "binary"}) {
        int n = 0;  // saveToFile, removeFromFile, saveAsDefault, removeDefault
        for (auto op : {&BTDevice::saveToFile, &BTDevice::removeFromFile, &BTDevice::saveAsDefault,
                        &BTDevice::removeDefault}) {
            SCOPED_TRACE(::testing::Message() << form << " operation " << n++);
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

// A file that is there but does not parse is never overwritten, and loads
// nothing; the in-memory flags still change.
TEST_F(BTDeviceFile, UnreadableFileSurvivesEveryOperation) {
    for (const char* name : test::kUnreadable) {
        SCOPED_TRACE(name);
        use(std::string("unreadable/") + name);
        const std::string bytes = read_file(mainFile());
        const ino_t inode = mainInode();
        BTDeviceCache cache;
        cache.loadSaved();
        EXPECT_TRUE(cache.empty());
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
}

}  // namespace
}  // namespace vgps
