// The RFCOMM bridge with a socket pair standing in for the RFCOMM socket
// (the test plays the receiver on its far end) and the application on the
// real data socket: a real capture streamed through, commands the other
// way, a reader that stalls, and every way the link ends.
#include "bluez/rfcomm_bridge.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "device_peers.h"
#include "platform/fd.h"
#include "platform/log.h"
#include "platform/run_loop.h"
#include "support/temp_dir.h"

namespace vexod::bluez {
namespace {

using namespace std::chrono_literals;
using test::Peer;

// A real receiver's NMEA capture, `copies` times over.
std::string capture(int copies) {
    std::string all;
    for (int i = 0; i < copies; ++i) all += vgps::test::read_file(std::string(VGPS_TEST_DATA_DIR) + "/nmea/haicom-305N.log");
    EXPECT_GT(all.size(), copies * 10000u);
    return all;
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

class RfcommBridgeTest : public ::testing::Test {
public:
    // A new link: the receiver on a fresh socket pair, the bridge open.
    void open(BridgeOptions options) {
        bridge.reset();
        app.reset();
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
        receiver = std::make_unique<Peer>(&loop, fds[1]);
        ends.clear();
        bridge = std::make_unique<RfcommBridge>(&loop, fds[0], options, [this](LinkEnd why, int error) {
            ends.push_back({why, error});
            gone_at_end = !exists(folder());
        });
        std::string error;
        ASSERT_TRUE(bridge->open(&error)) << error;
        EXPECT_EQ(bridge->path().rfind(tmp.path() + "/vexod-link-", 0), 0u) << bridge->path();
    }
    std::string folder() const { return bridge->path().substr(0, bridge->path().rfind('/')); }
    void connect_app() {
        const int fd = vgps::connect_local(bridge->path(), SOCK_CLOEXEC | SOCK_NONBLOCK);
        ASSERT_GE(fd, 0) << bridge->path();
        app = std::make_unique<Peer>(&loop, fd);
    }
    bool run_until(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5000ms) {
        return loop.run_until(done, timeout);
    }
    void settle(std::chrono::milliseconds time) {
        loop.run_until([] { return false; }, time);
    }
    // The one end reported, with its files gone by then.
    void expect_end(LinkEnd why, int error = 0) {
        ASSERT_TRUE(run_until([&] { return !ends.empty(); }));
        settle(100ms);
        ASSERT_EQ(ends.size(), 1u);
        EXPECT_EQ(ends[0].first, why);
        EXPECT_EQ(ends[0].second, error);
        EXPECT_TRUE(gone_at_end);
    }

    vgps::test::TempDir tmp;
    vgps::test::ScopedEnv tmpdir{"TMPDIR", tmp.path()};  // the link's folder goes there
    vgps::LogCapture log;
    vgps::RunLoop loop;
    std::unique_ptr<Peer> receiver;  // the device's end of the RFCOMM link
    std::unique_ptr<Peer> app;       // the application on the data socket
    std::unique_ptr<RfcommBridge> bridge;
    std::vector<std::pair<LinkEnd, int>> ends;
    bool gone_at_end = false;
};

TEST_F(RfcommBridgeTest, BothWaysAndAStalledReaderHoldsUpOnlyItsOwnStream) {
    const std::string stream = capture(32);  // many times the buffers of the bridge
    open(BridgeOptions{.buffer_bytes = 4096});
    // The receiver starts talking before the application is there.
    receiver->send(stream.substr(0, 5000));
    settle(50ms);
    connect_app();
    const std::string command = "$PSRF103,00,00,01,01*25\r\n";
    app->send(command);
    ASSERT_TRUE(run_until([&] { return receiver->in == command; }));
    EXPECT_TRUE(log.contains("<vexod> data socket " + bridge->path() + " connected"));

    // The loop keeps serving everything else while the reader sleeps.
    app->set_reading(false);
    receiver->send(stream.substr(5000));
    int ticks = 0;
    std::function<void()> tick = [&] {
        ++ticks;
        loop.add_timer(10ms, tick);
    };
    loop.add_timer(10ms, tick);
    settle(500ms);
    EXPECT_GE(ticks, 20);
    EXPECT_TRUE(receiver->blocked) << "the receiver is held up, not buffered without end";
    const size_t held = receiver->sent;
    EXPECT_LT(held, stream.size());
    settle(100ms);
    EXPECT_EQ(receiver->sent, held) << "nothing moves while the reader sleeps";

    app->set_reading(true);
    ASSERT_TRUE(run_until([&] { return app->in.size() == stream.size(); }, 20000ms));
    EXPECT_TRUE(app->in == stream) << "every byte, in order";
    EXPECT_TRUE(ends.empty());
    // The application closing ends the link, and the RFCOMM socket with it.
    app->close();
    ASSERT_TRUE(run_until([&] { return receiver->at_end; }));
    expect_end(LinkEnd::AppClosed);
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
        {"the link breaks with bytes on their way to the receiver",
         [](RfcommBridgeTest& t) {
             t.connect_app();
             t.receiver->set_reading(false);
             t.app->send("$PMTK220,1000*1F\r\n");
             t.settle(100ms);
             t.receiver->close();
         },
         LinkEnd::DeviceClosed, ECONNRESET},
        {"the application does not take the receiver's last bytes",
         [](RfcommBridgeTest& t) {
             t.connect_app();
             t.app->set_reading(false);
             t.receiver->send(capture(16));
             t.settle(100ms);
             t.receiver->close();
         },
         LinkEnd::DeviceClosed, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        open(BridgeOptions{.buffer_bytes = 4096, .accept_timeout = 300ms, .drain_timeout = 200ms});
        c.act(*this);
        expect_end(c.why, c.error);
        EXPECT_TRUE(run_until([&] { return receiver->at_end || receiver->closed(); }))
            << "the RFCOMM socket is closed with the link";
    }
}

}  // namespace
}  // namespace vexod::bluez
