// End to end: vexod --radio bluez on the mock BlueZ of a private bus, with
// vexod-gps --headless as its client. The real vexod finds the mock's
// devices and names them; vexod-local-radio (vexod linked with local sockets
// in place of the Bluetooth ones) also searches a device's records, served
// by the test, and streams a real capture from the device's channel to the
// application.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <regex>
#include <string>
#include <vector>

#include "bluez_mock.h"
#include "device_peers.h"
#include "platform/fd.h"
#include "platform/run_loop.h"
#include "sdp_records.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/vexod_client.h"

namespace vexod::bluez {
namespace {

using namespace std::chrono_literals;
using test::BluezMock;
using vgps::test::ChildProcess;
using vgps::test::exited_with;
using vgps::test::output_lines;
using vgps::test::read_file;
using vgps::test::TempDir;
using vgps::test::wait_for_text;

// `binary` with the BlueZ radio on the mock's bus (inherited from the test)
// and a short inquiry, listening in `dir`.
std::unique_ptr<ChildProcess> start_vexod(const TempDir& dir, const char* binary,
                                          std::vector<std::string> extra = {}) {
    std::vector<std::string> argv{binary, "--radio", "bluez", "--socket", dir.file("vexod"), "--inquiry-time", "1"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    auto vexod = std::make_unique<ChildProcess>(argv, dir.file("vexod.out"), dir.file("vexod.err"));
    EXPECT_TRUE(wait_for_text(dir.file("vexod.err"), "listening on")) << read_file(dir.file("vexod.err"));
    return vexod;
}

// The application, without remembered devices.
std::unique_ptr<ChildProcess> start_front_end(const TempDir& dir) {
    const vgps::test::ScopedEnv prefs("VEXOD_GPS_PREFS_DIR", dir.path());
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{VEXOD_GPS_BINARY, "--headless", "--socket", dir.file("vexod"), "--exit-when-done",
                                 "--timeout", "30"},
        dir.file("gps.out"), dir.file("gps.err"));
}

TEST(VexodBluez, TheApplicationListsTheDevicesBluezFindsWithTheirNames) {
    TempDir dir;
    BluezMock mock;
    mock.add_adapter("hci0");
    mock.set_powered("hci0", false);  // the application switches it on
    mock.add_device("hci0", "00:0B:0D:88:A2:3C", "GPSlim236", 0x001f00);
    mock.add_device("hci0", "00:02:78:14:C9:7D", "Pocket Phone", 0x5a020c);
    const std::string late = mock.add_unnamed_device("hci0", "00:1C:88:30:5E:01", 0x001f00);
    mock.add_unnamed_device("hci0", "C0:FF:EE:00:00:01", 0);  // low energy only: no serial port

    auto vexod = start_vexod(dir, VEXOD_BINARY);
    auto gps = start_front_end(dir);
    // Names are asked one at a time in list order (BlueZ's object paths):
    // the unnamed device comes last and gets its name while it is waited for.
    ASSERT_TRUE(wait_for_text(dir.file("gps.out"), "name 00:0b:0d:88:a2:3c", 20000ms))
        << read_file(dir.file("vexod.err"));
    mock.set_name(late, "BT-GPS 5E01");
    EXPECT_TRUE(exited_with(gps->wait(30000ms), 0)) << read_file(dir.file("gps.err"));
    EXPECT_EQ(output_lines(dir.file("gps.out")),
              (std::vector<std::string>{
                  "initial-state 1",
                  "inquiry-started",
                  "found 00:02:78:14:c9:7d class=0x5a020c",
                  "found 00:0b:0d:88:a2:3c class=0x001f00",
                  "found 00:1c:88:30:5e:01 class=0x001f00",
                  "inquiry-stopped",
                  "name 00:02:78:14:c9:7d \"Pocket Phone\"",
                  "name 00:0b:0d:88:a2:3c \"GPSlim236\"",
                  "name 00:1c:88:30:5e:01 \"BT-GPS 5E01\"",
                  "names-done",
                  // The first device found is tapped. Without a radio the
                  // search cannot reach it: the application asks the user
                  // to make sure it is on.
                  "connecting 00:02:78:14:c9:7d",
                  "initial-state 1",
                  "message \"Service Searching\" \"Could be perform service searching, make sure the device is on.\"",
                  "state 1 -> 0",
              }))
        << read_file(dir.file("vexod.err"));
    EXPECT_TRUE(mock.powered("hci0"));

    // A pattern that is not a sequence of UUIDs cannot be sent to a device:
    // the request is refused (102) rather than answered by a search.
    const uint8_t uuid[] = {0x19, 0x11, 0x01};
    vgps::test::VexodClient client(dir.file("vexod"));
    EXPECT_EQ(client.request(vgps::vexod_service_search_msg{{{0x00, 0x0b, 0x0d, 0x88, 0xa2, 0x3c}}, 0xFFFF, {uuid, 3},
                                                           {test::kAllAttributes.data(), 7}}),
              vgps::VEXOD_RESULT_BAD_REQUEST);

    const std::string log = read_file(dir.file("vexod.err"));
    EXPECT_NE(log.find("<vexod> listening on " + dir.file("vexod") + " (BlueZ adapter hci0, powered off)"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("<vexod> Bluetooth adapter hci0 powered on"), std::string::npos);
    EXPECT_NE(log.find("<vexod> service search refused: the search pattern is not a data element sequence"),
              std::string::npos);
    EXPECT_EQ(log.find("Bluetooth adapter hci0 powered on", log.find("powered on") + 1), std::string::npos)
        << "said once, whether the signal or the answer came first";
}

TEST(VexodBluez, WithoutASystemBusOrAnAdapter) {
    TempDir dir;
    {
        // No bus at all: vexod cannot start, and leaves no socket behind.
        const vgps::test::ScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir.file("no-bus"));
        ChildProcess vexod({VEXOD_BINARY, "--radio", "bluez", "--socket", dir.file("vexod")}, dir.file("vexod.out"),
                           dir.file("vexod.err"));
        EXPECT_TRUE(exited_with(vexod.wait(10000ms), 1));
        EXPECT_EQ(read_file(dir.file("vexod.err")).rfind("vexod: the radio cannot start: cannot connect to the system bus", 0),
                  0u)
            << read_file(dir.file("vexod.err"));
        EXPECT_NE(::access(dir.file("vexod").c_str(), F_OK), 0);
    }
    // A bus, BlueZ, but only hci0 where hci1 is asked for: the radio is off
    // (power on and inquiry refused) until hci1 appears.
    BluezMock mock;
    mock.add_adapter("hci0");
    auto vexod = start_vexod(dir, VEXOD_BINARY, {"--adapter", "hci1"});
    EXPECT_NE(read_file(dir.file("vexod.err")).find("(BlueZ, no adapter yet)"), std::string::npos);
    vgps::test::VexodClient client(dir.file("vexod"));
    EXPECT_EQ(client.request(vgps::VEXOD_POWER_ON), vgps::VEXOD_RESULT_RADIO_OFF) << "no adapter to switch on";
    EXPECT_EQ(client.request(vgps::VEXOD_START_INQUIRY), vgps::VEXOD_RESULT_RADIO_OFF);
    mock.add_adapter("hci1");
    EXPECT_TRUE(wait_for_text(dir.file("vexod.err"), "<vexod> using Bluetooth adapter hci1 (powered on)"));
    EXPECT_EQ(client.request(vgps::VEXOD_START_INQUIRY), 0u);
    EXPECT_FALSE(client.notification(vgps::VEXOD_NOTIFY_INQUIRY_COMPLETE).empty()) << "nothing found on hci1";
}

// A device of the local radio: its SDP server and its RFCOMM channel 2 are
// local sockets of the test, served on the test's run loop.
class LocalDevice {
public:
    LocalDevice(vgps::RunLoop* loop, const std::string& dir, const std::string& address, test::Bytes records,
                std::string stream, bool hang_up = true) {
        listen(loop, dir + "/" + address + ".sdp", SOCK_SEQPACKET, [this, loop, records](int fd) {
            sdp = std::make_unique<test::SdpServer>(loop, fd, records, 48);
        });
        listen(loop, dir + "/" + address + ".2", SOCK_STREAM, [this, loop, stream, hang_up](int fd) {
            receiver = std::make_unique<test::Peer>(loop, fd);
            receiver->send(stream);
            if (hang_up) receiver->close_when_sent();
        });
    }
    ~LocalDevice() {
        for (int fd : listeners_) ::close(fd);
    }

    std::unique_ptr<test::SdpServer> sdp;
    std::unique_ptr<test::Peer> receiver;

private:
    void listen(vgps::RunLoop* loop, const std::string& path, int type, std::function<void(int)> accepted) {
        sockaddr_un a;
        const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ASSERT_TRUE(vgps::local_address(path, &a) && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                    ::listen(fd, 4) == 0)
            << path;
        listeners_.push_back(fd);
        loop->add_source(fd, [fd, accepted] {
            const int connection = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (connection >= 0) accepted(connection);
        });
    }

    std::vector<int> listeners_;
};

TEST(VexodBluez, SearchesLinksAndStreamsARealReceiverToTheApplication) {
    TempDir dir;
    BluezMock mock;
    mock.add_adapter("hci0");
    mock.add_device("hci0", "00:0B:0D:88:A2:3C", "HI-305N", 0x001f00);
    vgps::RunLoop loop;
    // Enough records for a 16-bit sequence header, the GPS one last.
    const test::Bytes records = build_attribute_lists(
        {{"SPP", 1}, {"Dial-up Networking", 3}, {"Headset", 4}, {"Console", 5}, {"GPS Serial Port", 2}});
    ASSERT_EQ(records.at(0), 0x36);
    ASSERT_EQ((records.at(1) << 8 | records.at(2)) + 3, records.size()) << "the length of what follows";
    // A Bluetooth receiver's capture, as it sent it (CR LF).
    const std::string capture = read_file(std::string(VGPS_TEST_DATA_DIR) + "/nmea/bt-q818.log");
    LocalDevice device(&loop, dir.path(), "00:0b:0d:88:a2:3c", records, capture);
    const vgps::test::ScopedEnv radio("VEXOD_LOCAL_RADIO", dir.path());

    auto vexod = start_vexod(dir, VEXOD_LOCAL_RADIO_BINARY);
    auto gps = start_front_end(dir);
    // The test's devices answer while the application runs.
    ASSERT_TRUE(loop.run_until([&] { return !gps->running(); }, 30000ms)) << read_file(dir.file("vexod.err"));
    EXPECT_TRUE(exited_with(gps->wait(0ms), 0)) << read_file(dir.file("gps.err"));

    // The application's pattern and attribute list went to the device as
    // they were sent; the records came back in parts and were whole again.
    ASSERT_TRUE(device.sdp);
    EXPECT_EQ(device.sdp->requests, std::vector<test::Bytes>((records.size() + 47) / 48, test::kAsked));

    const auto lines = output_lines(dir.file("gps.out"));
    const auto at = std::find(lines.begin(), lines.end(), "connecting 00:0b:0d:88:a2:3c");
    ASSERT_NE(at, lines.end()) << read_file(dir.file("gps.out"));
    ASSERT_GE(lines.end() - at, 5);
    EXPECT_EQ(at[1], "state 1 -> 3") << "linked on the GPS record's channel";
    // The receiver's positions: California, north and west, a 3D fix.
    const std::regex position(R"(\{"UTC":"2010/06/03 14:52:\d\d\.00","FIX":3,"LAT":3401\.9\d+,"LON":-11744\.8\d+,)"
                              R"("LAT_DEG":34\.03\d+,"LON_DEG":-117\.74\d+\})");
    // The receiver closed its end once it had sent everything: the link
    // ended (notification 31), then the run. The notification may be read
    // before the last blocks still in the data socket, so "state 3 -> 1"
    // can come before the last positions.
    std::vector<std::string> road(at + 2, lines.end());
    EXPECT_EQ(road.back(), "state 1 -> 0");
    road.pop_back();
    const auto ended = std::find(road.begin(), road.end(), "state 3 -> 1");
    ASSERT_NE(ended, road.end()) << read_file(dir.file("gps.out"));
    road.erase(ended);
    const auto positions =
        std::count_if(road.begin(), road.end(), [&](const std::string& l) { return std::regex_match(l, position); });
    EXPECT_EQ(positions, static_cast<std::ptrdiff_t>(road.size())) << read_file(dir.file("gps.out"));
    EXPECT_GE(positions, 4) << "4439 bytes, read in blocks of at most 1023";
    const std::string log = read_file(dir.file("vexod.err"));
    EXPECT_NE(log.find("<vexod> rfcomm link to 00:0b:0d:88:a2:3c channel 2 closed: the device closed the link"),
              std::string::npos)
        << log;
    EXPECT_EQ(device.receiver->sent, capture.size());
}

// Links refused, and the daemon's client leaving with a link up: the RFCOMM
// link is closed and its files go with it.
TEST(VexodBluez, TheClientLeavingEndsItsLink) {
    TempDir dir;
    BluezMock mock;
    mock.add_adapter("hci0");
    vgps::RunLoop loop;
    LocalDevice device(&loop, dir.path(), "00:0b:0d:88:a2:3c", {}, "$GPGGA,1*00\r\n", false);
    const vgps::test::ScopedEnv radio("VEXOD_LOCAL_RADIO", dir.path());
    auto vexod = start_vexod(dir, VEXOD_LOCAL_RADIO_BINARY);
    vgps::test::VexodClient client(dir.file("vexod"));
    const vgps::bdaddr address{{0x00, 0x0b, 0x0d, 0x88, 0xa2, 0x3c}};
    EXPECT_EQ(client.link(address, 5).result, 111u) << "a channel the device does not offer";
    const auto link = client.link(address, 2);
    ASSERT_EQ(link.result, 0u) << read_file(dir.file("vexod.err"));
    EXPECT_EQ(client.link(address, 2).result, 16u) << "linked already";
    ASSERT_TRUE(loop.run_until([&] { return device.receiver != nullptr; }, 5000ms));
    client.close();
    EXPECT_TRUE(loop.run_until([&] { return device.receiver->at_end; }, 5000ms)) << read_file(dir.file("vexod.err"));
    EXPECT_NE(::access(link.path.substr(0, link.path.rfind('/')).c_str(), F_OK), 0) << link.path;
}

}  // namespace
}  // namespace vexod::bluez
