// The GPS data link of DaemonManager on real local sockets: the test listens
// on a socket in its own temp folder, hands its path to the manager as the
// daemon's notification 30 would, and plays the receiver on the accepted
// connection.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/DaemonManager.h"
#include "link/utility.h"
#include "platform/log.h"
#include "platform/notification_center.h"
#include "platform/run_loop.h"
#include "recording_delegate.h"
#include "support/sockets.h"
#include "support/temp_dir.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;

using Recorder = test::RecordingDelegate;

const std::string kConnectionAlert = "show Connection|Could be connect to remote serial port service.";

// A listening local socket: the receiver's end of the data link.
class Receiver {
public:
    explicit Receiver(const std::string& path) : path_(path) {
        listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
        EXPECT_EQ(0, ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a)) << std::strerror(errno);
        EXPECT_EQ(0, ::listen(listen_fd_, 4));
    }
    ~Receiver() {
        close_data();
        ::close(listen_fd_);
        ::unlink(path_.c_str());
    }
    // The connection the manager made (it completes without an accept).
    void accept() { data_fd_ = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC); }
    void send(const std::string& bytes) {
        ASSERT_TRUE(test::write_all(data_fd_, test::Bytes(bytes.begin(), bytes.end())));
    }
    void close_data() {
        if (data_fd_ >= 0) ::close(data_fd_);
        data_fd_ = -1;
    }

private:
    std::string path_;
    int listen_fd_ = -1;
    int data_fd_ = -1;
};

class DataLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        manager = DaemonManager::sharedManager();
        manager->setDelegate(nullptr);
        manager->stateChangedFrom_To(manager->state(), DaemonStateConnected);  // as after connectToDaemon
        manager->setDelegate(&delegate);
    }
    void TearDown() override {
        manager->disconnectFromDevice();
        manager->setDelegate(nullptr);
    }

    // Links to `receiver` and takes its end of the connection.
    void link(Receiver& receiver, const std::string& path) {
        manager->connectWithSocketPath_status(path.c_str(), 0);
        receiver.accept();
    }

    test::TempDir dir;
    LogCapture log;
    Recorder delegate;
    DaemonManager* manager = nullptr;
};

TEST(PositionText, UtcIsWrittenWithTwoDigitHundredths) {
    nmeaTIME t{111, 8, 15, 8, 30, 5, 25};
    EXPECT_EQ(position_utc_text(t), "2011/09/15 08:30:05.25");
    t.hsec = 7;
    EXPECT_EQ(position_utc_text(t), "2011/09/15 08:30:05.07");
}

TEST(PositionText, UserInfoCarriesTheFourEntriesInSinglePrecision) {
    nmeaINFO info{};
    info.utc = nmeaTIME{111, 8, 15, 8, 30, 5, 25};
    info.fix = 3;
    info.lat = -4807.038;
    info.lon = 1131.0001;
    const UserInfo u = position_user_info(info);
    ASSERT_EQ(u.size(), 4u);
    EXPECT_EQ(std::get<std::string>(u.at("UTC")), "2011/09/15 08:30:05.25");
    EXPECT_EQ(std::get<int64_t>(u.at("FIX")), 3);
    EXPECT_EQ(std::get<double>(u.at("LAT")), static_cast<double>(-4807.038f));
    EXPECT_EQ(std::get<double>(u.at("LON")), static_cast<double>(1131.0001f));
}

TEST_F(DataLinkTest, SocketThatDoesNotConnectIsDroppedAndReported) {
    const size_t before = test::open_descriptor_count();
    manager->connectWithSocketPath_status(dir.file("nobody").c_str(), 0);
    EXPECT_TRUE(log.contains("<-[DaemonManager connectWithSocketPath:status:]> failed to connect: "
                             "No such file or directory"));
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"initial 1", kConnectionAlert}));
    EXPECT_EQ(manager->state(), DaemonStateConnected);
    EXPECT_EQ(manager->dataDescriptor(), -1);
    EXPECT_EQ(test::open_descriptor_count(), before);
    EXPECT_FALSE(RunLoop::main()->run_once(20ms));  // nothing left to spin on
}

TEST_F(DataLinkTest, PathOfMoreThan103BytesIsRefused) {
    // 103 bytes fit the address with the terminating zero.
    std::string fits = dir.file("");
    fits += std::string(103 - fits.size(), 'p');
    {
        Receiver receiver(fits);
        link(receiver, fits);
        EXPECT_EQ(manager->state(), DaemonStateLinked);
        manager->disconnectFromDevice();
    }
    delegate.events.clear();
    manager->stateChangedFrom_To(manager->state(), DaemonStateConnected);
    delegate.events.clear();

    const std::string too_long = fits + "p";
    manager->connectWithSocketPath_status(too_long.c_str(), 0);
    EXPECT_TRUE(log.contains("<-[DaemonManager connectWithSocketPath:status:]> failed to create socket: "
                             "File name too long"));
    EXPECT_EQ(delegate.events, (std::vector<std::string>{kConnectionAlert, "initial 1"}));
    EXPECT_EQ(manager->dataDescriptor(), -1);
}

TEST_F(DataLinkTest, ReplacedOrClosedLinkLeavesNoDescriptor) {
    const std::string path = dir.file("rfcomm");
    Receiver receiver(path);
    const size_t before = test::open_descriptor_count();
    // A new link while one is still open replaces it; closing the device
    // closes the last one.
    link(receiver, path);
    receiver.close_data();
    link(receiver, path);
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"state 1->3", "state 3->3"}));
    manager->disconnectFromDevice();
    receiver.close_data();
    EXPECT_EQ(manager->dataDescriptor(), -1);
    EXPECT_EQ(test::open_descriptor_count(), before);
    EXPECT_FALSE(RunLoop::main()->run_once(20ms));
}

// A peer that has written more than one callback takes: the callback stops
// after its share and the run loop comes back for the rest.
TEST_F(DataLinkTest, OneCallbackTakesAtMost64Blocks) {
    const std::string path = dir.file("rfcomm");
    Receiver receiver(path);
    link(receiver, path);
    int posted = 0;
    const auto observer = NotificationCenter::defaultCenter()->addObserver(kPositionNotificationName,
                                                                           [&](const Notification&) { ++posted; });
    receiver.send(std::string(kNmeaBlockSize * (kNmeaMaxBlocksPerCallback + 2), 'x'));
    ASSERT_TRUE(RunLoop::main()->run_once(1000ms));
    EXPECT_EQ(posted, kNmeaMaxBlocksPerCallback);
    ASSERT_TRUE(RunLoop::main()->run_once(1000ms));
    EXPECT_EQ(posted, kNmeaMaxBlocksPerCallback + 2);
    NotificationCenter::defaultCenter()->removeObserver(observer);
}

// A daemon that refuses the search, then accepts it but refuses the RFCOMM
// connect: no notification would come, so both are reported.
TEST_F(DataLinkTest, RefusedRequestsAreReportedNotWaitedFor) {
    const std::string path = dir.file("daemon");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a));
    ASSERT_EQ(0, ::listen(listener, 1));

    // One record: L2CAP, then RFCOMM channel 1.
    const test::Bytes attrs = {0x35, 0x1B, 0x35, 0x19, 0x09, 0x00, 0x00, 0x0A, 0x00, 0x01, 0x00, 0x00, 0x09, 0x00,
                               0x04, 0x35, 0x0C, 0x35, 0x03, 0x19, 0x01, 0x00, 0x35, 0x05, 0x19, 0x00, 0x03, 0x08, 0x01};
    std::vector<uint32_t> requests;
    test::PeerThread daemon([&] {
        const int fd = ::accept(listener, nullptr, nullptr);
        int searches = 0;
        for (;;) {
            const test::Bytes header = test::read_exact(fd, 20);
            if (header.size() < 20) break;
            test::read_exact(fd, test::get32(header, 4) - 20);
            const uint32_t funcid = test::get32(header, 16), msgid = test::get32(header, 12);
            requests.push_back(funcid);
            test::Bytes value;
            test::put32(value, funcid == 5 ? 1 : 0);  // the radio is on
            const bool refuse = funcid == 12 || (funcid == 20 && ++searches == 1);
            test::write_all(fd, test::frame(refuse ? 100 : 0, msgid, 1, refuse ? test::Bytes{} : value));
            if (funcid == 20 && !refuse) {
                test::Bytes p = {0, 0, 0, 0, 0, 1};
                test::put32(p, 0);
                test::put32(p, static_cast<uint32_t>(attrs.size()));
                test::put32(p, 0);
                p.insert(p.end(), attrs.begin(), attrs.end());
                test::write_all(fd, test::frame(25, 0, 0, p));
            }
        }
        ::close(fd);
    });

    manager->setDelegate(nullptr);
    manager->setDaemonSocketPath(path);
    ASSERT_TRUE(manager->connectToDaemon());
    manager->setDelegate(&delegate);
    const bdaddr address{{0, 0, 0, 0, 0, 1}};
    const BTDevice device(std::nullopt, 0x1f00, std::nullopt, &address);

    manager->connectToDevice(device);
    EXPECT_TRUE(log.contains("<-[DaemonManager connectToDevice:]> service search request failed: 100"));
    EXPECT_EQ(delegate.events, (std::vector<std::string>{
                                   "initial 1",
                                   "show Service Searching|Could be perform service searching, make sure the device is on."}));

    delegate.events.clear();
    manager->connectToDevice(device);
    ASSERT_TRUE(RunLoop::main()->run_until([&] { return delegate.events.size() >= 2; }, 5000ms));
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"initial 1", kConnectionAlert}));
    EXPECT_EQ(manager->state(), DaemonStateConnected);

    manager->shutdownDaemon();
    daemon.join();
    ::close(listener);
    EXPECT_EQ(requests, (std::vector<uint32_t>{2, 5, 20, 20, 12}));
}

}  // namespace
}  // namespace vgps
