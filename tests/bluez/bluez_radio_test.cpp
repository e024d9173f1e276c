// The BlueZ radio as the daemon drives it, through the radio interface, when
// things go wrong and when the client leaves: BlueZ played by python-dbusmock on a
// private bus, and the device's SDP server and RFCOMM end played on socket
// pairs handed out in place of the Bluetooth sockets. Each report is written
// as the notification it becomes. (The road that goes right runs end to
// end, in the daemon, in vexod_bluez_test.cpp.)
#include "bluez/bluez_radio.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "bluez_mock.h"
#include "device_peers.h"
#include "platform/log.h"
#include "platform/run_loop.h"
#include "sdp_records.h"
#include "support/temp_dir.h"

namespace vexod::bluez {
namespace {

using namespace std::chrono_literals;
using test::kAllAttributes;
using test::kPattern;
using vgps::ba2str;

const vgps::bdaddr kGps = {{0x00, 0x0b, 0x0d, 0x88, 0xa2, 0x3c}};
const vgps::bdaddr kPhone = {{0x00, 0x02, 0x78, 0x14, 0xc9, 0x7d}};
const vgps::bdaddr kUnknown = {{0, 0, 0, 0, 0, 1}};

struct Notifications : RadioListener {
    std::vector<std::string> seen;
    std::string path;  // of the last link up
    void radio_inquiry_result(const vgps::bdaddr& a, uint32_t, const std::string&) override {
        seen.push_back("28 " + ba2str(a));
    }
    void radio_inquiry_complete(bool canceled) override { seen.push_back(canceled ? "27" : "26"); }
    void radio_name_result(const vgps::bdaddr& a, const std::optional<std::string>& name) override {
        seen.push_back("29 " + ba2str(a) + " " + name.value_or("(none)"));
    }
    void radio_search_result(const vgps::bdaddr& a, const std::vector<uint8_t>& pattern, uint32_t result,
                             const std::vector<uint8_t>& bytes) override {
        char r[16];
        std::snprintf(r, sizeof r, "0x%08x", result);
        seen.push_back("25 " + ba2str(a) + " " + r + " " + std::to_string(bytes.size()) +
                       (pattern == kPattern ? "" : " (another pattern)"));
    }
    void radio_link_connected(const vgps::bdaddr& a, uint8_t channel, uint32_t result, const std::string& p) override {
        seen.push_back("30 " + ba2str(a) + " " + std::to_string(channel) + " " + std::to_string(result));
        if (result == 0) path = p;
    }
    void radio_link_closed(const vgps::bdaddr& a, uint8_t channel, LinkEnd why) override {
        seen.push_back("31 " + ba2str(a) + " " + std::to_string(channel) + " " +
                       std::to_string(static_cast<uint32_t>(why)));
    }
};

class BluezRadioTest : public ::testing::Test {
protected:
    void SetUp() override {
        mock.add_adapter("hci0");
        mock.add_device("hci0", "00:0B:0D:88:A2:3C", "GPSlim236", 0x001f00);
        BluezRadioOptions options;
        options.bluez.name_timeout = 300ms;
        options.bluez.discovery_linger = 50ms;
        options.inquiry_length = 500ms;
        options.search_timeout = 300ms;
        options.open_sdp = [this](const vgps::bdaddr& local, const vgps::bdaddr& device) {
            locals.push_back(local);
            if (device == kPhone) {  // out of range
                errno = EHOSTDOWN;
                return -1;
            }
            int fds[2];
            EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
            sdp_server = std::make_unique<test::SdpServer>(&loop, fds[1], test::Bytes{}, 48, sdp_mode);
            return fds[0];
        };
        options.open_rfcomm = [this](const vgps::bdaddr& local, const vgps::bdaddr&, uint8_t channel) {
            locals.push_back(local);
            if (channel != 2) {
                errno = ECONNREFUSED;
                return -1;
            }
            int fds[2];
            EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
            receivers.push_back(std::make_unique<test::Peer>(&loop, fds[1]));
            return fds[0];
        };
        radio = std::make_unique<BluezRadio>(&loop, options);
        std::string error;
        ASSERT_TRUE(radio->start(&notes, &error)) << error;
    }

    // Runs until `count` notifications have come.
    bool until(size_t count) {
        return loop.run_until([&] { return notes.seen.size() >= count; }, 5000ms);
    }

    vgps::test::TempDir tmp;
    vgps::test::ScopedEnv tmpdir{"TMPDIR", tmp.path()};  // the links' folders go there
    vgps::LogCapture log;
    test::BluezMock mock;
    vgps::RunLoop loop;
    Notifications notes;
    std::unique_ptr<BluezRadio> radio;
    test::SdpServer::Mode sdp_mode = test::SdpServer::Mode::Answer;
    std::unique_ptr<test::SdpServer> sdp_server;
    std::vector<std::unique_ptr<test::Peer>> receivers;
    std::vector<vgps::bdaddr> locals;
};

TEST_F(BluezRadioTest, FailuresAsTheSimulatorReportsThemAndTheClientLeaving) {
    // A device out of range, and one that never answers its SDP requests.
    radio->service_search(kPhone, kPattern, kAllAttributes, 0xFFFF);
    EXPECT_TRUE(notes.seen.empty()) << "reports come from the loop, after the response";
    ASSERT_TRUE(until(1));
    sdp_mode = test::SdpServer::Mode::Silent;
    radio->service_search(kGps, kPattern, kAllAttributes, 0xFFFF);
    ASSERT_TRUE(until(2));
    // A channel the device does not offer, a link, a second link to the
    // linked device.
    for (uint8_t channel : {5, 2, 2}) {
        radio->rfcomm_connect(kGps, channel);
        ASSERT_TRUE(until(notes.seen.size() + 1));
    }
    EXPECT_EQ(notes.seen, (std::vector<std::string>{
                              "25 00:02:78:14:c9:7d 0x03020004 0",
                              "25 00:0b:0d:88:a2:3c 0x03020004 0",
                              "30 00:0b:0d:88:a2:3c 5 111",
                              "30 00:0b:0d:88:a2:3c 2 0",
                              "30 00:0b:0d:88:a2:3c 2 16",
                          }));
    // Every Bluetooth socket starts from the adapter in use (the mock's hci0).
    EXPECT_EQ(locals, (std::vector<vgps::bdaddr>(4, vgps::bdaddr{{0x00, 0x01, 0x02, 0x03, 0x04, 0x05}})));

    // The client leaves with the link up, a search the device does not
    // answer, an inquiry, a name awaited and a failure not reported yet:
    // each ends, without a report.
    const std::string folder = notes.path.substr(0, notes.path.rfind('/'));
    ASSERT_EQ(::access(folder.c_str(), F_OK), 0) << notes.path;
    radio->service_search(kGps, kPattern, kAllAttributes, 0xFFFF);
    ASSERT_TRUE(loop.run_until([&] { return !sdp_server->requests.empty(); }, 5000ms));
    radio->start_inquiry();
    radio->request_name(kUnknown);
    radio->rfcomm_connect(kGps, 5);
    radio->client_left();
    EXPECT_TRUE(loop.run_until([&] { return receivers.at(0)->at_end && sdp_server->saw_end; }, 5000ms))
        << "the link and the search are closed";
    EXPECT_NE(::access(folder.c_str(), F_OK), 0) << "the link's files are gone";
    loop.run_until([] { return false; }, 800ms);  // past every time-out
    EXPECT_EQ(notes.seen.size(), 5u) << ::testing::PrintToString(notes.seen);
    EXPECT_FALSE(mock.discovering("hci0")) << "discovery is let go";
}

}  // namespace
}  // namespace vexod::bluez
