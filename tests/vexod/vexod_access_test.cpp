// Who may drive the radio: the real vexod's socket is its user's alone
// unless shared with a group, and then its data links are the group's too;
// and the options of one radio are refused with the other.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/process.h"
#include "support/temp_dir.h"
#include "support/vexod_client.h"

namespace {

using namespace std::chrono_literals;
using vgps::test::ChildProcess;
using vgps::test::read_file;
using vgps::test::TempDir;

// Permission bits, owner and group of `path`, as "0660 UID:GID".
std::string mode_of(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    char text[48];
    std::snprintf(text, sizeof text, "%04o %u:%u", st.st_mode & 07777, st.st_uid, st.st_gid);
    return text;
}

TEST(VexodAccess, TheSocketIsTheUsersAloneUnlessSharedWithAGroup) {
    TempDir dir;
    const std::string mine = " " + std::to_string(::geteuid()) + ":" + std::to_string(::getegid());
    {
        // Each link's folder too.
        vgps::test::VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({"devices": [{"address": "00:0b:0d:88:a2:3c",
            "services": [{"rfcomm_channel": 1}]}]})");
        EXPECT_EQ(mode_of(vexod.socket_path()), "0600" + mine);
        vgps::test::VexodClient client(vexod.socket_path());
        const std::string path = client.link(vgps::bdaddr{{0x00, 0x0b, 0x0d, 0x88, 0xa2, 0x3c}}).path;
        EXPECT_EQ(mode_of(path.substr(0, path.rfind('/'))), "0700" + mine);
    }

    // Shared with this process's own group, named as the system names it:
    // the daemon's socket and each link's folder and socket.
    const group* own = ::getgrgid(::getegid());
    vgps::test::write_file(dir.file("gps.json"), R"({"devices": [{"address": "00:0b:0d:88:a2:3c",
        "services": [{"name": "GPS", "rfcomm_channel": 1}]}]})");
    ChildProcess vexod({VEXOD_BINARY, "--socket", dir.file("shared"), "--socket-group",
                        own ? own->gr_name : std::to_string(::getegid()), "--scenario", dir.file("gps.json")},
                       dir.file("shared.out"), dir.file("shared.err"));
    ASSERT_TRUE(vgps::test::wait_for_text(dir.file("shared.err"), "listening on")) << read_file(dir.file("shared.err"));
    EXPECT_EQ(mode_of(dir.file("shared")), "0660" + mine);

    // The link lasts as long as its client.
    vgps::test::VexodClient client(dir.file("shared"));
    const std::string path = client.link(vgps::bdaddr{{0x00, 0x0b, 0x0d, 0x88, 0xa2, 0x3c}}).path;
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(mode_of(path.substr(0, path.rfind('/'))), "0710" + mine)
        << "the group passes through the folder, without listing it";
    EXPECT_EQ(mode_of(path), "0660" + mine);
}

TEST(VexodAccess, EachRadiosOptionsAreRefusedWithTheOther) {
    TempDir dir;
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    for (const Case& c : {
             Case{{"--radio", "radio"}, "vexod: --radio: needs sim or bluez, not \"radio\""},
             Case{{"--radio", "bluez", "--scenario", "x.json"},
                  "vexod: --scenario and --speed are for the simulated radio (--radio sim)"},
             Case{{"--radio=bluez", "--speed", "2"},
                  "vexod: --scenario and --speed are for the simulated radio (--radio sim)"},
             Case{{"--adapter", "hci1"}, "vexod: --adapter and --inquiry-time are for --radio bluez"},
             Case{{"--radio", "bluez", "--adapter", "hci"}, "vexod: --adapter: needs an adapter name such as hci0"},
             Case{{"--radio", "bluez", "--inquiry-time", "0.5"},
                  "vexod: --inquiry-time: needs a number of seconds from 1 to 600"},
             Case{{"--socket-group", "no such group"}, "vexod: --socket-group: needs a group of this system"},
         }) {
        std::vector<std::string> argv{VEXOD_BINARY, "--socket", dir.file("s")};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        ChildProcess vexod(argv, dir.file("out"), dir.file("err"));
        EXPECT_TRUE(vgps::test::exited_with(vexod.wait(10000ms), 2)) << c.message;
        EXPECT_EQ(read_file(dir.file("err")).rfind(c.message, 0), 0u) << read_file(dir.file("err"));
        EXPECT_NE(::access(dir.file("s").c_str(), F_OK), 0) << "nothing listens";
    }
}

}  // namespace
