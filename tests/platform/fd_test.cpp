// Descriptor helpers on real local sockets.
#include "platform/fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
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

// A full socket that nobody reads: the deadline ends the write, which says
// how far it got. (Partial writes to a slow reader and a peer that has gone
// are the daemon protocol's cases: tests/link.)
TEST(Fd, AWriteEndsAtItsDeadlineSayingHowFarItGot) {
    test::SocketPair pair;
    ASSERT_EQ(::fcntl(pair.app(), F_SETFL, O_NONBLOCK), 0);
    const std::vector<uint8_t> big(4 << 20, 0x5A);
    errno = 0;
    const size_t written = send_all(pair.app(), big.data(), big.size(), deadline_after(30ms));
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
    EXPECT_EQ(errno, ETIMEDOUT);
}

}  // namespace
}  // namespace vgps
