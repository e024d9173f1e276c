// DaemonManager end to end against the real vexod daemon.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/vexod_rpc1.h"
#include "manager_fixture.h"
#include "platform/device_info.h"
#include "support/sockets.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;
using test::Events;

// A daemon played by a thread: it accepts one connection on `listener` and
// sends back, for each request, the frames `answer` makes of it.
class ScriptedDaemon {
public:
    using Answer = std::function<std::vector<test::Bytes>(const test::Bytes& request)>;
    ScriptedDaemon(int listener, Answer answer)
        : thread_([listener, answer = std::move(answer), this] {
              const int fd = ::accept(listener, nullptr, nullptr);
              for (test::Bytes req; (req = test::read_exact(fd, VEXOD_HEADER_SIZE)).size() == VEXOD_HEADER_SIZE;) {
                  const vexod_msg_header h = vexod_header_load(req.data());
                  const test::Bytes body = test::read_exact(fd, h.msgsize - VEXOD_HEADER_SIZE);
                  req.insert(req.end(), body.begin(), body.end());
                  for (const test::Bytes& f : answer(req)) test::write_all(fd, f);
              }
              if (fd >= 0) ::close(fd);
          }) {}
    void join() { thread_.join(); }

private:
    test::PeerThread thread_;
};

uint32_t msgid_of(const test::Bytes& req) { return vexod_header_load(req.data()).msgid; }

test::Bytes hex_bytes(const std::string& hex) {
    test::Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

test::Bytes ok(const test::Bytes& req, uint32_t value = 1) {
    return vexod_frame(vexod_result_msg{value}, VEXOD_RESULT_SUCCESS, msgid_of(req), 1);
}

// The search answer of a real device: one serial port record, channel 1;
// nothing when `req` is not a service search.
std::optional<test::Bytes> search_answer(const test::Bytes& req) {
    static const test::Bytes records =
        hex_bytes(test::read_file(std::string(VGPS_TEST_DATA_DIR) + "/sdp/rn-spp.hex"));
    vexod_service_search_msg search;
    if (vexod_header_load(req.data()).funcid != VEXOD_SERVICE_ATTRIBUTE_SEARCH ||
        !vexod_decode(req.data(), static_cast<uint32_t>(req.size()), &search))
        return std::nullopt;
    return vexod_frame(vexod_search_response_msg{search.remote, {}, vexod_bytes(records), 0});
}

class DaemonManagerTest : public test::ManagerTest {
protected:
    // Connects the manager to a daemon played by a thread (`answer` makes
    // its answers), runs `body`, then shuts the connection down, which ends
    // the thread. No ASSERT in `body`: leaving early would wait for the
    // thread for ever.
    void with_scripted_daemon(const std::string& name, ScriptedDaemon::Answer answer,
                              const std::function<void()>& body) {
        const std::string path = dir.file(name);
        const int listener = test::listen_unix(path);
        ScriptedDaemon daemon_thread(listener, std::move(answer));
        manager->setDaemonSocketPath(path);
        if (manager->connectToDaemon()) {
            body();
        } else {
            ADD_FAILURE() << "no connection to the scripted daemon";
            ::shutdown(listener, SHUT_RDWR);  // wakes the accept
        }
        manager->shutdownDaemon();
        daemon_thread.join();
        ::close(listener);
    }
};

TEST_F(DaemonManagerTest, ConnectRegistersAndPowersOnOnlyARadioThatIsOff) {
    for (const bool powered : {false, true}) {
        SCOPED_TRACE(powered ? "radio on" : "radio off");
        start_daemon(std::string(R"({"radio": {"powered": )") + (powered ? "true" : "false") + "}}",
                     powered ? "on.sock" : "off.sock");
        log.clear();
        delegate.events.clear();
        EXPECT_TRUE(manager->connectToDaemon());
        EXPECT_EQ(delegate.events, Events{"initial 1"});
        EXPECT_EQ(log.lines().at(0), "<-[DaemonManager connectToDaemon]> Running on Linux ...");
        EXPECT_EQ(count_lines("<vexod_register_application> funcid = 2"), 1);
        EXPECT_EQ(count_lines("<vexod_power_on> funcid = 6"), powered ? 0 : 1);
        manager->shutdownDaemon();
    }
}

TEST_F(DaemonManagerTest, DaemonLostWhileConnectingIsNotReportedAsConnected) {
    // The daemon hangs up on the power-state request, right after register.
    start_daemon(R"({"faults": {"hang_up_at_request": 2}})");
    EXPECT_FALSE(manager->connectToDaemon());
    EXPECT_FALSE(manager->isConnected());
    EXPECT_EQ(manager->state(), DaemonStateDisconnected);
    EXPECT_EQ(std::count(delegate.events.begin(), delegate.events.end(), "initial 1"), 0);
}

TEST_F(DaemonManagerTest, ADaemonBusyWithAnotherApplicationIsNotAnnouncedAsExited) {
    start_daemon(R"({})");
    // Another application holds the one-client daemon: this connection
    // waits in the listen queue and its register request gets no answer.
    const int other = test::connect_unix(daemon->socket_path());
    ASSERT_TRUE(test::wait_for_text(daemon->process().stderr_path(), "client 1 connected"));
    set_read_timeout_ms(300);
    EXPECT_FALSE(manager->connectToDaemon());
    set_read_timeout_ms(3000);
    EXPECT_FALSE(manager->isConnected());
    EXPECT_EQ(count_lines("<alert> Daemon not answering|The vexod daemon did not answer. It may be busy serving "
                          "another application.|Dismiss|0|0"),
              1);
    EXPECT_EQ(count_lines("<alert> Daemon disconnected|The vexod daemon exited.|Dismiss|0|0"), 0);
    EXPECT_EQ(std::count(delegate.events.begin(), delegate.events.end(), "initial 1"), 0);
    // Once the other application has gone, the daemon is there again.
    ::close(other);
    EXPECT_TRUE(manager->connectToDaemon());
}

// A folder inside the test's own in which `user` may make its socket.
std::string folder_for(const test::TempDir& dir, test::RunAs user) {
    EXPECT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string folder = dir.file("other-user");
    EXPECT_EQ(::mkdir(folder.c_str(), 0755), 0);
    EXPECT_EQ(::chown(folder.c_str(), user.uid, user.gid), 0);
    return folder;
}

TEST_F(DaemonManagerTest, ADaemonOfAnotherUserIsRefusedLikeAMissingOne) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a daemon as another user";
    // Any local user can bind the daemon's path first; this one is nobody.
    test::VexodProcess other(VEXOD_BINARY, folder_for(dir, test::kNobody), "{}", "vexod.sock", test::kNobody);
    manager->setDaemonSocketPath(other.socket_path());
    EXPECT_FALSE(manager->connectToDaemon());
    EXPECT_FALSE(manager->isConnected());
    EXPECT_EQ(manager->state(), DaemonStateDisconnected);
    EXPECT_TRUE(delegate.events.empty());
    EXPECT_EQ(count_lines("<-[DaemonManager connectToDaemon]> refusing the daemon on " + other.socket_path() +
                          ": it runs as uid 65534 (nobody), neither root nor this user (uid 0)"),
              1);
    // Not a word was said to it.
    EXPECT_EQ(count_lines("<vexod_register_application> funcid = 2"), 0);
    ASSERT_TRUE(test::wait_for_text(other.process().stderr_path(), "client 1 disconnected"));
    EXPECT_EQ(other.log().find("request"), std::string::npos) << other.log();
}

// A daemon that refuses the service search, or the RFCOMM connect, sends no
// notification for it: the device must not be left connecting.
TEST_F(DaemonManagerTest, RefusedSearchOrConnectIsReportedInsteadOfWaitingForever) {
    for (const uint32_t refused : {20u, 12u}) {
        SCOPED_TRACE(refused);
        const auto answer = [&](const test::Bytes& req) {
            if (vexod_header_load(req.data()).funcid == refused)
                return std::vector<test::Bytes>{vexod_frame(vexod_no_payload{}, VEXOD_RESULT_UNKNOWN_FUNCTION,
                                                            msgid_of(req), 1)};
            std::vector<test::Bytes> out{ok(req)};
            if (auto records = search_answer(req)) out.push_back(*records);
            return out;
        };
        with_scripted_daemon("scripted-" + std::to_string(refused), answer, [&] {
            delegate.events.clear();
            manager->connectToDevice(BTDevice());
            EXPECT_TRUE(run_until([&] { return !delegate.events.empty(); }));
            EXPECT_EQ(manager->state(), DaemonStateConnected);
            const std::string report = delegate.events.empty() ? "" : delegate.events.back();
            EXPECT_EQ(report.rfind(refused == 20 ? "show Service Searching|" : "show Connection|", 0), 0u) << report;
        });
    }
}

// A daemon that sends each name (notification 29) just before the response
// to its request 19.
TEST_F(DaemonManagerTest, ANameArrivingBeforeItsResponseIsServedOnceTheRequestHasReturned) {
    const auto answer = [](const test::Bytes& req) {
        std::vector<test::Bytes> out;
        vexod_request_name_msg r;
        if (vexod_header_load(req.data()).funcid == VEXOD_REQUEST_NAME &&
            vexod_decode(req.data(), static_cast<uint32_t>(req.size()), &r)) {
            const std::string name = "GPS " + std::to_string(r.remote.addr[0]);
            out.push_back(vexod_frame(vexod_name_complete_msg{r.remote, vexod_bytes(name), 0}));
        }
        out.push_back(ok(req));
        return out;
    };
    with_scripted_daemon("scripted-names", answer, [&] {
        // The scan as the main screen runs it: the next name is asked for
        // once the previous one has been reported.
        for (uint8_t last : {1, 2, 3}) {
            const bdaddr address{{last, 0, 0, 0, 0, 0}};
            deviceList.addBTDevice(std::make_shared<BTDevice>(std::nullopt, 0x1f00, std::nullopt, &address));
        }
        delegate.events.clear();
        for (int32_t i = 0; i < 3; ++i) {
            log.clear();
            manager->requestNameForDevice(*deviceList.deviceAt(i));
            if (!run_until([&] { return delegate.events.size() > static_cast<size_t>(i); })) {
                ADD_FAILURE() << "no name for device " << i;
                break;
            }
            const auto lines = log.lines();
            const auto answered = std::find(lines.begin(), lines.end(), "<-[DaemonManager requestNameForDevice:]> 0");
            const auto served = std::find(lines.begin(), lines.end(), "<notify_requst_name_complete> ");
            EXPECT_LT(answered, served) << "the request returned first";
            EXPECT_NE(served, lines.end());
            EXPECT_EQ(count_lines("<vexod_xrecv> msg is not a resp"), 0);
        }
        EXPECT_EQ(delegate.events, (Events{"name 01:00:00:00:00:00 GPS 1 ok", "name 02:00:00:00:00:00 GPS 2 ok",
                                           "name 03:00:00:00:00:00 GPS 3 ok"}));
    });
}

// A trusted daemon hands over the path of a data socket that another user's
// process has bound: the link is refused like one that does not connect.
TEST_F(DaemonManagerTest, ADataSocketOfAnotherUserIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a process as another user";
    test::VexodProcess other(VEXOD_BINARY, folder_for(dir, test::kNobody), "{}", "data.sock", test::kNobody);
    const auto answer = [&](const test::Bytes& req) {
        std::vector<test::Bytes> out{ok(req)};
        if (auto records = search_answer(req)) out.push_back(*records);
        vexod_rfcomm_connect_msg connect;
        if (vexod_header_load(req.data()).funcid == VEXOD_RFCOMM_CONNECT &&
            vexod_decode(req.data(), static_cast<uint32_t>(req.size()), &connect))
            out.push_back(vexod_frame(
                vexod_rfcomm_connected_msg{connect.remote, connect.channel, vexod_bytes(other.socket_path()), 0}));
        return out;
    };
    with_scripted_daemon("scripted-link", answer, [&] {
        delegate.events.clear();
        manager->connectToDevice(BTDevice());
        EXPECT_TRUE(run_until([&] { return !delegate.events.empty(); }));
        EXPECT_EQ(delegate.events,
                  (Events{"initial 1", "show Connection|Could be connect to remote serial port service."}));
        EXPECT_EQ(manager->dataDescriptor(), -1);
        EXPECT_EQ(count_lines("<-[DaemonManager connectWithSocketPath:status:]> refusing the data socket " +
                              other.socket_path() +
                              ": it runs as uid 65534 (nobody), neither root nor this user (uid 0)"),
                  1);
    });
}

TEST_F(DaemonManagerTest, SideObserversHearEachReportJustBeforeTheDelegate) {
    start_daemon(R"({"inquiry": {"end_after_ms": 20}, "devices": [
      {"address": "00:0b:0d:88:a2:3c", "name": "GPSlim236", "switched_off": true}]})");
    test::RecordingDelegate observer("observer");
    manager->addObserver(&observer);
    manager->addObserver(&observer);  // once is enough
    ASSERT_TRUE(manager->connectToDaemon());
    manager->startInquiry();
    ASSERT_TRUE(run_until([&] { return delegate.events.back() == "stopped 1"; }));
    manager->connectToDevice(*deviceList.deviceAt(0));
    ASSERT_TRUE(run_until([&] { return delegate.events.back().rfind("show ", 0) == 0; }));

    std::vector<std::string> reports;
    for (const std::string& line : log.lines()) {
        if (line.rfind("<observer> ", 0) == 0 || line.rfind("<delegate> ", 0) == 0) reports.push_back(line);
    }
    const std::string search_failed = "show Service Searching|Could be perform service searching, make sure the device is on.";
    EXPECT_EQ(reports, (std::vector<std::string>{
                           "<observer> initial 1", "<delegate> initial 1",
                           "<observer> found 00:0b:0d:88:a2:3c", "<delegate> found 00:0b:0d:88:a2:3c",
                           "<observer> stopped 1", "<delegate> stopped 1",
                           "<observer> initial 1", "<delegate> initial 1",
                           "<observer> " + search_failed, "<delegate> " + search_failed}));

    // Gone: not told any more; without a delegate nobody is told.
    manager->removeObserver(&observer);
    log.clear();
    manager->shutdownDaemon();
    EXPECT_EQ(count_lines("<observer> state 1->0"), 0);
    manager->addObserver(&observer);
    manager->setDelegate(nullptr);
    manager->stateChangedFrom_To(0, 1);
    EXPECT_EQ(count_lines("<observer> initial 1"), 0);
    manager->removeObserver(&observer);
}

}  // namespace
}  // namespace vgps
