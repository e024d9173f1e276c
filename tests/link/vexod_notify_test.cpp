// The notification dispatcher on a socketpair: size checks, payload
// decoding and the hand-over to the layer above.
#include "link/vexod_notify.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/log.h"
#include "registry/BTDeviceCache.h"
#include "support/sockets.h"

namespace vgps {
namespace {

using test::Bytes;
using test::le32;
using Lines = std::vector<std::string>;

// Records what the handlers pass upward, one short text per call.
struct Recorder : VexodNotificationTarget {
    Lines calls;
    std::vector<std::shared_ptr<BTDevice>> found;

    void serviceQueryResponse_remote_patten_patten_len_attribute_attribute_len_result(
        int, bdaddr remote, const uint8_t* p, uint32_t p_len, const uint8_t* a, uint32_t a_len, uint32_t r) override {
        calls.push_back("sdp " + ba2str(remote) + " " + reinterpret_cast<const char*>(p) + "/" + std::to_string(p_len) +
                        " " + reinterpret_cast<const char*>(a) + "/" + std::to_string(a_len) + " " +
                        std::to_string(r) + (p[p_len] == 0 && a[a_len] == 0 ? " terminated" : ""));
    }
    void inquiryCompleted() override { calls.push_back("inquiry done"); }
    void foundNewDevice(std::shared_ptr<BTDevice> d) override { found.push_back(d); }
    void getName_length_forDevice(const char* name, uint32_t n, bdaddr a) override {
        calls.push_back("name " + ba2str(a) + " [" + name + "] " + std::to_string(n));
    }
    void connectWithSocketPath_status(const char* path, int32_t status) override {
        calls.push_back(std::string("path [") + path + "] " + std::to_string(status));
    }
    int32_t state() const override { return 3; }
    void stateChangedFrom_To(int32_t from, int32_t to) override {
        calls.push_back("state " + std::to_string(from) + "->" + std::to_string(to));
    }
    void disconnectFromDaemon() override {}
    BTDeviceCache* deviceList() override { return &devices; }
    BTDeviceCache devices;
};

class Notify : public ::testing::Test {
protected:
    void SetUp() override { previous_ = vexod_set_notification_target(&rec); }
    void TearDown() override { vexod_set_notification_target(previous_); }

    // Sends one frame and serves it: read and handled or dropped.
    void serve(const Bytes& frame) {
        EXPECT_TRUE(test::write_all(pair.peer(), frame));
        EXPECT_EQ(vexod_rpc_serve(pair.app()), 0);
    }
    void notify(uint32_t funcid, std::initializer_list<Bytes> payload) {
        serve(test::frame(funcid, 0, 0, test::concat(payload)));
    }

    Recorder rec;
    test::SocketPair pair;
    VexodNotificationTarget* previous_ = nullptr;
};

const Bytes kAddr = {0x00, 0x0b, 0x0d, 0x88, 0xa2, 0x3c};

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST_F(Notify, VariableFieldsAreCopiedWithATerminatingZero) {
    LogCapture log;
    // Service search of exactly 38 bytes with both lengths 0, then pattern
    // and attributes behind each other.
    notify(25, {kAddr, le32(0), le32(0), le32(0)});
    notify(25, {kAddr, le32(2), le32(3), le32(0x03020004), text("PPAAA")});
    // A name of length 0 still reaches the manager; a zero inside a name
    // ends the text early, the length stays.
    notify(29, {kAddr, le32(0), le32(4)});
    notify(29, {kAddr, le32(5), le32(0), {'a', 'b', 0, 'c', 'd'}});
    notify(30, {kAddr, {3}, le32(19), le32(0xFFFFFFFF), text("/tmp/vexod-rfcomm-1")});
    notify(31, {kAddr, {3}, le32(0)});
    EXPECT_EQ(rec.calls, (Lines{"sdp 00:0b:0d:88:a2:3c /0 /0 0 terminated",
                                "sdp 00:0b:0d:88:a2:3c PP/2 AAA/3 50462724 terminated", "name 00:0b:0d:88:a2:3c [] 0",
                                "name 00:0b:0d:88:a2:3c [ab] 5", "path [/tmp/vexod-rfcomm-1] -1", "state 3->1"}));
    EXPECT_EQ(log.lines(),
              (Lines{"<notify_requst_name_complete> ", "<notify_requst_name_complete> ", "<notify_rfcomm_connected> ",
                     "<notify_rfcomm_connected> result -1 channel 3 sockpath /tmp/vexod-rfcomm-1",
                     "<notify_rfcomm_disconnected> "}));
}

TEST_F(Notify, ShortOrOverlongNotificationsAreDroppedSilently) {
    LogCapture log;
    notify(30, {kAddr, {1}, le32(6), le32(0), text("/tmp/")});  // one byte short of 35 + path length
    // Lengths whose sum wraps around in 32 bits.
    notify(25, {kAddr, le32(0xFFFFFFFF), le32(1), le32(0), text("0123456789")});
    notify(29, {kAddr, le32(0xFFFFFFFF), le32(0)});
    // Too short for the fixed fields, a stray response, an id without a handler.
    notify(26, {{1, 2, 3}});
    serve(test::frame(0, 9, 1, le32(0)));
    notify(99, {});
    EXPECT_TRUE(rec.calls.empty() && rec.found.empty());
    EXPECT_TRUE(log.lines().empty());
    notify(26, {le32(0)});  // the stream is still in step
    EXPECT_EQ(rec.calls, Lines{"inquiry done"});
}

}  // namespace
}  // namespace vgps
