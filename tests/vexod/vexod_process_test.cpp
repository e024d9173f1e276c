// The vexod binary, driven by a raw protocol client as the application
// would: its command line, requests, hostile clients and signals; then the
// GPS data link: RFCOMM connects, the NMEA streams on the data sockets and
// their faults. (Search answers are walked by the application's own SDP
// code end to end in tests/link and tests/bluez.)
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fd.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/vexod_client.h"

namespace vexod {
namespace {

using namespace std::chrono_literals;
using vgps::test::Bytes;
using vgps::test::ChildProcess;
using vgps::test::exited_with;
using vgps::test::get32;
using vgps::test::read_file;
using vgps::test::TempDir;
using vgps::test::VexodClient;
using vgps::test::VexodProcess;

// True when the other side closed the stream.
bool hung_up(int fd) {
    char c;
    return ::read(fd, &c, 1) == 0;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string folder_of(const std::string& path) { return path.substr(0, path.rfind('/')); }

// "00:1c:88:30:5e:XX"
vgps::bdaddr address(uint8_t last = 0x01) { return {{0x00, 0x1c, 0x88, 0x30, 0x5e, last}}; }

// The application's end of a link's data socket, once the first byte came.
int open_streaming(const std::string& path) {
    const int fd = vgps::test::connect_unix(path);
    char byte;
    EXPECT_EQ(fd < 0 ? -1 : ::read(fd, &byte, 1), 1) << "streaming on " << path;
    return fd;
}

// Everything up to the end of the stream; closes `fd`.
std::string read_to_end(int fd) {
    std::string all;
    char buf[8192];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
    EXPECT_EQ(n, 0) << "the data socket did not close";
    ::close(fd);
    return all;
}

// Scenarios the daemon cannot use end its start with status 2 and the
// reason, never with an abort (a number too large for a double) or a wait
// (a FIFO nobody writes to, a device that never ends).
TEST(VexodProcess, ScenariosItCannotUse) {
    TempDir dir;
    vgps::test::write_file(dir.file("bad.json"), "{\n\"devices\": [\n{\"address\": 5}]}");
    vgps::test::write_file(dir.file("overflow.json"), R"({"link":{"speed":1e400}})");
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    vgps::test::write_file(dir.file("track.json"),
                           R"({"devices": [{"address": "00:11:22:33:44:55", "nmea_file": "/dev/zero"}]})");
    const std::pair<std::string, std::string> cases[] = {
        {dir.file("bad.json"), "devices[0].address: must be a Bluetooth address"},
        {dir.file("overflow.json"), "line 1, column 22: number overflow parsing '1e400'"},
        {dir.file("fifo"), "is not a regular file (a FIFO)"},
        {"/dev/zero", "is not a regular file (a character device)"},
        {dir.path(), "is a folder, not a file"},
        {dir.file("track.json"), "devices[0].nmea_file: cannot read /dev/zero: is not a regular file"},
    };
    for (const auto& [scenario, reason] : cases) {
        SCOPED_TRACE(scenario);
        ChildProcess vexod({VEXOD_BINARY, "--socket", dir.file("s"), "--scenario", scenario}, dir.file("out"),
                           dir.file("err"));
        EXPECT_TRUE(exited_with(vexod.wait(5000ms), 2));
        EXPECT_NE(read_file(dir.file("err")).find("vexod: bad scenario file " + scenario + ": " + reason),
                  std::string::npos)
            << read_file(dir.file("err"));
        EXPECT_FALSE(exists(dir.file("s")));
    }
}

TEST(VexodProcess, AnswersRequestsAndRefusesWhatItDoesNotKnow) {
    TempDir dir;
    VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({"radio": {"powered": false}})");
    VexodClient client(vexod.socket_path());
    EXPECT_EQ(get32(client.ask(5), 20), 0u) << "off";
    EXPECT_EQ(client.request(15), 100u) << "no inquiry while the radio is off";
    EXPECT_EQ(client.request(6), 0u);
    EXPECT_EQ(get32(client.ask(5), 20), 1u);
    EXPECT_EQ(client.request(77), 101u);
    EXPECT_EQ(client.request(19, Bytes{1, 2, 3}), 102u) << "name request too short";
}

// Hostile clients end their own connections, never the daemon, and never
// hold up the next client.
TEST(VexodProcess, SurvivesGarbageAndStalledClients) {
    TempDir dir;
    VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({})");
    const Bytes whole = vgps::test::frame(2, 1, 0);
    const Bytes inputs[] = {Bytes(100, 0xAB), vgps::test::frame(2, 1, 0, {}, 0x12345678, 0x7FFFFFFF),
                            vgps::test::frame(2, 1, 0, {}, 0x12345678, 3)};
    for (const Bytes& input : inputs) {
        VexodClient client(vexod.socket_path());
        vgps::test::write_all(client.fd(), input);
        EXPECT_TRUE(hung_up(client.fd())) << "the daemon hangs up on input it cannot frame";
    }
    {
        VexodClient leaves_mid_request(vexod.socket_path());
        vgps::test::write_all(leaves_mid_request.fd(), Bytes(whole.begin(), whole.begin() + 10));
    }
    // Half a header, then nothing: the one-client daemon must not be held.
    VexodClient stalled(vexod.socket_path());
    ASSERT_TRUE(vgps::test::write_all(stalled.fd(), Bytes(whole.begin(), whole.begin() + 10)));
    VexodClient next(vexod.socket_path());  // waits in the listen queue meanwhile
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(next.request(2), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
    EXPECT_TRUE(hung_up(stalled.fd()));
    EXPECT_NE(vexod.log().find("client 5 disconnected: its request did not complete within 3 s (10 bytes came)"),
              std::string::npos)
        << vexod.log();
}

TEST(VexodProcess, StopsCleanlyOnSignalsRemovingItsSocket) {
    for (int sig : {SIGINT, SIGTERM}) {
        TempDir dir;
        VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({})");
        VexodClient client(vexod.socket_path());
        vexod.process().signal(sig);
        EXPECT_TRUE(exited_with(vexod.process().wait(5000ms), 0)) << sig;
        EXPECT_FALSE(exists(vexod.socket_path()));
        EXPECT_TRUE(hung_up(client.fd())) << "its client sees the end of the stream";
    }
}

TEST(VexodProcess, ReplacesAStaleSocketButNotALiveOne) {
    TempDir dir;
    // A socket file left behind by a daemon that is gone.
    ::close(vgps::listen_local(dir.file("vexod.sock"), vgps::kBindOnly));
    ASSERT_TRUE(exists(dir.file("vexod.sock")));
    VexodProcess first(VEXOD_BINARY, dir.path(), R"({})");
    EXPECT_TRUE(first.process().running());
    ChildProcess second({VEXOD_BINARY, "--socket", first.socket_path()}, dir.file("o"), dir.file("e"));
    EXPECT_TRUE(exited_with(second.wait(5000ms), 1));
    EXPECT_NE(read_file(dir.file("e")).find("another daemon is listening"), std::string::npos);
    EXPECT_TRUE(exists(first.socket_path()));
}

TEST(VexodLink, FailedConnects) {
    TempDir dir;
    VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({"link": {"speed": 1, "accept_timeout_ms": 300},
      "devices": [
        {"address": "00:1c:88:30:5e:01", "connect_delay_ms": 0, "services": [{"rfcomm_channel": 1}]},
        {"address": "00:1c:88:30:5e:02", "services": [{"rfcomm_channel": 1}], "link_faults": {"connect_result": 4}},
        {"address": "00:1c:88:30:5e:03", "services": [{"rfcomm_channel": 1}], "switched_off": true}]})");
    VexodClient client(vexod.socket_path());

    // A link that is up, then asked for again while the application never
    // connects to it.
    const VexodClient::Link up = client.link(address());
    ASSERT_EQ(up.result, 0u);
    EXPECT_EQ(client.link(address()).result, 16u) << "busy";
    EXPECT_EQ(client.link_end(), 2u) << "the application did not connect";
    EXPECT_FALSE(exists(folder_of(up.path)));

    // No such channel, a connect fault, switched off, not in range.
    const struct {
        uint8_t last, channel;
        uint32_t result;
    } refused[] = {{0x01, 3, 111}, {0x02, 1, 4}, {0x03, 1, 112}, {0x7e, 1, 112}};
    for (const auto& r : refused) {
        const VexodClient::Link c = client.link(address(r.last), r.channel);
        EXPECT_EQ(c.result, r.result) << int(r.last);
        EXPECT_EQ(c.path, "");
    }
}

// However a client goes, the daemon logs a normal disconnect and serves the
// next one.
TEST(VexodLink, SurvivesTheApplicationClosingItsEndAndTheClientLeaving) {
    TempDir dir;
    VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({"link": {"speed": 20}, "devices": [
        {"address": "00:1c:88:30:5e:01", "services": [{"rfcomm_channel": 1}]}]})");
    {
        // It closes with the answer to its request still unread.
        VexodClient client(vexod.socket_path());
        ASSERT_TRUE(vgps::test::write_all(client.fd(), vgps::test::frame(2, 1, 0)));
        pollfd p{client.fd(), POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 5000), 1);
    }
    VexodClient client(vexod.socket_path());
    VexodClient::Link c = client.link(address());
    ::close(open_streaming(c.path));
    EXPECT_EQ(client.link_end(), 3u) << "the application closed its end";
    EXPECT_FALSE(exists(folder_of(c.path)));

    // The same device again; this time the daemon's client leaves while the
    // link streams.
    c = client.link(address());
    const int data = open_streaming(c.path);
    client.close();
    read_to_end(data);
    EXPECT_FALSE(exists(folder_of(c.path)));
    {
        // It closes its data socket and then its connection while the link
        // streams: notification 31 meets a client that has gone.
        VexodClient leaving(vexod.socket_path());
        ::close(open_streaming(leaving.link(address()).path));
    }
    VexodClient next(vexod.socket_path());
    EXPECT_EQ(next.request(5), 0u);
    next.close();
    ASSERT_TRUE(vgps::test::wait_for_text(vexod.process().stderr_path(), "client 4 disconnected"));
    for (const char* n : {"1", "2", "3", "4"}) {
        EXPECT_NE(vexod.log().find(std::string("client ") + n + " disconnected: client closed the connection\n"),
                  std::string::npos)
            << vexod.log();
    }
}

// A socket file bound at `path` and closed, as a killed daemon leaves it.
void leave_dead_socket(const std::string& path) {
    const int fd = vgps::listen_local(path, vgps::kBindOnly);
    EXPECT_GE(fd, 0) << path;
    ::close(fd);
}

TEST(VexodLink, StartRemovesTheLinkFoldersOfAKilledDaemonOnly) {
    TempDir dir, tmp;
    const vgps::test::ScopedEnv tmpdir("TMPDIR", tmp.path());  // where the daemons make their link folders
    const char* const scenario = R"({"link": {"accept_timeout_ms": 60000}, "devices": [
        {"address": "00:1c:88:30:5e:01", "services": [{"rfcomm_channel": 1}]},
        {"address": "00:1c:88:30:5e:05", "services": [{"rfcomm_channel": 1}], "link_faults": {"socket_path": "refused"}}]})";
    std::string killed;  // the folder of a link of a daemon killed while it was up
    {
        VexodProcess vexod(VEXOD_BINARY, dir.path(), scenario, "killed.sock");
        VexodClient client(vexod.socket_path());
        const VexodClient::Link c = client.link(address());
        ASSERT_EQ(c.result, 0u);
        killed = folder_of(c.path);
        vexod.process().signal(SIGKILL);
        vexod.process().wait(5000ms);
    }
    ASSERT_TRUE(exists(killed + "/rfcomm"));

    // Folders that are not a dead link's: something beside the socket,
    // nothing at all, another name, a link to a folder, another user's.
    std::vector<std::string> kept;
    for (const char* name : {"vexod-link-extra1", "vexod-link-empty1", "vexod-linkage", "elsewhere"}) {
        ASSERT_EQ(::mkdir(tmp.file(name).c_str(), 0700), 0);
        if (std::strcmp(name, "vexod-link-empty1") != 0) leave_dead_socket(tmp.file(name) + "/rfcomm");
        kept.push_back(tmp.file(name));
    }
    vgps::test::write_file(tmp.file("vexod-link-extra1/notes"), "mine");
    ASSERT_EQ(::symlink(tmp.file("elsewhere").c_str(), tmp.file("vexod-link-symlnk").c_str()), 0);
    kept.push_back(tmp.file("elsewhere/rfcomm"));
    if (::geteuid() == 0) {
        const std::string foreign = tmp.file("vexod-link-others");
        ASSERT_EQ(::mkdir(foreign.c_str(), 0700), 0);
        leave_dead_socket(foreign + "/rfcomm");
        ASSERT_EQ(::chown((foreign + "/rfcomm").c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
        kept.push_back(foreign + "/rfcomm");
    }

    // The next daemon's start removes the killed one's folder, and only it.
    VexodProcess live(VEXOD_BINARY, dir.path(), scenario, "live.sock");
    EXPECT_FALSE(exists(killed));
    EXPECT_NE(live.log().find("<vexod> removed " + killed + ", left by a daemon that is gone"), std::string::npos)
        << live.log();
    for (const std::string& path : kept) EXPECT_TRUE(exists(path)) << path;

    // The links of a live daemon, one listening, one bound but refusing
    // connections (from the outside, as dead as the killed one), survive
    // the start of another, as they were.
    VexodClient client(live.socket_path());
    const VexodClient::Link listening = client.link(address()), refusing = client.link(address(0x05));
    ASSERT_EQ(listening.result + refusing.result, 0u);
    VexodProcess next(VEXOD_BINARY, dir.path(), "{}", "next.sock");
    EXPECT_EQ(next.log().find("removed"), std::string::npos) << next.log();
    ::close(open_streaming(listening.path));
    EXPECT_EQ(vgps::connect_local(refusing.path), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
}

}  // namespace
}  // namespace vexod
