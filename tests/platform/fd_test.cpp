// Descriptor helpers on real sockets and pipes.
#include "platform/fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/sockets.h"
#include "support/temp_dir.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;

TEST(Fd, LocalPathsFitWithTheirZeroOrAreRefusedWhole) {
    test::TempDir dir;
    std::string path = dir.file("");
    path += std::string(kMaxLocalSocketPath - path.size(), 's');
    sockaddr_un a;
    ASSERT_TRUE(local_address(path, &a));
    EXPECT_EQ(std::string(a.sun_path), path);
    const int listener = listen_local(path, 1);
    ASSERT_GE(listener, 0) << std::strerror(errno);
    const int client = connect_local(path);
    EXPECT_GE(client, 0) << std::strerror(errno);
    ::close(client);
    ::close(listener);

    errno = 0;
    EXPECT_FALSE(local_address(path + "s", &a));
    EXPECT_EQ(errno, ENAMETOOLONG);
    const size_t open_before = test::open_descriptor_count();
    EXPECT_EQ(connect_local(path + "s"), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_EQ(connect_local(dir.file("nobody")), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(listen_local(dir.file("no-such-folder/s"), 1), -1);
    EXPECT_EQ(test::open_descriptor_count(), open_before) << "nothing left open by a failure";
}

TEST(Fd, WaitsEndAtTheDeadlineOrWhenTheDescriptorIsReady) {
    test::SocketPair pair;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(wait_fd(pair.app(), POLLIN, deadline_after(50ms)), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
    test::PeerThread peer([&] {
        std::this_thread::sleep_for(20ms);
        test::write_all(pair.peer(), {1});
    });
    EXPECT_EQ(wait_fd(pair.app(), POLLIN, kNoDeadline) & POLLIN, POLLIN);
}

TEST(Fd, WritesEverythingOrSaysHowFarItGot) {
    // A full socket that nobody reads: the deadline ends the write.
    test::SocketPair pair;
    ASSERT_EQ(::fcntl(pair.app(), F_SETFL, O_NONBLOCK), 0);
    const std::vector<uint8_t> big(4 << 20, 0x5A);
    errno = 0;
    const size_t written = send_all(pair.app(), big.data(), big.size(), deadline_after(30ms));
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
    EXPECT_EQ(errno, ETIMEDOUT);

    // A peer that has gone: EPIPE, and the process lives on with SIGPIPE
    // at its default.
    ::signal(SIGPIPE, SIG_DFL);
    pair.close_peer();
    EXPECT_EQ(send_all(pair.app(), big.data(), 10), 0u);
    EXPECT_EQ(errno, EPIPE);

    // Any descriptor: a pipe, read by a slow reader.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::vector<uint8_t> got;
    test::PeerThread reader([&] {
        std::this_thread::sleep_for(20ms);
        got = test::read_exact(fds[0], big.size());
    });
    EXPECT_EQ(write_all(fds[1], big.data(), big.size()), big.size());
    reader.join();
    EXPECT_EQ(got, big);
    ::close(fds[0]);
    ::close(fds[1]);
}

}  // namespace
}  // namespace vgps
