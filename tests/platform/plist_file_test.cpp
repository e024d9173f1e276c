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

using test::TempDir;

// What reads back, and how a rewrite keeps what it does not know, are the
// registry's tests (its fixtures, in both forms, read back by plistlib).
// These are the cases only the file layer sees: files too large or too
// deeply nested to be one of ours.
TEST(PlistFile, HugeOrDeepFilesAreUnreadable) {
    TempDir dir;
    test::write_file(dir.file("big.plist"), std::string(kPlistMaxFileSize + 1, ' '));
    EXPECT_EQ(plist_read_dictionary(dir.file("big.plist")).status, PlistReadStatus::Unreadable);
    std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>k</key>";
    for (int i = 0; i < 600; ++i) xml += i < 300 ? "<array>" : "</array>";
    EXPECT_EQ(plist_parse_dictionary(xml + "</dict></plist>").status, PlistReadStatus::Unreadable);
}

// The old permission bits carry over, and no temporary file stays behind,
// even when a write fails.
TEST(PlistFile, WriteKeepsTheModeAndLeavesNothingBehind) {
    TempDir dir;
    const std::string path = dir.file("p.plist");
    PlistDictionary d;
    d.set("v", "first");
    ASSERT_EQ(plist_write_xml_atomically(path, d), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    d.set("v", "second");
    ASSERT_EQ(plist_write_xml_atomically(path, d), 0);
    struct stat after;
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(test::probe_plist(path).json, "{\"v\": \"second\"}");

    EXPECT_EQ(plist_write_xml_atomically(dir.file("no-folder/p.plist"), d), ENOENT);
    // A folder where the file should go is not replaced.
    std::filesystem::create_directory(dir.file("taken"));
    EXPECT_NE(plist_write_xml_atomically(dir.file("taken"), d), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("taken")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);  // p.plist, taken
}

}  // namespace
}  // namespace vgps
