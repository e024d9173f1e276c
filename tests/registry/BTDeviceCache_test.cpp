#include "registry/BTDeviceCache.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "prefs_fixture.h"

namespace vgps {
namespace {

const bdaddr kA{{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}};  // 00:11:22:33:44:55
const bdaddr kB{{0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}};  // 0a:1b:2c:3d:4e:5f
const bdaddr kC{{0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54}};  // fe:dc:ba:98:76:54

std::shared_ptr<BTDevice> record(const bdaddr& a, bool saved, const char* name = nullptr) {
    auto d = std::make_shared<BTDevice>(name ? std::optional<std::string>(name) : std::nullopt, 0, std::nullopt, &a);
    d->setIsSaved(saved);
    return d;
}

// The loader, run on fresh lists over both forms of every scenario.
class LoadSaved : public test::PrefsTest, public ::testing::WithParamInterface<const char*> {
protected:
    BTDeviceCache load(const std::string& scenario) {
        use(std::string(GetParam()) + "/" + scenario);
        BTDeviceCache cache;
        cache.loadSaved();
        return cache;
    }
};

TEST_P(LoadSaved, NoFileLoadsNothing) {
    BTDeviceCache cache;
    cache.loadSaved();
    EXPECT_TRUE(cache.empty());
    EXPECT_EQ(cache.deviceCount(), 0u);
}

TEST_P(LoadSaved, RememberedInOrderWithTheirDefault) {
    BTDeviceCache cache = load("a-then-b");
    ASSERT_EQ(cache.deviceCount(), 2u);
    auto a = cache.deviceAt(0);
    auto b = cache.deviceAt(1);
    EXPECT_EQ(*a->getDeviceAddress(), kA);
    // Byte 0 comes from the first pair of digits: the project's own str2ba
    // did the parsing, not libbluetooth's (linked into this binary).
    EXPECT_EQ(b->getDeviceAddress()->addr[0], 0x0a);
    EXPECT_EQ(*b->getDeviceAddress(), kB);
    EXPECT_EQ(a->deviceName(), std::optional<std::string>("Receiver A"));
    EXPECT_EQ(b->deviceName(), std::optional<std::string>("Receiver B"));
    EXPECT_EQ(a->deviceClass(), 0x1f00u);
    EXPECT_EQ(b->deviceClass(), 0x240404u);
    for (const auto& d : {a, b}) {
        EXPECT_TRUE(d->isSaved());
        EXPECT_EQ(d->state(), BTDeviceStateIdle);
        EXPECT_FALSE(d->manufacturer().has_value());
    }
    EXPECT_FALSE(a->isBookmarked());
    EXPECT_TRUE(b->isBookmarked());
    EXPECT_EQ(a.use_count(), 2);  // the list and this test hold it, nobody else
}

TEST_P(LoadSaved, DefaultOutsideTheListMarksNothing) {
    BTDeviceCache cache = load("default-not-remembered");
    ASSERT_EQ(cache.deviceCount(), 1u);
    EXPECT_FALSE(cache.deviceAt(0)->isBookmarked());
    EXPECT_EQ(cache.getBTDevice(&kC), nullptr);
}

TEST_P(LoadSaved, SameAddressTwiceGivesTwoRecords) {
    BTDeviceCache cache = load("duplicate");
    ASSERT_EQ(cache.deviceCount(), 2u);
    EXPECT_NE(cache.deviceAt(0), cache.deviceAt(1));
    EXPECT_EQ(cache.getBTDevice(&kA), cache.deviceAt(0));
    EXPECT_EQ(cache.deviceAt(1)->deviceName(), std::optional<std::string>("Twice"));
}

TEST_P(LoadSaved, PartialDeviceEntries) {
    BTDeviceCache cache = load("partial-entries");
    ASSERT_EQ(cache.deviceCount(), 3u);
    EXPECT_EQ(cache.deviceAt(0)->deviceName(), std::optional<std::string>("Name only"));
    EXPECT_EQ(cache.deviceAt(0)->deviceClass(), 0u);
    EXPECT_FALSE(cache.deviceAt(1)->deviceName().has_value());
    EXPECT_EQ(cache.deviceAt(1)->deviceClass(), 0x1f00u);
    EXPECT_EQ(cache.deviceAt(1)->nameOrAddress(), "0a:1b:2c:3d:4e:5f");
    EXPECT_FALSE(cache.deviceAt(2)->deviceName().has_value());  // no entry at all
    EXPECT_EQ(cache.deviceAt(2)->deviceClass(), 0u);
}

TEST_P(LoadSaved, UpperCaseElementMissesLowerCaseEntry) {
    BTDeviceCache cache = load("upper-case");
    ASSERT_EQ(cache.deviceCount(), 1u);
    auto b = cache.deviceAt(0);
    EXPECT_EQ(*b->getDeviceAddress(), kB);
    EXPECT_FALSE(b->deviceName().has_value());
    EXPECT_EQ(b->deviceClass(), 0u);
    EXPECT_TRUE(b->isBookmarked());  // "default" has the same upper-case text
}

TEST_P(LoadSaved, ValuesOfOtherKindsAreSkipped) {
    // remembered: A, 42, "not an address", a dictionary, B, C; default 7.
    BTDeviceCache cache = load("odd-types");
    ASSERT_EQ(cache.deviceCount(), 3u);
    EXPECT_EQ(*cache.deviceAt(0)->getDeviceAddress(), kA);
    EXPECT_EQ(*cache.deviceAt(1)->getDeviceAddress(), kB);
    EXPECT_EQ(*cache.deviceAt(2)->getDeviceAddress(), kC);
    EXPECT_FALSE(cache.deviceAt(0)->deviceName().has_value());  // name 5
    EXPECT_EQ(cache.deviceAt(0)->deviceClass(), 0u);            // class "x"
    EXPECT_FALSE(cache.deviceAt(1)->deviceName().has_value());  // entry not a dictionary
    EXPECT_EQ(cache.deviceAt(2)->deviceName(), std::optional<std::string>("Wide class"));
    EXPECT_EQ(cache.deviceAt(2)->deviceClass(), 0x1f00u);  // 2^32 + 0x1f00, low 32 bits
    for (uint32_t i = 0; i < 3; ++i) EXPECT_FALSE(cache.deviceAt(static_cast<int32_t>(i))->isBookmarked());
    const bdaddr zero{};
    EXPECT_EQ(cache.getBTDevice(&zero), nullptr);  // nothing loaded as 00:00:00:00:00:00
}

TEST_P(LoadSaved, ClassTakesTheLow32Bits) {
    BTDeviceCache cache = load("class-values");
    ASSERT_EQ(cache.deviceCount(), 2u);
    EXPECT_EQ(cache.deviceAt(0)->deviceClass(), 0xffffffffu);  // -1
    EXPECT_EQ(cache.deviceAt(1)->deviceClass(), 5u);           // 2^40 + 5
}

TEST_P(LoadSaved, AppendsWithoutClearing) {
    use(std::string(GetParam()) + "/a-then-b");
    BTDeviceCache cache;
    auto found = record(kC, false);
    cache.addBTDevice(found);
    cache.loadSaved();
    ASSERT_EQ(cache.deviceCount(), 3u);
    EXPECT_EQ(cache.deviceAt(0), found);
    EXPECT_EQ(*cache.deviceAt(2)->getDeviceAddress(), kB);
}

INSTANTIATE_TEST_SUITE_P(Forms, LoadSaved, ::testing::Values("xml", "binary"));

using LoadSavedBroken = test::PrefsTest;

TEST_F(LoadSavedBroken, UnreadableMainFileLoadsNothing) {
    for (const char* name : {"garbage", "truncated-binary", "truncated-xml", "array-root", "empty",
                             "nul-key-binary", "far-date-binary"}) {
        use(std::string("unreadable/") + name);
        BTDeviceCache cache;
        cache.loadSaved();
        EXPECT_TRUE(cache.empty()) << name;
    }
    use("xml/remembered-not-array");
    BTDeviceCache cache;
    cache.loadSaved();
    EXPECT_TRUE(cache.empty());
}

TEST_F(LoadSavedBroken, UnreadableDevicesFileLeavesNamesOut) {
    use("xml/a-then-b");
    std::filesystem::copy_file(test::kPrefsData + "/unreadable/truncated-binary/com.quiloe.vexod.plist",
                               devices_preferences_path(), std::filesystem::copy_options::overwrite_existing);
    BTDeviceCache cache;
    EXPECT_FALSE(cache.getDeviceDictionary("00:11:22:33:44:55").has_value());
    cache.loadSaved();
    ASSERT_EQ(cache.deviceCount(), 2u);
    EXPECT_EQ(cache.deviceAt(0)->nameOrAddress(), "00:11:22:33:44:55");
    EXPECT_TRUE(cache.deviceAt(1)->isBookmarked());
}

TEST(BTDeviceCacheList, UnsavedPositionsAndClearing) {
    BTDeviceCache cache;
    EXPECT_EQ(cache.getBTDevice(&kA), nullptr);
    auto a = record(kA, true), x = record(kC, false), b = record(kB, true), y = record(kC, false);
    for (const auto& d : {a, x, b, y}) cache.addBTDevice(d);
    cache.addBTDevice(nullptr);  // not listed
    ASSERT_EQ(cache.deviceCount(), 4u);

    EXPECT_EQ(cache.getUnsaved(), (std::vector<uint32_t>{1, 3}));
    EXPECT_EQ(cache.getBTDevice(&kC), x);  // the first of two with that address
    bdaddr near = kC;
    near.addr[5] ^= 1;
    EXPECT_EQ(cache.getBTDevice(&near), nullptr);
    cache.clearUnsaved();
    ASSERT_EQ(cache.deviceCount(), 2u);
    EXPECT_EQ(cache.deviceAt(0), a);
    EXPECT_EQ(cache.deviceAt(1), b);
    EXPECT_TRUE(cache.getUnsaved().empty());
    EXPECT_EQ(x.use_count(), 1);  // the list let go of it

    EXPECT_EQ(cache.deviceAt(2), nullptr);
    EXPECT_EQ(cache.deviceAt(-1), nullptr);
    cache.removeDeviceAt(7);  // out of range: nothing happens
    cache.removeDeviceAt(0);
    EXPECT_EQ(cache.deviceAt(0), b);
    cache.clearAllDevices();
    EXPECT_TRUE(cache.empty());
}

// sharedCache is one per process and loads once. The checks run in a forked
// child so that they see a process in which nobody has made the singleton
// yet, whether this binary runs one test (ctest) or all of them.
using SharedCache = test::PrefsTest;

TEST_F(SharedCache, LoadsOnce) {
    use("binary/a-then-b");
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        BTDeviceCache* shared = BTDeviceCache::sharedCache();
        bool ok = shared && shared->deviceCount() == 2 && shared->deviceAt(1)->isBookmarked();
        std::filesystem::remove(main_preferences_path());
        use("xml/partial-entries");  // three devices now on disk
        ok = ok && BTDeviceCache::sharedCache() == shared && shared->deviceCount() == 2;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace vgps
