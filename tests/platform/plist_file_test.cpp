#include "platform/plist_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "support/plist_probe.h"
#include "support/temp_dir.h"

namespace vgps {
namespace {

using test::probe_plist;
using test::TempDir;

class PlistForms : public ::testing::TestWithParam<const char*> {};

// What is read and written back, unchanged, is the same property list for
// plistlib, down to escaped and non-ASCII text, booleans, reals, dates, data
// and integers beyond the signed 64-bit range; and it is XML.
TEST_P(PlistForms, RewriteIsLosslessForPlistlib) {
    TempDir dir;
    const std::string source =
        std::string(VGPS_TEST_DATA_DIR) + "/prefs/" + GetParam() + "/unknown-keys/com.quiloe.vexod.plist";
    PlistReadResult r = plist_read_dictionary(source);
    ASSERT_EQ(r.status, PlistReadStatus::Ok);
    ASSERT_EQ(plist_write_xml_atomically(dir.file("out.plist"), r.dictionary), 0);

    test::PlistProbe before = probe_plist(source);
    test::PlistProbe after = probe_plist(dir.file("out.plist"));
    ASSERT_EQ(after.status, 0);
    EXPECT_EQ(after.form, "xml");
    EXPECT_EQ(after.json, before.json);
}

INSTANTIATE_TEST_SUITE_P(Forms, PlistForms, ::testing::Values("xml", "binary"));

// Broken property lists are exercised through the registry's fixtures; these
// are the cases only the file layer sees.
TEST(PlistFile, MissingAndUnreadableAreTold) {
    TempDir dir;
    EXPECT_EQ(plist_read_dictionary(dir.file("no-folder/none.plist")).status, PlistReadStatus::Missing);
    // A folder in the file's place is there, but is no property list.
    EXPECT_EQ(plist_read_dictionary(dir.path()).status, PlistReadStatus::Unreadable);
    // Nor is a file too large to be one of ours.
    test::write_file(dir.file("big.plist"), std::string(kPlistMaxFileSize + 1, ' '));
    EXPECT_EQ(plist_read_dictionary(dir.file("big.plist")).status, PlistReadStatus::Unreadable);
    // Nor one nested deep enough to exhaust the stack.
    std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>k</key>";
    for (int i = 0; i < 600; ++i) xml += i < 300 ? "<array>" : "</array>";
    EXPECT_EQ(plist_parse_dictionary(xml + "</dict></plist>").status, PlistReadStatus::Unreadable);
}

// The new file replaces the old one by rename (a new inode), the old
// permission bits carry over, and no temporary file stays behind, even when
// a write fails.
TEST(PlistFile, WriteReplacesByRenameAndLeavesNothingBehind) {
    TempDir dir;
    const std::string path = dir.file("p.plist");
    PlistDictionary d;
    d.set("v", "first");
    ASSERT_EQ(plist_write_xml_atomically(path, d), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    struct stat before, after;
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    d.set("v", "second");
    ASSERT_EQ(plist_write_xml_atomically(path, d), 0);
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(probe_plist(path).json, "{\"v\": \"second\"}");

    EXPECT_EQ(plist_write_xml_atomically(dir.file("no-folder/p.plist"), d), ENOENT);
    // A folder where the file should go is not replaced.
    std::filesystem::create_directory(dir.file("taken"));
    EXPECT_NE(plist_write_xml_atomically(dir.file("taken"), d), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("taken")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);  // p.plist, taken
}

}  // namespace
}  // namespace vgps
