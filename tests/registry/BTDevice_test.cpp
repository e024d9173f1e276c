#include "registry/BTDevice.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "prefs_fixture.h"

namespace vgps {
namespace {

using test::read_file;

const bdaddr kA{{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}};  // 00:11:22:33:44:55
const bdaddr kB{{0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}};  // 0a:1b:2c:3d:4e:5f
const bdaddr kC{{0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54}};  // fe:dc:ba:98:76:54

BTDevice device(const bdaddr& address) { return BTDevice(std::nullopt, 0, std::nullopt, &address); }

TEST(BTDeviceRecord, ConstructorsAndTitle) {
    BTDevice plain;
    EXPECT_EQ(plain.deviceName(), std::optional<std::string>(""));
    EXPECT_EQ(plain.manufacturer(), std::optional<std::string>(""));
    EXPECT_EQ(plain.deviceClass(), 0u);
    EXPECT_EQ(plain.state(), BTDeviceStateIdle);
    EXPECT_FALSE(plain.isSaved());
    EXPECT_FALSE(plain.isBookmarked());
    EXPECT_EQ(plain.addressString(), "00:00:00:00:00:00");
    EXPECT_EQ(plain.nameOrAddress(), "00:00:00:00:00:00");  // empty name

    bdaddr address = kB;
    BTDevice found(std::nullopt, 0x240404, "maker", &address);
    address.addr[0] = 0xff;  // the record holds its own copy
    EXPECT_FALSE(found.deviceName().has_value());
    EXPECT_EQ(found.deviceClass(), 0x240404u);
    EXPECT_EQ(found.manufacturer(), std::optional<std::string>("maker"));
    EXPECT_EQ(found.addressString(), "0a:1b:2c:3d:4e:5f");
    EXPECT_EQ(found.nameOrAddress(), "0a:1b:2c:3d:4e:5f");  // absent name
    found.setDeviceName("G");
    EXPECT_EQ(found.nameOrAddress(), "G");
    EXPECT_EQ(found.state(), BTDeviceStateIdle);
    EXPECT_FALSE(found.isSaved() || found.isBookmarked());
}

using BTDeviceFile = test::PrefsTest;

TEST_F(BTDeviceFile, SaveCreatesTheFileAndWritesOnce) {
    BTDevice b = device(kB);
    b.saveToFile();
    EXPECT_TRUE(b.isSaved());
    EXPECT_EQ(probeMain().json, "{\"remembered\": [\"0a:1b:2c:3d:4e:5f\"]}");
    EXPECT_EQ(probeMain().form, "xml");

    const ino_t inode = mainInode();
    const std::string bytes = read_file(mainFile());
    b.saveToFile();
    device(kB).saveToFile();  // another record, same address
    EXPECT_EQ(mainInode(), inode);
    EXPECT_EQ(read_file(mainFile()), bytes);

    device(kA).saveToFile();  // appended at the end
    EXPECT_EQ(remembered(), "[\"0a:1b:2c:3d:4e:5f\", \"00:11:22:33:44:55\"]");
}

TEST_F(BTDeviceFile, ComparisonsAreCaseSensitive) {
    use("xml/upper-case");  // remembered and default: "0A:1B:2C:3D:4E:5F"
    BTDevice b = device(kB);
    b.saveToFile();
    EXPECT_EQ(remembered(), "[\"0A:1B:2C:3D:4E:5F\", \"0a:1b:2c:3d:4e:5f\"]");

    ino_t inode = mainInode();
    b.saveAsDefault();  // "0A:..." is not T: written
    EXPECT_NE(mainInode(), inode);
    EXPECT_EQ(defaultEntry(), "\"0a:1b:2c:3d:4e:5f\"");

    b.removeFromFile();  // only the lower-case copy goes
    EXPECT_EQ(remembered(), "[\"0A:1B:2C:3D:4E:5F\"]");
}

TEST_F(BTDeviceFile, RemoveTakesEveryCopyAndRewritesEvenWithoutMatch) {
    use("binary/only-b");  // remembered B, A, B; "other": "x"
    BTDevice b = device(kB);
    b.setIsSaved(true);
    b.removeFromFile();
    EXPECT_FALSE(b.isSaved());
    EXPECT_EQ(probeMain().json, "{\"other\": \"x\", \"remembered\": [\"00:11:22:33:44:55\"]}");

    ino_t inode = mainInode();
    const std::string before = probeMain().json;
    device(kC).removeFromFile();
    EXPECT_NE(mainInode(), inode);
    EXPECT_EQ(probeMain().json, before);
}

TEST_F(BTDeviceFile, RemoveLeavesTheDefault) {
    use("xml/a-then-b");  // remembered A, B; default B
    device(kB).removeFromFile();
    EXPECT_EQ(remembered(), "[\"00:11:22:33:44:55\"]");
    EXPECT_EQ(defaultEntry(), "\"0a:1b:2c:3d:4e:5f\"");
}

TEST_F(BTDeviceFile, DefaultWritesOnlyWhenItChanges) {
    use("xml/a-then-b");  // default B
    ino_t inode = mainInode();
    BTDevice b = device(kB);
    b.saveAsDefault();
    EXPECT_TRUE(b.isBookmarked());
    EXPECT_EQ(mainInode(), inode);

    device(kA).saveAsDefault();
    EXPECT_NE(mainInode(), inode);
    EXPECT_EQ(defaultEntry(), "\"00:11:22:33:44:55\"");
    EXPECT_EQ(remembered(), "[\"00:11:22:33:44:55\", \"0a:1b:2c:3d:4e:5f\"]");

    b.removeDefault();  // A is the default, but any default goes
    EXPECT_FALSE(b.isBookmarked());
    EXPECT_EQ(defaultEntry(), "<absent>");
    inode = mainInode();
    b.removeDefault();  // rewritten though there is no default
    EXPECT_NE(mainInode(), inode);
    EXPECT_EQ(remembered(), "[\"00:11:22:33:44:55\", \"0a:1b:2c:3d:4e:5f\"]");
}

TEST_F(BTDeviceFile, WithoutAFile) {
    BTDevice a = device(kA);
    a.removeFromFile();
    a.removeDefault();
    EXPECT_FALSE(std::filesystem::exists(mainFile()));

    // The default is kept too: a file holding only it is created.
    a.saveAsDefault();
    EXPECT_EQ(probeMain().json, "{\"default\": \"00:11:22:33:44:55\"}");
}

TEST_F(BTDeviceFile, MissingListIsStartedButAForeignValueIsKept) {
    use("xml/no-remembered");
    device(kA).saveToFile();
    EXPECT_EQ(remembered(), "[\"00:11:22:33:44:55\"]");

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
    const std::vector<std::pair<const char*, std::function<void(BTDevice&)>>> ops = {
        {"saveToFile", [](BTDevice& d) { d.saveToFile(); }},
        {"removeFromFile", [](BTDevice& d) { d.removeFromFile(); }},
        {"saveAsDefault", [](BTDevice& d) { d.saveAsDefault(); }},
        {"removeDefault", [](BTDevice& d) { d.removeDefault(); }},
    };
    for (const char* form : {"xml", "binary"}) {
        for (const auto& [name, op] : ops) {
            SCOPED_TRACE(std::string(form) + " " + name);
            use(std::string(form) + "/unknown-keys");
            const std::string others = probeMain({"--drop", "remembered", "default"}).json;
            const ino_t inode = mainInode();
            BTDevice b = device(kB);  // in no list, not the default: every op writes
            op(b);
            ASSERT_NE(mainInode(), inode);
            test::PlistProbe after = probeMain({"--drop", "remembered", "default"});
            ASSERT_EQ(after.status, 0);
            EXPECT_EQ(after.form, "xml");
            EXPECT_EQ(after.json, others);
        }
    }
}

// A file that is there but does not parse is never overwritten; the
// in-memory flags still change.
TEST_F(BTDeviceFile, UnreadableFileSurvivesEveryOperation) {
    for (const char* name : {"garbage", "truncated-binary", "truncated-xml", "array-root", "empty",
                             "nul-key-binary", "far-date-binary"}) {
        SCOPED_TRACE(name);
        use(std::string("unreadable/") + name);
        const std::string bytes = read_file(mainFile());
        const ino_t inode = mainInode();
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
