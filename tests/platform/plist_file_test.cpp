#include "platform/plist_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/plist_probe.h"
#include "support/temp_dir.h"

namespace vgps {
namespace {

using test::probe_plist;
using test::read_file;
using test::TempDir;
using test::write_file;

const std::string kPrefs = std::string(VGPS_TEST_DATA_DIR) + "/prefs";
const std::string kMain = "com.quiloe.vexod.plist";

class PlistForms : public ::testing::TestWithParam<const char*> {};

// Every kind of value comes in from both forms: the ones this code uses as
// typed values, the others as opaque values.
TEST_P(PlistForms, ReadsEveryKindOfValue) {
    PlistReadResult r = plist_read_dictionary(kPrefs + "/" + GetParam() + "/unknown-keys/" + kMain);
    ASSERT_EQ(r.status, PlistReadStatus::Ok);
    const PlistDictionary& d = r.dictionary;

    ASSERT_NE(d.findString("note"), nullptr);
    EXPECT_EQ(*d.findString("note"), "kept as it is");
    EXPECT_EQ(d.find("count")->asInteger()->asSigned(), 42);
    EXPECT_EQ(d.find("negative")->asInteger()->asSigned(), -5);
    EXPECT_EQ(d.find("huge")->asInteger()->asUnsigned(), UINT64_MAX);
    for (const char* key : {"flag", "off", "ratio", "when", "blob"}) {
        ASSERT_NE(d.find(key), nullptr) << key;
        EXPECT_EQ(d.find(key)->kind(), PlistValue::Kind::Other) << key;
    }
    const PlistDictionary* nested = d.findDictionary("nested");
    ASSERT_NE(nested, nullptr);
    const PlistArray* list = nested->findArray("list");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->size(), 4u);
    EXPECT_EQ((*list)[0].asInteger()->asSigned(), 1);
    EXPECT_EQ(*(*list)[1].asString(), "two");
    EXPECT_EQ((*list)[2].asDictionary()->find("three")->kind(), PlistValue::Kind::Other);
    EXPECT_EQ((*list)[3].asArray()->size(), 1u);

    // Keys keep the order of the file (the generator writes them unsorted).
    std::vector<std::string> keys;
    for (const auto& entry : d) keys.push_back(entry.first);
    EXPECT_EQ(keys.front(), "note");
    EXPECT_EQ(keys.back(), "default");
}

// What is read and written back, unchanged, is the same property list for
// plistlib, down to booleans, reals, dates, data and integers beyond the
// signed 64-bit range; and it is XML.
TEST_P(PlistForms, RewriteIsLosslessForPlistlib) {
    TempDir dir;
    const std::string source = kPrefs + "/" + GetParam() + "/unknown-keys/" + kMain;
    PlistReadResult r = plist_read_dictionary(source);
    ASSERT_EQ(r.status, PlistReadStatus::Ok);
    ASSERT_EQ(plist_write_xml_atomically(dir.file("out.plist"), r.dictionary), 0);

    test::PlistProbe before = probe_plist(source);
    test::PlistProbe after = probe_plist(dir.file("out.plist"));
    ASSERT_EQ(before.status, 0);
    ASSERT_EQ(after.status, 0);
    EXPECT_EQ(after.form, "xml");
    EXPECT_EQ(after.json, before.json);
}

INSTANTIATE_TEST_SUITE_P(Forms, PlistForms, ::testing::Values("xml", "binary"));

TEST(PlistFile, MissingAndUnreadableAreTold) {
    TempDir dir;
    EXPECT_EQ(plist_read_dictionary(dir.file("none.plist")).status, PlistReadStatus::Missing);
    EXPECT_EQ(plist_read_dictionary(dir.file("no-folder/none.plist")).status, PlistReadStatus::Missing);
    EXPECT_FALSE(plist_file_exists(dir.file("none.plist")));

    for (const char* name : {"garbage", "truncated-binary", "truncated-xml", "array-root", "empty",
                             "nul-key-binary", "far-date-binary"}) {
        const std::string path = kPrefs + "/unreadable/" + name + "/" + kMain;
        EXPECT_TRUE(plist_file_exists(path)) << name;
        EXPECT_EQ(plist_read_dictionary(path).status, PlistReadStatus::Unreadable) << name;
    }
    // A folder in the file's place is there, but is no property list.
    EXPECT_EQ(plist_read_dictionary(dir.path()).status, PlistReadStatus::Unreadable);
    // Nor is a file too large to be one of ours.
    write_file(dir.file("big.plist"), std::string(kPlistMaxFileSize + 1, ' '));
    EXPECT_EQ(plist_read_dictionary(dir.file("big.plist")).status, PlistReadStatus::Unreadable);
}

TEST(PlistFile, NestingTooDeepIsRefused) {
    std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>k</key>";
    for (int i = 0; i < 300; ++i) xml += "<array>";
    for (int i = 0; i < 300; ++i) xml += "</array>";
    xml += "</dict></plist>";
    EXPECT_EQ(plist_parse_dictionary(xml).status, PlistReadStatus::Unreadable);
}

TEST(PlistFile, BuiltValuesAreWrittenForPlistlib) {
    TempDir dir;
    PlistDictionary inner;
    inner.set("device-name", "Ünïcødé & <xml>");
    inner.set("device-class", PlistInteger{0x240404});
    PlistDictionary d;
    d.set("remembered", PlistArray{PlistValue("00:11:22:33:44:55"), PlistValue("")});
    d.set("entry", std::move(inner));
    d.set("gone", "x");
    d.set("remembered", PlistArray{PlistValue("0a:1b:2c:3d:4e:5f")});  // replaced in place
    EXPECT_TRUE(d.erase("gone"));
    EXPECT_FALSE(d.erase("gone"));
    ASSERT_EQ(plist_write_xml_atomically(dir.file("p.plist"), d), 0);

    test::PlistProbe probe = probe_plist(dir.file("p.plist"));
    ASSERT_EQ(probe.status, 0);
    EXPECT_EQ(probe.json,
              "{\"entry\": {\"device-class\": 2360324, \"device-name\": \"\\u00dcn\\u00efc\\u00f8d\\u00e9 "
              "& <xml>\"}, \"remembered\": [\"0a:1b:2c:3d:4e:5f\"]}");
    // And our own reader agrees, keys in the order they were set.
    PlistReadResult back = plist_read_dictionary(dir.file("p.plist"));
    ASSERT_EQ(back.status, PlistReadStatus::Ok);
    EXPECT_EQ(back.dictionary.begin()->first, "remembered");
    EXPECT_EQ(*back.dictionary.findDictionary("entry")->findString("device-name"), "Ünïcødé & <xml>");
}

// The new file replaces the old one by rename: a reader that opened the old
// file keeps reading it whole, the old permission bits carry over, and no
// temporary file stays behind.
TEST(PlistFile, WriteReplacesByRename) {
    TempDir dir;
    const std::string path = dir.file(kMain);
    PlistDictionary first;
    first.set("v", "first");
    ASSERT_EQ(plist_write_xml_atomically(path, first), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const std::string old_bytes = read_file(path);

    int old_fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(old_fd, 0);
    PlistDictionary second;
    second.set("v", "second");
    ASSERT_EQ(plist_write_xml_atomically(path, second), 0);

    std::string seen(old_bytes.size() + 16, '\0');
    ssize_t n = ::pread(old_fd, seen.data(), seen.size(), 0);
    ::close(old_fd);
    ASSERT_GE(n, 0);
    seen.resize(static_cast<size_t>(n));
    EXPECT_EQ(seen, old_bytes);

    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(*plist_read_dictionary(path).dictionary.findString("v"), "second");

    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1u);
}

TEST(PlistFile, FailedWriteLeavesNothing) {
    TempDir dir;
    PlistDictionary d;
    d.set("v", "x");
    EXPECT_EQ(plist_write_xml_atomically(dir.file("no-folder/p.plist"), d), ENOENT);
    EXPECT_FALSE(std::filesystem::exists(dir.file("no-folder")));

    // A folder where the file should go is not replaced.
    std::filesystem::create_directory(dir.file("taken"));
    EXPECT_NE(plist_write_xml_atomically(dir.file("taken"), d), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("taken")));
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1u);
}

}  // namespace
}  // namespace vgps
