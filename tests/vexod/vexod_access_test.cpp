// Who may drive the radio: the real vexod's socket is its user's alone
// unless shared with a group, and then its data links are the group's too;
// and the options of one radio are refused with the other.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "link/vexod_wire.h"
#include "support/process.h"
#include "support/sockets.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using vgps::test::Bytes;
using vgps::test::ChildProcess;
using vgps::test::read_file;
using vgps::test::TempDir;

struct stat stat_of(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

// A client asking for an RFCOMM link to `device` channel 1; `path` is the
// data socket's, as notification 30 gives it (empty when none came). The
// link lasts as long as the client.
struct LinkClient {
    LinkClient(const std::string& socket, const vgps::bdaddr& device) : fd(vgps::test::connect_unix(socket)) {
        EXPECT_GE(fd, 0);
        EXPECT_TRUE(vgps::test::write_all(fd, vgps::vexod_frame(vgps::vexod_rfcomm_connect_msg{device, 1, 1},
                                                                vgps::VEXOD_RFCOMM_CONNECT, 1)));
        for (Bytes header; (header = vgps::test::read_exact(fd, 20)).size() == 20;) {
            Bytes frame = header;
            const Bytes body = vgps::test::read_exact(fd, vgps::test::get32(header, 4) - 20);
            frame.insert(frame.end(), body.begin(), body.end());
            vgps::vexod_rfcomm_connected_msg connected;
            if (vgps::test::get32(frame, 16) == vgps::VEXOD_NOTIFY_RFCOMM_CONNECTED &&
                vgps::vexod_decode(frame.data(), static_cast<uint32_t>(frame.size()), &connected)) {
                EXPECT_EQ(connected.result, 0u);
                path = std::string(connected.path.text());
                break;
            }
        }
    }
    ~LinkClient() { ::close(fd); }
    int fd;
    std::string path;
};

TEST(VexodAccess, TheSocketIsTheUsersAloneUnlessSharedWithAGroup) {
    TempDir dir;
    {
        vgps::test::VexodProcess vexod(VEXOD_BINARY, dir.path(), "{}");
        const struct stat st = stat_of(vexod.socket_path());
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(st.st_uid, ::geteuid());
    }

    // Shared with this process's own group, named as the system names it:
    // the daemon's socket and each link's folder and socket.
    const group* own = ::getgrgid(::getegid());
    const std::string name = own ? own->gr_name : std::to_string(::getegid());
    vgps::test::write_file(dir.file("gps.json"), R"({"devices": [{"address": "00:0b:0d:88:a2:3c",
        "services": [{"name": "GPS", "rfcomm_channel": 1}]}]})");
    ChildProcess vexod({VEXOD_BINARY, "--socket", dir.file("shared"), "--socket-group", name, "--scenario",
                        dir.file("gps.json")},
                       dir.file("shared.out"), dir.file("shared.err"));
    ASSERT_TRUE(vgps::test::wait_for_text(dir.file("shared.err"), "listening on")) << read_file(dir.file("shared.err"));
    struct stat st = stat_of(dir.file("shared"));
    EXPECT_EQ(st.st_mode & 07777, 0660u);
    EXPECT_EQ(st.st_gid, ::getegid());

    const LinkClient client(dir.file("shared"), vgps::bdaddr{{0x00, 0x0b, 0x0d, 0x88, 0xa2, 0x3c}});
    const std::string& path = client.path;
    ASSERT_FALSE(path.empty());
    st = stat_of(path.substr(0, path.rfind('/')));
    EXPECT_EQ(st.st_mode & 07777, 0710u) << "the group passes through the folder, without listing it";
    EXPECT_EQ(st.st_gid, ::getegid());
    st = stat_of(path);
    EXPECT_EQ(st.st_mode & 07777, 0660u);
    EXPECT_EQ(st.st_gid, ::getegid());
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
        const int status = vexod.wait(10000ms);
        EXPECT_TRUE(vgps::test::exited_with(status, 2)) << c.message;
        EXPECT_EQ(read_file(dir.file("err")).rfind(c.message, 0), 0u) << read_file(dir.file("err"));
        EXPECT_NE(::access(dir.file("s").c_str(), F_OK), 0) << "nothing listens";
    }
}

}  // namespace
