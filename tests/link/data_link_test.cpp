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
#include "platform/log.h"
#include "platform/notification_center.h"
#include "platform/run_loop.h"
#include "support/sockets.h"
#include "support/temp_dir.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;

struct Recorder : DaemonManagerDelegate {
    std::vector<std::string> events;
    void daemonManager_showTitle_Message(DaemonManager*, const std::string& t, const std::string& m) override {
        events.push_back("show " + t + "|" + m);
    }
    void daemonManager_getDeviceName_forDevice_withResult(DaemonManager*, const std::optional<std::string>&,
                                                          std::shared_ptr<BTDevice>, bool) override {}
    void daemonManager_foundNewDevice(DaemonManager*, std::shared_ptr<BTDevice>) override {}
    void daemonManager_inquiryStopped(DaemonManager*, bool) override {}
    void daemonManager_stateChangedFrom_To(DaemonManager*, int32_t from, int32_t to) override {
        events.push_back("state " + std::to_string(from) + "->" + std::to_string(to));
    }
    void daemonManager_initialStateReterived(DaemonManager*, int32_t s) override {
        events.push_back("initial " + std::to_string(s));
    }
};

const std::string kConnectionAlert = "show Connection|Could be connect to remote serial port service.";

size_t open_descriptors() {
    size_t n = 0;
    DIR* d = ::opendir("/proc/self/fd");
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.') ++n;
    }
    ::closedir(d);
    return n - 1;  // the directory's own descriptor
}

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
        observer = NotificationCenter::defaultCenter()->addObserver(
            kPositionNotificationName, [this](const Notification& n) { positions.push_back(n.userInfo); });
    }
    void TearDown() override {
        NotificationCenter::defaultCenter()->removeObserver(observer);
        manager->disconnectFromDevice();
        manager->setDelegate(nullptr);
    }

    // Links to `receiver` and takes its end of the connection.
    void link(Receiver& receiver, const std::string& path) {
        manager->connectWithSocketPath_status(path.c_str(), 0);
        receiver.accept();
    }
    // Runs the loop until the data socket has nothing more to say.
    void drain() {
        while (RunLoop::main()->run_once(50ms)) {
        }
    }
    static std::string text(const UserInfo& u, const char* key) { return std::get<std::string>(u.at(key)); }
    static double number(const UserInfo& u, const char* key) { return std::get<double>(u.at(key)); }

    test::TempDir dir;
    LogCapture log;
    Recorder delegate;
    DaemonManager* manager = nullptr;
    NotificationCenter::ObserverId observer = 0;
    std::vector<UserInfo> positions;
};

std::string sentence(const std::string& body) {
    unsigned crc = 0;
    for (unsigned char c : body) crc ^= c;
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", crc);
    return "$" + body + tail;
}

const std::string kGGA = sentence("GPGGA,083006.00,4807.040,S,01131.500,W,1,08,0.9,545.4,M,46.9,M,,");
const std::string kRMC = sentence("GPRMC,083005.25,A,4807.038,N,01131.000,E,022.4,084.4,150911,003.1,W");

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

TEST_F(DataLinkTest, LinkedSocketStreamsPositionsBlockByBlock) {
    const std::string path = dir.file("rfcomm");
    Receiver receiver(path);
    link(receiver, path);
    EXPECT_EQ(manager->state(), DaemonStateLinked);
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"state 1->3"}));
    ASSERT_GE(manager->dataDescriptor(), 0);

    // A sentence cut in two: the first block completes nothing and repeats
    // the values of a fresh link.
    receiver.send(kRMC.substr(0, 30));
    drain();
    ASSERT_EQ(positions.size(), 1u);
    EXPECT_EQ(std::get<int64_t>(positions[0].at("FIX")), 1);
    EXPECT_EQ(number(positions[0], "LAT"), 0.0);
    receiver.send(kRMC.substr(30));
    drain();
    ASSERT_EQ(positions.size(), 2u);
    EXPECT_EQ(text(positions[1], "UTC"), "2011/09/15 08:30:05.25");
    EXPECT_EQ(number(positions[1], "LAT"), static_cast<double>(4807.038f));
    EXPECT_EQ(number(positions[1], "LON"), static_cast<double>(1131.000f));

    // 1023 bytes and more waiting: both blocks in one callback.
    std::string burst;
    while (burst.size() < 1023 + kGGA.size()) burst += kGGA;
    receiver.send(burst);
    positions.clear();
    ASSERT_TRUE(RunLoop::main()->run_once(1000ms));
    ASSERT_EQ(positions.size(), 2u);
    EXPECT_EQ(number(positions[1], "LAT"), static_cast<double>(-4807.040f));
    EXPECT_EQ(number(positions[1], "LON"), static_cast<double>(-1131.500f));

    // The receiver hangs up: the socket is dropped and its descriptor
    // closed; the state waits for the daemon's notification 31.
    const int fd = manager->dataDescriptor();
    receiver.close_data();
    drain();
    EXPECT_TRUE(log.contains("<-[DaemonManager readNMEASentences]> rfcomm socket disconnected"));
    EXPECT_EQ(manager->dataDescriptor(), -1);
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
    EXPECT_EQ(manager->state(), DaemonStateLinked);
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"state 1->3"}));
}

TEST_F(DataLinkTest, FailedConnectionResultIsReported) {
    manager->connectWithSocketPath_status(dir.file("never").c_str(), 5);
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"initial 1", kConnectionAlert}));
    EXPECT_EQ(manager->dataDescriptor(), -1);
}

TEST_F(DataLinkTest, SocketThatDoesNotConnectIsDroppedAndReported) {
    const size_t before = open_descriptors();
    manager->connectWithSocketPath_status(dir.file("nobody").c_str(), 0);
    EXPECT_TRUE(log.contains("<-[DaemonManager connectWithSocketPath:status:]> failed to connect: "
                             "No such file or directory"));
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"initial 1", kConnectionAlert}));
    EXPECT_EQ(manager->state(), DaemonStateConnected);
    EXPECT_EQ(manager->dataDescriptor(), -1);
    EXPECT_EQ(open_descriptors(), before);
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

TEST_F(DataLinkTest, ManyLinksLeaveNoDescriptorBehind) {
    const std::string path = dir.file("rfcomm");
    Receiver receiver(path);
    const size_t before = open_descriptors();
    for (int i = 0; i < 50; ++i) {
        link(receiver, path);
        ASSERT_GE(manager->dataDescriptor(), 0);
        receiver.send(kGGA);
        receiver.close_data();
        ASSERT_TRUE(RunLoop::main()->run_until([&] { return manager->dataDescriptor() == -1; }, 2000ms));
    }
    EXPECT_EQ(open_descriptors(), before);
    EXPECT_EQ(positions.size(), 50u);

    // A new link while one is still open replaces it without a leak.
    link(receiver, path);
    receiver.close_data();
    link(receiver, path);
    manager->disconnectFromDevice();
    receiver.close_data();
    EXPECT_EQ(open_descriptors(), before);
}

}  // namespace
}  // namespace vgps
