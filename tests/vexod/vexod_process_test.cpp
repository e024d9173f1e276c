// The vexod binary, driven over a raw socket.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "support/process.h"
#include "support/sockets.h"
#include "support/temp_dir.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;
using test::Bytes;

int connect_to(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    timeval tv{3, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return fd;
}

// Sends a request and returns the 24-byte response (fewer on failure).
Bytes ask(int fd, uint32_t funcid, uint32_t msgid, const Bytes& payload = {}) {
    EXPECT_TRUE(test::write_all(fd, test::frame(funcid, msgid, 0, payload)));
    return test::read_exact(fd, 24);
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

TEST(VexodProcess, HelpAndBadScenario) {
    test::TempDir dir;
    {
        test::ChildProcess help({VEXOD_BINARY, "--help"}, dir.file("out"), dir.file("err"));
        const int status = help.wait(5000ms);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_NE(test::read_file(dir.file("out")).find("--socket PATH"), std::string::npos);
    }
    test::write_file(dir.file("bad.json"), "{\n\"devices\": [\n{\"address\": 5}]}");
    test::ChildProcess bad({VEXOD_BINARY, "--socket", dir.file("s"), "--scenario", dir.file("bad.json")},
                           dir.file("out2"), dir.file("err2"));
    const int status = bad.wait(5000ms);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
    EXPECT_NE(test::read_file(dir.file("err2")).find("devices[0].address: must be a Bluetooth address"),
              std::string::npos);
    EXPECT_FALSE(exists(dir.file("s")));
}

TEST(VexodProcess, AnswersRequestsAndRefusesWhatItDoesNotKnow) {
    test::TempDir dir;
    test::VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({"radio": {"powered": false}})");
    const int fd = connect_to(vexod.socket_path());
    ASSERT_GE(fd, 0);
    Bytes r = ask(fd, 5, 41);
    ASSERT_EQ(r.size(), 24u);
    EXPECT_EQ(test::get32(r, 4), 24u);
    EXPECT_NE(test::get32(r, 8), 0u);   // a response
    EXPECT_EQ(test::get32(r, 12), 41u);  // echoes the id
    EXPECT_EQ(test::get32(r, 16), 0u);
    EXPECT_EQ(test::get32(r, 20), 0u);  // radio off
    EXPECT_EQ(test::get32(ask(fd, 15, 42), 16), 100u) << "no inquiry while the radio is off";
    EXPECT_EQ(test::get32(ask(fd, 6, 43), 16), 0u);
    EXPECT_EQ(test::get32(ask(fd, 5, 44), 20), 1u);
    EXPECT_EQ(test::get32(ask(fd, 77, 45), 16), 101u);
    EXPECT_EQ(test::get32(ask(fd, 19, 46, {1, 2, 3}), 16), 102u) << "name request too short";
    ::close(fd);
}

TEST(VexodProcess, SurvivesGarbageAndServesTheNextClient) {
    test::TempDir dir;
    test::VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({})");
    const Bytes garbage(100, 0xAB);
    const Bytes huge = test::frame(2, 1, 0, {}, 0x12345678, 0x7FFFFFFF);
    const Bytes tiny = test::frame(2, 1, 0, {}, 0x12345678, 3);
    for (const Bytes* input : {&garbage, &huge, &tiny}) {
        const int fd = connect_to(vexod.socket_path());
        ASSERT_GE(fd, 0);
        test::write_all(fd, *input);
        EXPECT_TRUE(test::read_exact(fd, 1).empty()) << "the daemon hangs up on input it cannot frame";
        ::close(fd);
    }
    // A client that leaves in the middle of a request.
    const Bytes whole = test::frame(2, 1, 0);
    int fd = connect_to(vexod.socket_path());
    test::write_all(fd, Bytes(whole.begin(), whole.begin() + 10));
    ::close(fd);
    fd = connect_to(vexod.socket_path());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(test::get32(ask(fd, 2, 7), 12), 7u);
    ::close(fd);
    EXPECT_TRUE(vexod.process().running());
}

TEST(VexodProcess, StopsCleanlyOnSignalsRemovingItsSocket) {
    for (int sig : {SIGINT, SIGTERM}) {
        test::TempDir dir;
        test::VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({})");
        const int client = connect_to(vexod.socket_path());
        ASSERT_GE(client, 0);
        ASSERT_TRUE(exists(vexod.socket_path()));
        vexod.process().signal(sig);
        const int status = vexod.process().wait(5000ms);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << sig;
        EXPECT_FALSE(exists(vexod.socket_path()));
        EXPECT_TRUE(test::read_exact(client, 1).empty()) << "its client sees the end of the stream";
        ::close(client);
    }
}

TEST(VexodProcess, ReplacesAStaleSocketButNotALiveOne) {
    test::TempDir dir;
    // A socket file left behind by a daemon that is gone.
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", dir.file("vexod.sock").c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ::close(fd);
    }
    test::VexodProcess first(VEXOD_BINARY, dir.path(), R"({})");
    EXPECT_TRUE(first.process().running());
    test::ChildProcess second({VEXOD_BINARY, "--socket", first.socket_path()}, dir.file("o"), dir.file("e"));
    const int status = second.wait(5000ms);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_NE(test::read_file(dir.file("e")).find("another daemon is listening"), std::string::npos);
    EXPECT_TRUE(exists(first.socket_path()));
}

}  // namespace
}  // namespace vgps
