// The RFCOMM bridge with a socket pair standing in for the RFCOMM socket
// (the test plays the receiver on its far end) and the application on the
// real data socket: a real capture streamed through, commands the other
// way, a reader that stalls, and every way the link ends.
#include "bluez/rfcomm_bridge.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "device_peers.h"
#include "platform/log.h"
#include "platform/run_loop.h"
#include "support/temp_dir.h"

namespace vexod::bluez {
namespace {

using namespace std::chrono_literals;
using test::capture;
using test::connect_to;
using test::Peer;

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

class RfcommBridgeTest : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_EQ(::setenv("TMPDIR", tmp.path().c_str(), 1), 0);  // the link's folder goes there
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
        receiver = std::make_unique<Peer>(&loop, fds[1]);
    }
    void TearDown() override { ::unsetenv("TMPDIR"); }

    void open(BridgeOptions options) {
        bridge = std::make_unique<RfcommBridge>(&loop, fds[0], options, [this](LinkEnd why, int error) {
            ends.push_back({why, error});
            path_gone_at_end = !exists(bridge->path());
        });
        std::string error;
        ASSERT_TRUE(bridge->open(&error)) << error;
        ASSERT_TRUE(exists(bridge->path()));
        EXPECT_EQ(bridge->path().rfind(tmp.path() + "/vexod-link-", 0), 0u) << bridge->path();
    }
    void connect_app() { app = std::make_unique<Peer>(&loop, connect_to(bridge->path())); }
    bool run_until(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5000ms) {
        return loop.run_until(done, timeout);
    }

    vgps::test::TempDir tmp;
    vgps::LogCapture log;
    vgps::RunLoop loop;
    int fds[2] = {-1, -1};
    std::unique_ptr<Peer> receiver;  // the device's end of the RFCOMM link
    std::unique_ptr<Peer> app;       // the application on the data socket
    std::unique_ptr<RfcommBridge> bridge;
    std::vector<std::pair<LinkEnd, int>> ends;
    bool path_gone_at_end = false;
};

TEST_F(RfcommBridgeTest, ARealCaptureReachesTheApplicationAndCommandsTheReceiver) {
    const std::string stream = capture(16);  // five times the buffers of the bridge and more
    open(BridgeOptions{});
    // The receiver starts talking before the application is there.
    receiver->send(stream.substr(0, 5000));
    loop.run_until([] { return false; }, 50ms);
    connect_app();
    const std::string command = "$PSRF103,00,00,01,01*25\r\n";
    app->send(command);
    ASSERT_TRUE(run_until([&] { return receiver->in == command; }));
    receiver->send(stream.substr(5000));
    receiver->close_when_sent();

    ASSERT_TRUE(run_until([&] { return app->at_end; }, 20000ms));
    EXPECT_EQ(app->in.size(), stream.size());
    EXPECT_TRUE(app->in == stream) << "every byte, in order";
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].first, LinkEnd::DeviceClosed);
    EXPECT_EQ(ends[0].second, 0);
    EXPECT_TRUE(path_gone_at_end);
    EXPECT_EQ(bridge->bytes_to_app(), stream.size());
    EXPECT_EQ(bridge->bytes_to_device(), command.size());
    EXPECT_TRUE(log.contains("<vexod> data socket " + bridge->path() + " connected"));
}

TEST_F(RfcommBridgeTest, AStalledReaderHoldsUpOnlyItsOwnStream) {
    const std::string stream = capture(32);
    open(BridgeOptions{.buffer_bytes = 4096});
    connect_app();
    app->set_reading(false);
    receiver->send(stream);
    // The loop keeps serving everything else while the reader sleeps.
    int ticks = 0;
    std::function<void()> tick = [&] {
        ++ticks;
        loop.add_timer(10ms, tick);
    };
    loop.add_timer(10ms, tick);
    loop.run_until([] { return false; }, 500ms);
    EXPECT_GE(ticks, 20);
    EXPECT_TRUE(receiver->blocked) << "the receiver is held up, not buffered without end";
    EXPECT_LT(receiver->sent, stream.size());
    const uint64_t held = bridge->bytes_to_app();
    loop.run_until([] { return false; }, 100ms);
    EXPECT_EQ(bridge->bytes_to_app(), held) << "nothing moves while the reader sleeps";

    app->set_reading(true);
    ASSERT_TRUE(run_until([&] { return app->in.size() == stream.size(); }, 20000ms));
    EXPECT_TRUE(app->in == stream);
    EXPECT_TRUE(ends.empty());

    // The application closing ends the link, and the RFCOMM socket with it.
    app->close();
    ASSERT_TRUE(run_until([&] { return receiver->at_end; }));
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].first, LinkEnd::AppClosed);
    EXPECT_TRUE(path_gone_at_end);
}

TEST_F(RfcommBridgeTest, EveryEndIsReportedOnce) {
    struct Case {
        const char* what;
        std::function<void(RfcommBridgeTest&)> act;
        LinkEnd why;
        int error;
    };
    const Case cases[] = {
        {"the application never connects", [](RfcommBridgeTest&) {}, LinkEnd::NotConnected, 0},
        {"the application closes at once",
         [](RfcommBridgeTest& t) {
             t.connect_app();
             t.app->close();
         },
         LinkEnd::AppClosed, 0},
        {"the receiver closes before the application comes", [](RfcommBridgeTest& t) { t.receiver->close(); },
         LinkEnd::DeviceClosed, 0},
        {"the receiver's last words wait for an application that never comes",
         [](RfcommBridgeTest& t) {
             t.receiver->send("$GPGGA,1*00\r\n");
             t.receiver->close_when_sent();
         },
         LinkEnd::NotConnected, 0},
        {"the link breaks with bytes on their way to the receiver",
         [](RfcommBridgeTest& t) {
             t.connect_app();
             t.receiver->set_reading(false);
             t.app->send("$PMTK220,1000*1F\r\n");
             t.loop.run_until([] { return false; }, 100ms);
             t.receiver->close();
         },
         LinkEnd::DeviceClosed, ECONNRESET},
        {"the application does not take the receiver's last bytes",
         [](RfcommBridgeTest& t) {
             t.connect_app();
             t.app->set_reading(false);
             t.receiver->send(capture(16));
             t.loop.run_until([] { return false; }, 100ms);
             t.receiver->close();
         },
         LinkEnd::DeviceClosed, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ends.clear();
        app.reset();
        receiver.reset();
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
        receiver = std::make_unique<Peer>(&loop, fds[1]);
        open(BridgeOptions{.buffer_bytes = 4096, .accept_timeout = 300ms, .drain_timeout = 200ms});
        const std::string dir = bridge->path().substr(0, bridge->path().rfind('/'));
        c.act(*this);
        ASSERT_TRUE(run_until([&] { return !ends.empty(); }));
        loop.run_until([] { return false; }, 100ms);
        ASSERT_EQ(ends.size(), 1u);
        EXPECT_EQ(ends[0].first, c.why);
        EXPECT_EQ(ends[0].second, c.error);
        EXPECT_TRUE(path_gone_at_end);
        EXPECT_FALSE(exists(dir));
        EXPECT_TRUE(run_until([&] { return receiver->at_end || receiver->closed(); }))
            << "the RFCOMM socket is closed with the link";
        bridge.reset();
    }
}

TEST_F(RfcommBridgeTest, TheReceiversLastWordsWaitForTheApplication) {
    open(BridgeOptions{});
    const std::string last = capture(1);
    receiver->send(last);
    receiver->close_when_sent();
    loop.run_until([] { return false; }, 100ms);
    EXPECT_TRUE(ends.empty());
    connect_app();
    ASSERT_TRUE(run_until([&] { return app->at_end; }));
    EXPECT_TRUE(app->in == last);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].first, LinkEnd::DeviceClosed);
}

TEST_F(RfcommBridgeTest, DestroyedWhileRunningReportsNothingAndLeavesNothing) {
    open(BridgeOptions{});
    connect_app();
    receiver->send("$GPGGA,1*00\r\n");
    ASSERT_TRUE(run_until([&] { return !app->in.empty(); }));
    const std::string dir = bridge->path().substr(0, bridge->path().rfind('/'));
    bridge.reset();
    EXPECT_FALSE(exists(dir));
    EXPECT_TRUE(run_until([&] { return app->at_end && receiver->at_end; }));
    EXPECT_TRUE(ends.empty());
}

}  // namespace
}  // namespace vexod::bluez
