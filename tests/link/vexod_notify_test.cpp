// The notification dispatcher on a socketpair: size checks, payload
// decoding and the hand-over to the layer above.
#include "link/vexod_notify.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/vexod_rpc1.h"
#include "platform/log.h"
#include "platform/socket.h"
#include "registry/BTDeviceCache.h"
#include "support/sockets.h"
#include "support/temp_dir.h"

namespace vgps {
namespace {

using test::Bytes;
using namespace std::chrono_literals;

// Records what the handlers pass upward.
struct Recorder : VexodNotificationTarget {
    std::vector<std::string> calls;
    std::vector<std::shared_ptr<BTDevice>> found;
    int32_t state_ = 3;

    void serviceQueryResponse_remote_patten_patten_len_attribute_attribute_len_result(
        int, bdaddr remote, const uint8_t* patten, uint32_t patten_len, const uint8_t* attribute,
        uint32_t attribute_len, uint32_t result) override {
        calls.push_back("sdp " + ba2str(remote) + " " + std::string(reinterpret_cast<const char*>(patten)) + "/" +
                        std::to_string(patten_len) + " " + std::string(reinterpret_cast<const char*>(attribute)) +
                        "/" + std::to_string(attribute_len) + " " + std::to_string(result) +
                        (patten[patten_len] == 0 && attribute[attribute_len] == 0 ? " terminated" : ""));
    }
    void inquiryCompleted() override { calls.push_back("inquiry done"); }
    void foundNewDevice(std::shared_ptr<BTDevice> d) override {
        calls.push_back("found " + ba2str(*d->getDeviceAddress()));
        found.push_back(d);
    }
    void getName_length_forDevice(const char* name, uint32_t length, bdaddr a) override {
        calls.push_back("name " + ba2str(a) + " [" + name + "] " + std::to_string(length));
    }
    void connectWithSocketPath_status(const char* path, int32_t status) override {
        calls.push_back(std::string("path [") + path + "] " + std::to_string(status));
    }
    int32_t state() const override { return state_; }
    void stateChangedFrom_To(int32_t from, int32_t to) override {
        calls.push_back("state " + std::to_string(from) + "->" + std::to_string(to));
    }
    void disconnectFromDaemon() override { calls.push_back("disconnect"); }
};

class Notify : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv(kPreferencesDirVariable, prefs.path().c_str(), 1);  // an empty device list
        previous_ = vexod_set_notification_target(&rec);
    }
    void TearDown() override { vexod_set_notification_target(previous_); }

    // Sends one notification and serves it; returns the serve result.
    int serve(const Bytes& frame) {
        EXPECT_TRUE(test::write_all(pair.peer(), frame));
        return vexod_rpc_serve(pair.app());
    }

    test::TempDir prefs;
    Recorder rec;
    test::SocketPair pair;
    VexodNotificationTarget* previous_ = nullptr;
};

const Bytes kAddr = {0x00, 0x0b, 0x0d, 0x88, 0xa2, 0x3c};

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes le32(uint32_t v) {
    Bytes b;
    test::put32(b, v);
    return b;
}
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes inquiry_result(const Bytes& addr, Bytes cod, const std::string& t) {
    return test::frame(28, 0, 0, cat({addr, {0x12, 0x34}, cod, le32(static_cast<uint32_t>(t.size())), le32(7), text(t)}));
}

TEST_F(Notify, InquiryResultBuildsOneRecordPerAddress) {
    LogCapture log;
    EXPECT_EQ(serve(inquiry_result(kAddr, {0x00, 0x1F, 0x00}, "")), 0);
    EXPECT_EQ(serve(inquiry_result(kAddr, {0x5a, 0x02, 0x0c}, "again")), 0);  // known address: nothing
    EXPECT_EQ(serve(inquiry_result({1, 2, 3, 4, 5, 6}, {0x5a, 0x02, 0x0c}, "Garmin")), 0);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"found 00:0b:0d:88:a2:3c", "found 01:02:03:04:05:06"}));
    ASSERT_EQ(rec.found.size(), 2u);
    const auto& first = rec.found[0];
    EXPECT_EQ(first->deviceClass(), 0x001F00u);
    EXPECT_FALSE(first->deviceName().has_value());
    EXPECT_FALSE(first->manufacturer().has_value());  // text length 0
    EXPECT_FALSE(first->isSaved());
    EXPECT_FALSE(first->isBookmarked());
    EXPECT_EQ(rec.found[1]->deviceClass(), 0x5a020cu);
    EXPECT_EQ(rec.found[1]->manufacturer(), "Garmin");
    BTDeviceCache* cache = BTDeviceCache::sharedCache();
    EXPECT_EQ(cache->getBTDevice(first->getDeviceAddress()), first);
    EXPECT_EQ(log.lines(), std::vector<std::string>(3, "<notify_inquiry_result> "));
}

TEST_F(Notify, InquiryResultWithBadUtf8HasNoManufacturer) {
    EXPECT_EQ(serve(inquiry_result({9, 9, 9, 9, 9, 9}, {0, 0, 0}, "\xff\xfe")), 0);
    ASSERT_EQ(rec.found.size(), 1u);
    EXPECT_FALSE(rec.found[0]->manufacturer().has_value());
}

TEST_F(Notify, VariableFieldsAreCopiedWithATerminatingZero) {
    // Service search of exactly 38 bytes with both lengths 0.
    EXPECT_EQ(serve(test::frame(25, 0, 0, cat({kAddr, le32(0), le32(0), le32(0)}))), 0);
    // Pattern and attributes behind each other.
    EXPECT_EQ(serve(test::frame(25, 0, 0, cat({kAddr, le32(2), le32(3), le32(0x03020004), text("PPAAA")}))), 0);
    // Name of length 0 still reaches the manager.
    EXPECT_EQ(serve(test::frame(29, 0, 0, cat({kAddr, le32(0), le32(4)}))), 0);
    // A zero inside a name ends the text early; the length stays.
    EXPECT_EQ(serve(test::frame(29, 0, 0, cat({kAddr, le32(5), le32(0), {'a', 'b', 0, 'c', 'd'}}))), 0);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{
                             "sdp 00:0b:0d:88:a2:3c /0 /0 0 terminated",
                             "sdp 00:0b:0d:88:a2:3c PP/2 AAA/3 50462724 terminated",
                             "name 00:0b:0d:88:a2:3c [] 0",
                             "name 00:0b:0d:88:a2:3c [ab] 5",
                         }));
}

TEST_F(Notify, RfcommNotifications) {
    LogCapture log;
    const std::string path = "/tmp/vexod-rfcomm-1";
    const Bytes payload = cat({kAddr, {3}, le32(static_cast<uint32_t>(path.size())), le32(0xFFFFFFFF), text(path)});
    EXPECT_EQ(serve(test::frame(30, 0, 0, payload)), 0);
    EXPECT_EQ(serve(test::frame(31, 0, 0, cat({kAddr, {3}, le32(0)}))), 0);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"path [/tmp/vexod-rfcomm-1] -1", "state 3->1"}));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "<notify_rfcomm_connected> ",
                               "<notify_rfcomm_connected> result -1 channel 3 sockpath /tmp/vexod-rfcomm-1",
                               "<notify_rfcomm_disconnected> ",
                           }));
}

TEST_F(Notify, ShortOrOverlongNotificationsAreDroppedSilently) {
    LogCapture log;
    const std::string path = "/tmp/p";
    // Function 30 one byte short of 35 + path length.
    Bytes short30 = test::frame(30, 0, 0, cat({kAddr, {1}, le32(6), le32(0), text(path)}));
    short30.pop_back();
    test::Bytes fixed = short30;
    fixed[4] = static_cast<uint8_t>(short30.size());
    EXPECT_EQ(serve(fixed), 0);
    // Lengths whose sum wraps around in 32 bits.
    EXPECT_EQ(serve(test::frame(25, 0, 0, cat({kAddr, le32(0xFFFFFFFF), le32(1), le32(0), text("0123456789")}))),
              0);
    EXPECT_EQ(serve(test::frame(29, 0, 0, cat({kAddr, le32(0xFFFFFFFF), le32(0)}))), 0);
    // Too short for the fixed fields, and ids without a handler.
    EXPECT_EQ(serve(test::frame(26, 0, 0, {1, 2, 3})), 0);
    EXPECT_EQ(serve(test::frame(31, 0, 0, cat({kAddr, {3}, {0, 0, 0}}))), 0);
    EXPECT_EQ(serve(test::frame(35, 0, 0, cat({kAddr, le32(0)}))), 0);
    EXPECT_EQ(serve(test::frame(0, 9, 1, le32(0))), 0);  // a stray response
    EXPECT_EQ(serve(test::frame(99, 0, 0)), 0);
    EXPECT_TRUE(rec.calls.empty());
    EXPECT_TRUE(log.lines().empty());
    // The stream is still in step: the next notification is served.
    EXPECT_EQ(serve(test::frame(26, 0, 0, le32(0))), 0);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"inquiry done"}));
}

TEST_F(Notify, FramingErrorsRunThePeerDisconnectReaction) {
    int reactions = 0;
    auto previous = vexod_set_peer_disconnect_handler([&](int) { ++reactions; });
    LogCapture log;
    pair.close_peer();
    EXPECT_EQ(vexod_rpc_serve(pair.app()), 1);
    EXPECT_EQ(reactions, 1);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"<readn> socket read return 0, disconnected",
                                                     "<vexod_rpc_serve> read msg hdr of 20 byte failed"}));
    vexod_set_peer_disconnect_handler(previous);
}

// Registered the way the daemon manager registers the daemon socket.
struct Scheduled {
    std::unique_ptr<Socket> socket;
    explicit Scheduled(RunLoop* loop, int fd) {
        socket = Socket::create(PF_LOCAL, SOCK_STREAM, 0, kSocketReadCallBack, vexod_rpc_callback, nullptr);
        ::dup2(fd, socket->native());
        socket->schedule(loop);
    }
};

TEST_F(Notify, TwoQueuedNotificationsAreServedOneCallbackEach) {
    RunLoop loop;
    Scheduled s(&loop, pair.app());
    ASSERT_TRUE(test::write_all(pair.peer(), cat({test::frame(26, 0, 0, le32(0)), test::frame(27, 0, 0, le32(0))})));
    loop.run_once(1000ms);
    EXPECT_EQ(rec.calls.size(), 1u);
    loop.run_once(1000ms);
    EXPECT_EQ(rec.calls.size(), 2u);
    EXPECT_FALSE(loop.run_once(20ms));
}

TEST_F(Notify, CallbackIgnoresOtherTypesAndEmptySockets) {
    LogCapture log;
    RunLoop loop;
    Scheduled s(&loop, pair.app());
    vexod_rpc_callback(s.socket.get(), 8, nullptr, nullptr, nullptr);
    vexod_rpc_callback(s.socket.get(), kSocketReadCallBack, nullptr, nullptr, nullptr);  // nothing to read: returns
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"<vexod_rpc_callback> unknown socket callback type: 8"}));
    EXPECT_TRUE(rec.calls.empty());
}

}  // namespace
}  // namespace vgps
