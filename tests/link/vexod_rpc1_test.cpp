// Framing: sending whole messages and every result code of the receive path.
#include "link/vexod_rpc1.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include "link/utility.h"
#include "platform/log.h"
#include "support/sockets.h"

namespace vgps {
namespace {

using test::Bytes;
using test::frame;
using Lines = std::vector<std::string>;

// A non-blocking application end, a peer end, and a record of every
// peer-disconnect reaction.
class Framing : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(set_nonblocking(pair_.app()), 1);
        previous_ = vexod_set_peer_disconnect_handler([this](int fd) { disconnects_.push_back(fd); });
    }
    void TearDown() override { vexod_set_peer_disconnect_handler(std::move(previous_)); }

    int recv(uint32_t msgid) {
        ctx_.fd = pair_.app();
        ctx_.msg.reset();
        return vexod_xrecv(msgid, &ctx_);
    }

    test::SocketPair pair_;
    vexod_rpc_ctx ctx_;
    std::vector<int> disconnects_;
    vexod_peer_disconnect_handler previous_;
    LogCapture log_;
};

TEST_F(Framing, SendWritesTheMagicLittleEndianAndTheWholeMessage) {
    uint8_t msg[24] = {};
    put_le32(msg + 4, 24);
    put_le32(msg + 16, 0x01020304);
    msg[23] = 0xEE;
    EXPECT_EQ(vexod_xsend(pair_.app(), msg), 0);
    Bytes got = test::read_exact(pair_.peer(), 24);
    ASSERT_EQ(got.size(), 24u);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 4), (Bytes{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(Bytes(got.begin() + 16, got.begin() + 20), (Bytes{0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(got[23], 0xEE);
}

TEST_F(Framing, SendToAGonePeerFails) {
    pair_.close_peer();
    ::signal(SIGPIPE, SIG_IGN);
    uint8_t msg[20] = {};
    put_le32(msg + 4, 20);
    EXPECT_NE(vexod_xsend(pair_.app(), msg), 0);
}

TEST_F(Framing, ValidResponseIsHandedOverWhole) {
    test::write_all(pair_.peer(), frame(0, 9, 1, {0xAA, 0xBB, 0xCC, 0xDD}));
    ASSERT_EQ(recv(9), 0);
    ASSERT_TRUE(ctx_.msg);
    EXPECT_EQ(get_le32(ctx_.msg.get() + 4), 24u);
    EXPECT_EQ(get_le32(ctx_.msg.get() + 20), 0xDDCCBBAAu);
    EXPECT_TRUE(log_.lines().empty());
    EXPECT_TRUE(disconnects_.empty());
}

TEST_F(Framing, HeaderOnlyResponsePassesTheFrameChecks) {
    test::write_all(pair_.peer(), frame(5, 3, 1));
    EXPECT_EQ(recv(3), 0);
}

TEST_F(Framing, PeerClosingInsideTheHeaderGivesCode1AfterTheReadLine) {
    Bytes f = frame(0, 1, 1);
    test::write_all(pair_.peer(), Bytes(f.begin(), f.begin() + 7));
    pair_.close_peer();
    EXPECT_EQ(recv(1), 1);
    EXPECT_EQ(log_.lines(), (Lines{"<readn> socket read return 0, disconnected",
                                   "<vexod_xrecv> read msg hdr of 20 byte failed"}));
    EXPECT_EQ(disconnects_, std::vector<int>{pair_.app()});
}

TEST_F(Framing, BigEndianMagicGivesCode2AndShowsTheValueAsRead) {
    test::write_all(pair_.peer(), Bytes{0x12, 0x34, 0x56, 0x78});
    test::write_all(pair_.peer(), Bytes(16, 0));
    EXPECT_EQ(recv(1), 2);
    EXPECT_EQ(log_.lines(), Lines{"<vexod_xrecv> invalid magic 0x78563412"});
}

TEST_F(Framing, SizeLimits) {
    test::write_all(pair_.peer(), frame(0, 1, 1, {}, 0x12345678, 19));
    EXPECT_EQ(recv(1), 3);
    test::write_all(pair_.peer(), frame(0, 1, 1, {}, 0x12345678, 52428800));
    EXPECT_EQ(recv(1), 4);
    EXPECT_EQ(log_.lines(), (Lines{"<vexod_xrecv> msgsize is too small", "<vexod_xrecv> msgsize is too big"}));
}

TEST_F(Framing, LargestAcceptedMessageArrivesWhole) {
    const uint32_t size = VEXOD_MAX_MSGSIZE;
    test::PeerThread writer([&] {
        Bytes f = frame(0, 4, 1, {}, 0x12345678, size);
        f.resize(size, 0x5A);
        test::write_all(pair_.peer(), f);
    });
    ASSERT_EQ(recv(4), 0);
    EXPECT_EQ(ctx_.msg[size - 1], 0x5A);
}

TEST_F(Framing, PeerClosingInsideTheBodyGivesCode5) {
    Bytes f = frame(0, 2, 1, Bytes(30, 1));
    f.resize(35);
    test::write_all(pair_.peer(), f);
    pair_.close_peer();
    EXPECT_EQ(recv(2), 5);
    EXPECT_EQ(log_.lines(), (Lines{"<readn> socket read return 0, disconnected",
                                   "<vexod_xrecv> failed to read msg body of 30 bytes"}));
    EXPECT_EQ(disconnects_.size(), 1u);
}

TEST_F(Framing, NotAResponseAndWrongIdConsumeTheMessage) {
    test::write_all(pair_.peer(), frame(0, 7, 0, {1, 2, 3, 4}));  // right id, resp 0
    test::write_all(pair_.peer(), frame(0, 8, 1, {1, 2, 3, 4}));  // another request's id
    test::write_all(pair_.peer(), frame(0, 7, 1, {1, 2, 3, 4}));
    EXPECT_EQ(recv(7), 6);
    EXPECT_EQ(recv(7), 7);
    EXPECT_EQ(recv(7), 0);  // the stream is still in step
    EXPECT_EQ(log_.lines(), (Lines{"<vexod_xrecv> msg is not a resp", "<vexod_xrecv> msgid mismatch"}));
    EXPECT_TRUE(disconnects_.empty());
}

TEST_F(Framing, ChecksRunInOrderFirstFailureDecides) {
    // Bad magic and too small at once: the magic is checked first.
    test::write_all(pair_.peer(), frame(0, 1, 0, {}, 0xDEADBEEF, 3));
    EXPECT_EQ(recv(1), 2);
}

TEST_F(Framing, StreamOutOfStepAfterABadFrameIsGivenUp) {
    test::write_all(pair_.peer(), frame(0, 1, 1, {}, 0x11111111));
    test::write_all(pair_.peer(), frame(0, 1, 1, {}, 0x12345678, 3));
    test::write_all(pair_.peer(), frame(0, 1, 1, {}, 0x12345678, 0xFFFFFFFF));
    EXPECT_EQ(recv(1), 2);
    EXPECT_EQ(recv(1), 3);
    EXPECT_EQ(recv(1), 4);
    EXPECT_EQ(disconnects_.size(), 3u);
}

TEST_F(Framing, SilentDaemonFailsLikeAShortRead) {
    const int saved = read_timeout_ms();
    set_read_timeout_ms(100);
    EXPECT_EQ(recv(1), 1);
    set_read_timeout_ms(saved);
    EXPECT_EQ(log_.lines(), (Lines{"<readn> no data for 100 ms, giving up",
                                   "<vexod_xrecv> read msg hdr of 20 byte failed"}));
    EXPECT_EQ(disconnects_.size(), 1u);
}

}  // namespace
}  // namespace vgps
