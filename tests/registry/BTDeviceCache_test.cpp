#include "registry/BTDeviceCache.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/log.h"
#include "prefs_fixture.h"

namespace vgps {
namespace {

using test::kA;
using test::kB;
using test::kC;

struct Loaded {
    const char* address;
    std::optional<std::string> name;
    uint32_t deviceClass;
    bool bookmarked;
};

class LoadSaved : public test::PrefsTest, public ::testing::WithParamInterface<const char*> {};

// What loadSaved makes of each scenario, from either form of the files. The
// address texts also show that the registry parses with its own str2ba: the
// one libbluetooth exports (linked into this binary) reverses the bytes.
TEST_P(LoadSaved, Scenarios) {
    const std::optional<std::string> none;
    const char* a = "00:11:22:33:44:55";
    const char* b = "0a:1b:2c:3d:4e:5f";
    const char* c = "fe:dc:ba:98:76:54";
    const std::vector<std::pair<const char*, std::vector<Loaded>>> table = {
        {"", {}},  // no file
        {"a-then-b", {{a, "Receiver A", 0x1f00, false}, {b, "Receiver B", 0x240404, true}}},
        {"default-not-remembered", {{a, none, 0, false}}},
        {"duplicate", {{a, "Twice", 0, false}, {a, "Twice", 0, false}}},
        {"partial-entries", {{a, "Name only", 0, false}, {b, none, 0x1f00, false}, {c, none, 0, false}}},
        // "0A:1B:..." misses the devices file's lower-case key, matches "default".
        {"upper-case", {{b, none, 0, true}}},
        // Not strings, not addresses: skipped; names and classes of other
        // kinds: absent; classes keep their low 32 bits; default 7: none.
        {"odd-types", {{a, none, 0, false}, {b, none, 0, false}, {c, "Wide class", 0x1f00, false}}},
        {"class-values", {{a, none, 0xffffffff, false}, {b, none, 5, false}}},
        {"remembered-not-array", {}},
        {"no-remembered", {}},
    };
    for (const auto& [scenario, want] : table) {
        SCOPED_TRACE(scenario);
        use(std::string(GetParam()) + "/" + scenario);
        BTDeviceCache cache;
        cache.loadSaved();
        ASSERT_EQ(cache.deviceCount(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            auto d = cache.deviceAt(static_cast<int32_t>(i));
            EXPECT_EQ(d->addressString(), want[i].address);
            EXPECT_EQ(d->deviceName(), want[i].name);
            EXPECT_EQ(d->deviceClass(), want[i].deviceClass);
            EXPECT_EQ(d->isBookmarked(), want[i].bookmarked);
            EXPECT_TRUE(d->isSaved());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, LoadSaved, ::testing::Values("xml", "binary"));

using CacheFiles = test::PrefsTest;

// Loading appends to what the list holds; a devices file that does not
// parse only leaves the names out.
TEST_F(CacheFiles, AppendsAndSurvivesAnUnreadableDevicesFile) {
    use("xml/a-then-b");
    std::filesystem::copy_file(test::kPrefsData + "/unreadable/truncated-binary/com.quiloe.vexod.plist",
                               devices_preferences_path(), std::filesystem::copy_options::overwrite_existing);
    BTDeviceCache cache;
    auto found = std::make_shared<BTDevice>(std::nullopt, 0, std::nullopt, &kC);
    cache.addBTDevice(found);
    LogCapture log;
    cache.loadSaved();
    ASSERT_EQ(cache.deviceCount(), 3u);
    EXPECT_EQ(cache.deviceAt(0), found);
    EXPECT_EQ(cache.deviceAt(1)->nameOrAddress(), "00:11:22:33:44:55");
    EXPECT_TRUE(cache.deviceAt(2)->isBookmarked());
    // Said once, not once per device.
    EXPECT_EQ(log.lines(), std::vector<std::string>{"<-[BTDeviceCache loadSaved]> skipping " +
                                                     devices_preferences_path() +
                                                     ": not a readable property-list dictionary; the remembered "
                                                     "devices have no names or classes"});
}

// Loading reads the devices file once, however many devices it names: the
// kernel counts the opens.
TEST_F(CacheFiles, ReadsTheDevicesFileOncePerLoad) {
    constexpr int kDevices = 50;
    std::string remembered, entries;
    for (int i = 0; i < kDevices; ++i) {
        const std::string address = ba2str(bdaddr{{0x00, 0x11, 0x22, 0x33, 0x44, static_cast<uint8_t>(i)}});
        remembered += "<string>" + address + "</string>";
        entries += "<key>" + address + "</key><dict><key>device-name</key><string>Receiver " + std::to_string(i) +
                   "</string></dict>";
    }
    test::write_file(mainFile(), "<plist><dict><key>remembered</key><array>" + remembered + "</array></dict></plist>");
    test::write_file(devices_preferences_path(), "<plist><dict>" + entries + "</dict></plist>");

    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // Closes are watched too: the kernel merges an event into the same one
    // queued just before it.
    ASSERT_GE(::inotify_add_watch(watch, devices_preferences_path().c_str(), IN_OPEN | IN_CLOSE), 0);
    BTDeviceCache cache;
    cache.loadSaved();
    int opens = 0;
    alignas(inotify_event) char events[4096];
    for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;) {
        for (char* p = events; p < events + n; p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len)
            opens += (reinterpret_cast<inotify_event*>(p)->mask & IN_OPEN) != 0 ? 1 : 0;
    }
    ::close(watch);
    EXPECT_EQ(opens, 1);
    ASSERT_EQ(cache.deviceCount(), static_cast<uint32_t>(kDevices));
    EXPECT_EQ(cache.deviceAt(kDevices - 1)->deviceName(), "Receiver " + std::to_string(kDevices - 1));
}

TEST(BTDeviceCacheList, UnsavedPositionsAndClearing) {
    BTDeviceCache cache;
    std::vector<std::shared_ptr<BTDevice>> d;
    for (const bdaddr* address : {&kA, &kC, &kB, &kC}) {
        d.push_back(std::make_shared<BTDevice>(std::nullopt, 0, std::nullopt, address));
        d.back()->setIsSaved(address != &kC);
        cache.addBTDevice(d.back());
    }
    cache.addBTDevice(nullptr);  // not listed
    ASSERT_EQ(cache.deviceCount(), 4u);
    EXPECT_EQ(cache.getUnsaved(), (std::vector<uint32_t>{1, 3}));
    EXPECT_EQ(cache.getBTDevice(&kC), d[1]);  // the first of two with that address
    cache.clearUnsaved();
    ASSERT_EQ(cache.deviceCount(), 2u);
    EXPECT_EQ(cache.deviceAt(1), d[2]);
    EXPECT_EQ(d[1].use_count(), 1);  // the list let go of it
    EXPECT_EQ(cache.deviceAt(2), nullptr);
    EXPECT_EQ(cache.deviceAt(-1), nullptr);
    cache.removeDeviceAt(7);  // out of range: nothing happens
    cache.removeDeviceAt(0);
    EXPECT_EQ(cache.deviceAt(0), d[2]);
    cache.clearAllDevices();
    EXPECT_TRUE(cache.empty());
}

}  // namespace
}  // namespace vgps
