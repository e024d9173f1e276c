// DaemonManager end to end against the real vexod daemon, started by each
// test on a socket in its own temp folder.
#include "link/DaemonManager.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "link/utility.h"
#include "link/vexod_rpc1.h"
#include "platform/alert.h"
#include "platform/device_info.h"
#include "platform/log.h"
#include "platform/run_loop.h"
#include "registry/BTDeviceCache.h"
#include "recording_delegate.h"
#include "support/process.h"
#include "support/sockets.h"
#include "support/temp_dir.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;

// Every report goes into the log as well, so that the order of log lines
// and reports can be checked in one list.
struct Delegate : test::RecordingDelegate {
    Delegate() { also_log = true; }
};

struct Presenter : AlertPresenter {
    void present(const AlertView& a) override {
        log_error("<%s> %s|%s|%s|%zu|%d", "alert", a.title().c_str(), a.message().c_str(), a.cancelButtonTitle().c_str(),
                  a.otherButtonTitles().size(), a.delegate() != nullptr);
        ++count;
    }
    int count = 0;
};

const char* kThreeDevices = R"({
  "radio": {"powered": false},
  "inquiry": {"end_after_ms": 50},
  "devices": [
    {"address": "00:0b:0d:88:a2:3c", "class": "0x001f00", "name": "GPSlim236", "inquiry_delay_ms": 0},
    {"address": "00:1c:88:30:5e:01", "class": "0x001f00", "name": "BT-GPS 5E01", "inquiry_delay_ms": 0, "repeat": 2},
    {"address": "00:02:78:14:c9:7d", "class": 5898764, "inquiry_delay_ms": 30}
  ]
})";

class DaemonManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The device list starts empty, whatever the machine remembers.
        ::setenv(kPreferencesDirVariable, dir.path().c_str(), 1);
        manager = DaemonManager::sharedManager();
        manager->setDelegate(&delegate);
        previous_presenter = set_alert_presenter(&presenter);
        set_read_timeout_ms(2000);
    }
    void TearDown() override {
        manager->setDelegate(nullptr);
        if (manager->isConnected()) manager->shutdownDaemon();
        set_alert_presenter(previous_presenter);
    }

    void start_daemon(const std::string& scenario) {
        daemon = std::make_unique<test::VexodProcess>(VEXOD_BINARY, dir.path(), scenario);
        manager->setDaemonSocketPath(daemon->socket_path());
    }
    bool run_until(const std::function<bool()>& done) { return RunLoop::main()->run_until(done, 5000ms); }
    bool saw(const std::string& event) {
        return std::find(delegate.events.begin(), delegate.events.end(), event) != delegate.events.end();
    }
    size_t count_lines(const std::string& line) {
        const auto lines = log.lines();
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
    }
    // Position of the first log line equal to `line`, or -1.
    long index_of(const std::string& line) {
        const auto lines = log.lines();
        auto it = std::find(lines.begin(), lines.end(), line);
        return it == lines.end() ? -1 : it - lines.begin();
    }

    test::TempDir dir;
    LogCapture log;
    Delegate delegate;
    Presenter presenter;
    AlertPresenter* previous_presenter = nullptr;
    DaemonManager* manager = nullptr;
    std::unique_ptr<test::VexodProcess> daemon;
};

TEST_F(DaemonManagerTest, ConnectRegistersAndPowersOnARadioThatIsOff) {
    start_daemon(R"({"radio": {"powered": false}})");
    EXPECT_TRUE(manager->connectToDaemon());
    EXPECT_EQ(manager->state(), DaemonStateConnected);
    EXPECT_TRUE(manager->isConnected());
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"initial 1"}));
    EXPECT_EQ(count_lines("<vexod_register_application> funcid = 2"), 1u);
    EXPECT_EQ(count_lines("<vexod_power_on> funcid = 6"), 1u);
    EXPECT_EQ(count_lines("<-[DaemonManager initializeDaemon]> 0"), 2u);  // power state, then power on
    EXPECT_EQ(index_of("<-[DaemonManager connectToDaemon]> Running on Linux ..."), 0);
    // The first requests of the process carry ids 1, 2, 3.
    EXPECT_NE(daemon->log().find("request 2 (register application), msgid 1"), std::string::npos);
    EXPECT_NE(daemon->log().find("request 6 (power on), msgid 3"), std::string::npos);
}

TEST_F(DaemonManagerTest, RadioAlreadyOnGetsNoPowerOn) {
    start_daemon(R"({"radio": {"powered": true}})");
    EXPECT_TRUE(manager->connectToDaemon());
    EXPECT_EQ(count_lines("<vexod_get_power_state> funcid = 5"), 1u);
    EXPECT_EQ(count_lines("<vexod_power_on> funcid = 6"), 0u);
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"initial 1"}));
}

TEST_F(DaemonManagerTest, InquiryFindsEachDeviceOnceAndNamesResolveOneByOne) {
    start_daemon(kThreeDevices);
    ASSERT_TRUE(manager->connectToDaemon());
    manager->startInquiry();
    EXPECT_EQ(count_lines("<-[DaemonManager startInquiry]> 0"), 1u);
    ASSERT_TRUE(run_until([&] { return saw("stopped 1"); }));
    // The second device is reported twice by the radio: one record, one report.
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"initial 1", "found 00:0b:0d:88:a2:3c", "found 00:1c:88:30:5e:01",
                                                         "found 00:02:78:14:c9:7d", "stopped 1"}));
    BTDeviceCache* cache = BTDeviceCache::sharedCache();
    ASSERT_EQ(cache->deviceCount(), 3u);
    EXPECT_EQ(cache->deviceAt(2)->deviceClass(), 0x5a020cu);
    EXPECT_EQ(cache->deviceAt(0)->deviceClass(), 0x001f00u);
    EXPECT_EQ(count_lines("<notify_inquiry_result> "), 4u);

    // One request at a time, each after the previous answer.
    delegate.events.clear();
    for (uint32_t i = 0; i < 3; ++i) {
        const size_t before = delegate.events.size();
        manager->requestNameForDevice(*cache->deviceAt(static_cast<int32_t>(i)));
        ASSERT_TRUE(run_until([&] { return delegate.events.size() > before; }));
    }
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"name 00:0b:0d:88:a2:3c GPSlim236 ok",
                                                         "name 00:1c:88:30:5e:01 BT-GPS 5E01 ok",
                                                         "name 00:02:78:14:c9:7d <none> failed"}));
    EXPECT_EQ(cache->deviceAt(0)->deviceName(), "GPSlim236");
    EXPECT_FALSE(cache->deviceAt(2)->deviceName().has_value());  // a failed lookup leaves the record as it was
    EXPECT_EQ(manager->state(), DaemonStateConnected);
}

TEST_F(DaemonManagerTest, DaemonKilledIsNoticedLoggedAndAnnounced) {
    start_daemon(R"({})");
    ASSERT_TRUE(manager->connectToDaemon());
    daemon->process().signal(SIGKILL);
    ASSERT_TRUE(run_until([&] { return presenter.count > 0; }));
    EXPECT_EQ(manager->state(), DaemonStateDisconnected);
    EXPECT_FALSE(manager->isConnected());
    const long a = index_of("<readn> socket read return 0, disconnected");
    const long b = index_of("<vexod_rpc_serve> read msg hdr of 20 byte failed");
    const long c = index_of("<delegate> state 1->0");
    const long d = index_of("<alert> Daemon disconnected|The vexod daemon exited.|Dismiss|0|0");
    EXPECT_GE(a, 0);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_LT(c, d);
    EXPECT_EQ(presenter.count, 1);
    // Nothing is left registered with the run loop: no further callbacks.
    EXPECT_FALSE(RunLoop::main()->run_once(50ms));
}

TEST_F(DaemonManagerTest, ReconnectKeepsMessageIdsRising) {
    start_daemon(R"({})");
    ASSERT_TRUE(manager->connectToDaemon());
    const uint32_t after_first = msgids.load();
    manager->shutdownDaemon();
    EXPECT_EQ(manager->state(), DaemonStateDisconnected);
    ASSERT_TRUE(manager->connectToDaemon());
    EXPECT_EQ(msgids.load(), after_first + 2);  // register, power state
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"initial 1", "state 1->0", "initial 1"}));
    const std::string log_text = daemon->log();
    EXPECT_NE(log_text.find("request 2 (register application), msgid " + std::to_string(after_first + 1)),
              std::string::npos);
    EXPECT_LT(log_text.find("client 1 disconnected"), log_text.find("client 2 connected"));
}

TEST_F(DaemonManagerTest, ConnectWhileConnectedReplacesTheConnection) {
    start_daemon(R"({})");
    ASSERT_TRUE(manager->connectToDaemon());
    // The daemon serves one client at a time: this only succeeds when the
    // first connection has been closed.
    ASSERT_TRUE(manager->connectToDaemon());
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"initial 1", "initial 1"}));
    manager->startInquiry();
    EXPECT_EQ(count_lines("<-[DaemonManager startInquiry]> 0"), 1u);

    // A replacement that fails leaves no connection, and says so.
    manager->setDaemonSocketPath(dir.file("nobody"));
    EXPECT_FALSE(manager->connectToDaemon());
    EXPECT_FALSE(manager->isConnected());
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"initial 1", "initial 1", "state 1->0"}));
}

TEST_F(DaemonManagerTest, NoDaemonListening) {
    manager->setDaemonSocketPath(dir.file("nobody"));
    EXPECT_FALSE(manager->connectToDaemon());
    EXPECT_EQ(manager->state(), DaemonStateDisconnected);
    EXPECT_TRUE(delegate.events.empty());
    EXPECT_EQ(index_of("<-[DaemonManager connectToDaemon]> failed to connect: No such file or directory"), 1);

    // Requests without a connection fail cleanly.
    log.clear();
    manager->startInquiry();
    manager->requestNameForDevice(BTDevice());
    EXPECT_EQ(count_lines("<-[DaemonManager startInquiry]> 1"), 1u);
    EXPECT_EQ(count_lines("<-[DaemonManager requestNameForDevice:]> 1"), 1u);
    EXPECT_TRUE(delegate.events.empty());
}

TEST_F(DaemonManagerTest, DaemonLostWhileConnectingFailsTheConnect) {
    // The daemon hangs up on the power-state request, after answering the
    // registration.
    start_daemon(R"({"faults": {"hang_up_at_request": 2}})");
    EXPECT_FALSE(manager->connectToDaemon());
    EXPECT_EQ(manager->state(), DaemonStateDisconnected);
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"state 0->0"}));  // the loss, never a state 1
    EXPECT_EQ(presenter.count, 1);
}

TEST_F(DaemonManagerTest, MalformedFrameGivesUpTheConnection) {
    start_daemon(R"({"radio": {"powered": true}, "faults": {"malformed_frame": {"after_requests": 2, "kind": "bad_magic"}}})");
    ASSERT_TRUE(manager->connectToDaemon());
    ASSERT_TRUE(run_until([&] { return presenter.count > 0; }));
    EXPECT_EQ(index_of("<vexod_rpc_serve> invalid magic 0x78563412") >= 0, true);
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"initial 1", "state 1->0"}));
}

TEST_F(DaemonManagerTest, SlowResponseIsWaitedFor) {
    start_daemon(R"({"faults": {"delay_response": [{"funcid": 15, "ms": 300}]}})");
    ASSERT_TRUE(manager->connectToDaemon());
    manager->startInquiry();
    EXPECT_EQ(count_lines("<-[DaemonManager startInquiry]> 0"), 1u);
    ASSERT_TRUE(run_until([&] { return saw("stopped 1"); }));
}

TEST_F(DaemonManagerTest, SimulatorModelUsesTheDevelopmentHost) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kDevelopmentPort);
    a.sin_addr.s_addr = ::inet_addr(kDevelopmentHostAddress);
    const int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 1) != 0) {
        ::close(listener);
        GTEST_SKIP() << "the development port is taken on this machine";
    }
    // The peer takes the register request, then hangs up.
    test::Bytes request;
    test::PeerThread peer([&] {
        const int fd = ::accept(listener, nullptr, nullptr);
        request = test::read_exact(fd, 20);
        ::close(fd);
    });
    set_device_model(kSimulatorModel);
    EXPECT_FALSE(manager->connectToDaemon());  // the peer is gone after one request
    set_device_model("Linux");  // the tests after this one in the same process use the local socket
    peer.join();
    ::close(listener);
    EXPECT_EQ(index_of("<-[DaemonManager connectToDaemon]> Running on iPhone Simulator ..."), 0);
    ASSERT_EQ(request.size(), 20u);
    EXPECT_EQ(test::get32(request, 0), VEXOD_MAGIC);
    EXPECT_EQ(test::get32(request, 16), uint32_t{VEXOD_REGISTER_APPLICATION});
    EXPECT_EQ(manager->state(), DaemonStateDisconnected);
}

// Reports without a daemon, on the singleton.
TEST_F(DaemonManagerTest, StateReportsAsTabled) {
    manager->shutdownDaemon();
    manager->stateChangedFrom_To(0, 1);
    manager->stateChangedFrom_To(1, 1);
    manager->stateChangedFrom_To(1, 3);
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"state 0->0", "state 0->1", "initial 1", "state 1->3"}));
    EXPECT_EQ(manager->state(), 3);
}

TEST_F(DaemonManagerTest, NamesAreStoredAndReported) {
    BTDeviceCache* cache = BTDeviceCache::sharedCache();
    const bdaddr a{{1, 2, 3, 4, 5, 6}};
    auto device = std::make_shared<BTDevice>(std::string("Old"), 0, std::nullopt, &a);
    cache->addBTDevice(device);

    manager->getName_length_forDevice("", 0, a);
    EXPECT_EQ(device->deviceName(), "Old");
    manager->getName_length_forDevice("\xff\xfe", 2, a);  // not UTF-8: no name, still a success
    EXPECT_FALSE(device->deviceName().has_value());
    manager->getName_length_forDevice("Holux", 5, a);
    EXPECT_EQ(device->deviceName(), "Holux");
    manager->getName_length_forDevice("x", 1, bdaddr{{9, 9, 9, 9, 9, 9}});  // not in the list: dropped
    manager->setDelegate(nullptr);
    manager->getName_length_forDevice("Other", 5, a);  // no delegate: dropped
    EXPECT_EQ(device->deviceName(), "Holux");
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"name 01:02:03:04:05:06 <none> failed",
                                                         "name 01:02:03:04:05:06 <none> ok",
                                                         "name 01:02:03:04:05:06 Holux ok"}));
}

}  // namespace
}  // namespace vgps
