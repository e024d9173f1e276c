#include "link/utility.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/log.h"
#include "support/sockets.h"

namespace vgps {
namespace {

using test::Bytes;
using test::SocketPair;

TEST(SetNonblocking, SetsTheFlagAndFailsQuietlyOnABadDescriptor) {
    SocketPair pair;
    EXPECT_EQ(set_nonblocking(pair.app()), 1);
    EXPECT_TRUE(::fcntl(pair.app(), F_GETFL) & O_NONBLOCK);

    LogCapture capture;
    EXPECT_EQ(set_nonblocking(-1), 0);
    EXPECT_TRUE(capture.lines().empty());
}

TEST(Writen, PartialWritesContinueUntilASlowReaderHasEverything) {
    SocketPair pair;
    int small = 4096;
    ASSERT_EQ(::setsockopt(pair.app(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
    ASSERT_EQ(set_nonblocking(pair.app()), 1);

    Bytes payload(1 << 20);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7 + i / 251);

    Bytes received;
    test::PeerThread reader([&] {
        // Slow at first so the writer meets a full socket many times.
        for (int i = 0; i < 20; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            Bytes chunk = test::read_exact(pair.peer(), 1024);
            received.insert(received.end(), chunk.begin(), chunk.end());
        }
        Bytes rest = test::read_exact(pair.peer(), payload.size() - received.size());
        received.insert(received.end(), rest.begin(), rest.end());
    });
    EXPECT_EQ(writen(pair.app(), payload.data(), static_cast<int32_t>(payload.size())),
              static_cast<int>(payload.size()));
    reader.join();
    EXPECT_EQ(received, payload);
}

TEST(Writen, PeerGoneGivesMinusOneAndLogsEpipeWithoutKillingTheProcess) {
    ::signal(SIGPIPE, SIG_IGN);
    SocketPair pair;
    pair.close_peer();
    const uint8_t bytes[20] = {};
    LogCapture capture;
    EXPECT_EQ(writen(pair.app(), bytes, 20), -1);
    ASSERT_EQ(capture.lines().size(), 1u);
    char expected[128];
    std::snprintf(expected, sizeof expected, "<writen> write(%d, %p, %d): Broken pipe", pair.app(),
                  static_cast<const void*>(bytes), 20);
    EXPECT_EQ(capture.lines()[0], expected);
}

TEST(Readn, ReadsAcrossSeveralArrivalsOnANonBlockingSocket) {
    SocketPair pair;
    ASSERT_EQ(set_nonblocking(pair.app()), 1);
    test::PeerThread writer([&] {
        for (uint8_t i = 0; i < 10; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            test::write_all(pair.peer(), Bytes(3, i));
        }
    });
    uint8_t buf[30];
    EXPECT_EQ(readn(pair.app(), buf, 30), 30);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[29], 9);
}

TEST(Readn, PeerClosingMidwayGivesMinusOneWithTheDisconnectLine) {
    SocketPair pair;
    ASSERT_EQ(set_nonblocking(pair.app()), 1);
    test::write_all(pair.peer(), Bytes(5, 1));
    pair.close_peer();
    LogCapture capture;
    uint8_t buf[20];
    EXPECT_EQ(readn(pair.app(), buf, 20), -1);
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"<readn> socket read return 0, disconnected"});
}

TEST(Readn, SilentPeerRunsIntoTheTimeOutInsteadOfSpinning) {
    SocketPair pair;
    ASSERT_EQ(set_nonblocking(pair.app()), 1);
    const int saved = read_timeout_ms();
    set_read_timeout_ms(200);
    LogCapture capture;
    uint8_t buf[4];
    clock_t cpu_before = std::clock();
    EXPECT_EQ(readn(pair.app(), buf, 4), -1);
    // A busy retry loop would burn the whole wait on the processor.
    EXPECT_LT(static_cast<double>(std::clock() - cpu_before) / CLOCKS_PER_SEC, 0.05);
    set_read_timeout_ms(saved);
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"<readn> no data for 200 ms, giving up"});
}

TEST(Readn, ZeroCountSucceedsWithoutReading) {
    SocketPair pair;
    uint8_t buf[1];
    EXPECT_EQ(readn(pair.app(), buf, 0), 0);
}

}  // namespace
}  // namespace vgps
