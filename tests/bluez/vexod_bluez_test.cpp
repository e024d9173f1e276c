// End to end: vexod --radio bluez on the mock BlueZ of a private system bus,
// with vexod-gps --headless as its client. The real vexod finds the mock's
// devices and names them; vexod-local-radio (vexod linked with local sockets
// in place of the Bluetooth ones) also searches a device's records, served
// by the test, and streams a real capture from the device's channel to the
// application.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "bluez_mock.h"
#include "device_peers.h"
#include "link/vexod_wire.h"
#include "platform/fd.h"
#include "platform/run_loop.h"
#include "sdp_records.h"
#include "support/process.h"
#include "support/sockets.h"
#include "support/temp_dir.h"

namespace vexod::bluez {
namespace {

using namespace std::chrono_literals;
using test::BluezMock;
using vgps::test::ChildProcess;
using vgps::test::exited_with;
using vgps::test::output_lines;
using vgps::test::read_file;
using vgps::test::TempDir;

// `binary` with the BlueZ radio on the mock's bus (inherited from the test)
// and a short inquiry, listening in `dir`.
std::unique_ptr<ChildProcess> start_vexod(const TempDir& dir, const char* binary) {
    auto vexod = std::make_unique<ChildProcess>(
        std::vector<std::string>{binary, "--radio", "bluez", "--socket", dir.file("vexod"), "--inquiry-time", "1"},
        dir.file("vexod.out"), dir.file("vexod.err"));
    EXPECT_TRUE(vgps::test::wait_for_text(dir.file("vexod.err"), "listening on")) << read_file(dir.file("vexod.err"));
    return vexod;
}

std::unique_ptr<ChildProcess> start_front_end(const TempDir& dir, std::vector<std::string> extra) {
    ::setenv("VEXOD_GPS_PREFS_DIR", dir.path().c_str(), 1);  // no remembered devices
    std::vector<std::string> argv{VEXOD_GPS_BINARY, "--headless", "--socket", dir.file("vexod"), "--exit-when-done",
                                  "--timeout", "30"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return std::make_unique<ChildProcess>(argv, dir.file("gps.out"), dir.file("gps.err"));
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
    auto gps = start_front_end(dir, {});
    // Names are asked one at a time in list order (BlueZ's object paths):
    // the unnamed device comes last and gets its name while it is waited for.
    ASSERT_TRUE(vgps::test::wait_for_text(dir.file("gps.out"), "name 00:0b:0d:88:a2:3c", 20000ms))
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
    const int client = vgps::test::connect_unix(dir.file("vexod"));
    ASSERT_GE(client, 0);
    const uint8_t uuid[] = {0x19, 0x11, 0x01};
    const uint8_t all[] = {0x35, 0x05, 0x0A, 0x00, 0x00, 0xFF, 0xFF};
    ASSERT_TRUE(vgps::test::write_all(
        client, vgps::vexod_frame(vgps::vexod_service_search_msg{{{0x00, 0x0b, 0x0d, 0x88, 0xa2, 0x3c}}, 0xFFFF,
                                                                 {uuid, 3}, {all, 7}},
                                  vgps::VEXOD_SERVICE_ATTRIBUTE_SEARCH, 7)));
    const test::Bytes response = vgps::test::read_exact(client, 24);
    ASSERT_EQ(response.size(), 24u);
    EXPECT_EQ(vgps::test::get32(response, 12), 7u);
    EXPECT_EQ(vgps::test::get32(response, 16), vgps::VEXOD_RESULT_BAD_REQUEST);
    ::close(client);

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
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir.file("no-bus")).c_str(), 1);
        ChildProcess vexod({VEXOD_BINARY, "--radio", "bluez", "--socket", dir.file("vexod")}, dir.file("vexod.out"),
                           dir.file("vexod.err"));
        EXPECT_TRUE(exited_with(vexod.wait(10000ms), 1));
        EXPECT_EQ(read_file(dir.file("vexod.err")).rfind("vexod: the radio cannot start: cannot connect to the system bus",
                                                         0),
                  0u)
            << read_file(dir.file("vexod.err"));
        EXPECT_NE(::access(dir.file("vexod").c_str(), F_OK), 0);
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    // A bus, BlueZ, but only hci0 where hci1 is asked for: the radio is off
    // (power on and inquiry refused) until hci1 appears.
    BluezMock mock;
    mock.add_adapter("hci0");
    ChildProcess vexod({VEXOD_BINARY, "--radio", "bluez", "--adapter", "hci1", "--inquiry-time", "1", "--socket",
                        dir.file("vexod")},
                       dir.file("vexod.out"), dir.file("vexod.err"));
    ASSERT_TRUE(vgps::test::wait_for_text(dir.file("vexod.err"), "listening on"));
    EXPECT_NE(read_file(dir.file("vexod.err")).find("(BlueZ, no adapter yet)"), std::string::npos);
    auto gps = start_front_end(dir, {});
    EXPECT_TRUE(vgps::test::wait_for_text(dir.file("vexod.err"), "<vexod> answering msgid 3 with result 100"))
        << "power on: no adapter to switch on";
    EXPECT_TRUE(vgps::test::wait_for_text(dir.file("vexod.err"), "<vexod> answering msgid 4 with result 100"))
        << "inquiry: the radio is off";
    gps->signal(SIGINT);
    EXPECT_TRUE(exited_with(gps->wait(10000ms), 0));

    mock.add_adapter("hci1");
    EXPECT_TRUE(vgps::test::wait_for_text(dir.file("vexod.err"), "<vexod> using Bluetooth adapter hci1 (powered on)"));
    gps = start_front_end(dir, {});
    EXPECT_TRUE(exited_with(gps->wait(30000ms), 0)) << read_file(dir.file("gps.err"));
    const auto lines = output_lines(dir.file("gps.out"));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "no-devices"), lines.end()) << read_file(dir.file("gps.out"));
}

// A device of the local radio: its SDP server and its RFCOMM channel 2 are
// local sockets of the test, served on the test's run loop.
class LocalDevice {
public:
    LocalDevice(vgps::RunLoop* loop, const std::string& dir, const std::string& address, test::Bytes records,
                std::string stream)
        : loop_(loop), records_(std::move(records)), stream_(std::move(stream)) {
        sdp_listener_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un a;
        EXPECT_TRUE(vgps::local_address(dir + "/" + address + ".sdp", &a));
        EXPECT_EQ(::bind(sdp_listener_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(sdp_listener_, 4), 0);
        channel_listener_ = vgps::listen_local(dir + "/" + address + ".2", 4, SOCK_CLOEXEC | SOCK_NONBLOCK);
        EXPECT_GE(channel_listener_, 0);
        loop_->add_source(sdp_listener_, [this] {
            const int fd = ::accept4(sdp_listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0) sdp = std::make_unique<test::SdpServer>(loop_, fd, records_, 48);
        });
        loop_->add_source(channel_listener_, [this] {
            const int fd = ::accept4(channel_listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) return;
            receiver = std::make_unique<test::Peer>(loop_, fd);
            receiver->send(stream_);
            receiver->close_when_sent();
        });
    }
    ~LocalDevice() {
        ::close(sdp_listener_);
        ::close(channel_listener_);
    }

    std::unique_ptr<test::SdpServer> sdp;
    std::unique_ptr<test::Peer> receiver;

private:
    vgps::RunLoop* loop_;
    test::Bytes records_;
    std::string stream_;
    int sdp_listener_ = -1;
    int channel_listener_ = -1;
};

TEST(VexodBluez, SearchesLinksAndStreamsARealReceiverToTheApplication) {
    TempDir dir;
    BluezMock mock;
    mock.add_adapter("hci0");
    mock.add_device("hci0", "00:0B:0D:88:A2:3C", "HI-305N", 0x001f00);
    vgps::RunLoop loop;
    const test::Bytes records = build_attribute_lists({{"SPP", 1}, {"GPS Serial Port", 2}});
    // A Bluetooth receiver's capture, as it sent it (CR LF).
    const std::string capture = read_file(std::string(VGPS_TEST_DATA_DIR) + "/nmea/bt-q818.log");
    LocalDevice device(&loop, dir.path(), "00:0b:0d:88:a2:3c", records, capture);
    ::setenv("VEXOD_LOCAL_RADIO", dir.path().c_str(), 1);

    auto vexod = start_vexod(dir, VEXOD_LOCAL_RADIO_BINARY);
    auto gps = start_front_end(dir, {});
    // The test's devices answer while the application runs.
    ASSERT_TRUE(loop.run_until([&] { return !gps->running(); }, 30000ms)) << read_file(dir.file("vexod.err"));
    EXPECT_TRUE(exited_with(gps->wait(0ms), 0)) << read_file(dir.file("gps.err"));

    // The application's pattern and attribute list went to the device as
    // they were sent; the records came back in parts and were whole again.
    ASSERT_TRUE(device.sdp);
    ASSERT_EQ(device.sdp->requests.size(), (records.size() + 47) / 48);
    EXPECT_EQ(device.sdp->requests[0].pattern, (test::Bytes{0x35, 0x03, 0x19, 0x11, 0x01}));
    EXPECT_EQ(device.sdp->requests[0].attribute_ids, (test::Bytes{0x35, 0x05, 0x0A, 0x00, 0x00, 0xFF, 0xFF}));

    const auto lines = output_lines(dir.file("gps.out"));
    const auto at = std::find(lines.begin(), lines.end(), "connecting 00:0b:0d:88:a2:3c");
    ASSERT_NE(at, lines.end()) << read_file(dir.file("gps.out"));
    ASSERT_GE(lines.end() - at, 5);
    EXPECT_EQ(at[1], "state 1 -> 3") << "linked on the GPS record's channel";
    // The receiver's positions: California, north and west, a 3D fix.
    const std::regex position(R"(\{"UTC":"2010/06/03 14:52:\d\d\.00","FIX":3,"LAT":3401\.9\d+,"LON":-11744\.8\d+,)"
                              R"("LAT_DEG":34\.03\d+,"LON_DEG":-117\.74\d+\})");
    const auto positions =
        std::count_if(at + 2, lines.end(), [&](const std::string& l) { return std::regex_match(l, position); });
    EXPECT_EQ(positions, lines.end() - at - 4) << read_file(dir.file("gps.out"));
    EXPECT_GE(positions, 4) << "4439 bytes, read in blocks of at most 1023";
    // The receiver closed its end once it had sent everything: the link
    // ended (notification 31), then the run.
    EXPECT_EQ(lines[lines.size() - 2], "state 3 -> 1");
    EXPECT_EQ(lines.back(), "state 1 -> 0");
    const std::string log = read_file(dir.file("vexod.err"));
    EXPECT_NE(log.find("<vexod> rfcomm link to 00:0b:0d:88:a2:3c channel 2 closed: the device closed the link"),
              std::string::npos)
        << log;
    EXPECT_EQ(device.receiver->sent, capture.size());
}

}  // namespace
}  // namespace vexod::bluez
