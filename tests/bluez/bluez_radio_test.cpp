// The BlueZ radio as the daemon drives it, through the radio interface, when
// things go wrong: BlueZ played by python-dbusmock on a private bus, and the
// device's SDP server and RFCOMM end played on socket pairs handed out in
// place of the Bluetooth sockets. Each report is written as the notification
// it becomes. (The road that goes right runs end to end, in the daemon, in
// vexod_bluez_test.cpp.)
#include "bluez/bluez_radio.h"

#include <gtest/gtest.h>

#include "bluez_mock.h"
#include "device_peers.h"
#include "platform/log.h"
#include "platform/run_loop.h"
#include "sdp_records.h"
#include "support/temp_dir.h"

namespace vexod::bluez {
namespace {

using namespace std::chrono_literals;
using test::Bytes;

const Bytes kPattern = {0x35, 0x03, 0x19, 0x11, 0x01};
const Bytes kAllAttributes = {0x35, 0x05, 0x0A, 0x00, 0x00, 0xFF, 0xFF};
const vgps::bdaddr kGps = {{0x00, 0x0b, 0x0d, 0x88, 0xa2, 0x3c}};
const vgps::bdaddr kPhone = {{0x00, 0x02, 0x78, 0x14, 0xc9, 0x7d}};

struct Notifications : RadioListener {
    std::vector<std::string> seen;
    void radio_inquiry_result(const vgps::bdaddr& a, uint32_t cls, const std::string& text) override {
        char line[64];
        std::snprintf(line, sizeof line, "28 %s %06x \"%s\"", vgps::ba2str(a).c_str(), cls, text.c_str());
        seen.push_back(line);
    }
    void radio_inquiry_complete(bool canceled) override { seen.push_back(canceled ? "27" : "26"); }
    void radio_name_result(const vgps::bdaddr& a, const std::optional<std::string>& name) override {
        seen.push_back("29 " + vgps::ba2str(a) + " " + (name ? "\"" + *name + "\"" : "none"));
    }
    void radio_search_result(const vgps::bdaddr& a, const std::vector<uint8_t>& pattern, uint32_t result,
                             const std::vector<uint8_t>& bytes) override {
        char r[16];
        std::snprintf(r, sizeof r, "0x%08x", result);
        seen.push_back("25 " + vgps::ba2str(a) + " " + r + " " + std::to_string(bytes.size()) +
                       (pattern == kPattern ? "" : " (another pattern)"));
    }
    void radio_link_connected(const vgps::bdaddr& a, uint8_t channel, uint32_t result, const std::string&) override {
        seen.push_back("30 " + vgps::ba2str(a) + " " + std::to_string(channel) + " " + std::to_string(result));
    }
    void radio_link_closed(const vgps::bdaddr& a, uint8_t channel, LinkEnd why) override {
        seen.push_back("31 " + vgps::ba2str(a) + " " + std::to_string(channel) + " " +
                       std::to_string(static_cast<uint32_t>(why)));
    }
};

class BluezRadioTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TMPDIR", tmp.path().c_str(), 1);
        mock.add_adapter("hci0");
        mock.add_device("hci0", "00:0B:0D:88:A2:3C", "GPSlim236", 0x001f00);
        mock.add_device("hci0", "00:02:78:14:C9:7D", "Pocket Phone", 0x5a020c);

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
            sdp_server = std::make_unique<test::SdpServer>(&loop, fds[1], records, 48, sdp_mode);
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
    void TearDown() override { ::unsetenv("TMPDIR"); }

    // Runs until `count` notifications have come.
    bool until(size_t count, std::chrono::milliseconds timeout = 5000ms) {
        return loop.run_until([&] { return notes.seen.size() >= count; }, timeout);
    }

    vgps::test::TempDir tmp;
    vgps::LogCapture log;
    test::BluezMock mock;
    vgps::RunLoop loop;
    Notifications notes;
    std::unique_ptr<BluezRadio> radio;
    Bytes records = build_attribute_lists({{"SPP", 1}, {"GPS Serial Port", 2}});
    test::SdpServer::Mode sdp_mode = test::SdpServer::Mode::Answer;
    std::unique_ptr<test::SdpServer> sdp_server;
    std::vector<std::unique_ptr<test::Peer>> receivers;
    std::vector<vgps::bdaddr> locals;
};

TEST_F(BluezRadioTest, WhatGoesWrongIsReportedAsTheSimulatorReportsIt) {
    // A pattern that is not one is refused at once.
    EXPECT_FALSE(radio->search_well_formed({0x19, 0x11, 0x01}, kAllAttributes));
    EXPECT_TRUE(radio->search_well_formed(kPattern, kAllAttributes));
    // A device out of range, and one that never answers its SDP requests.
    radio->service_search(kPhone, kPattern, kAllAttributes, 0xFFFF);
    EXPECT_TRUE(notes.seen.empty()) << "reports come from the loop, after the response";
    ASSERT_TRUE(until(1));
    sdp_mode = test::SdpServer::Mode::Silent;
    radio->service_search(kGps, kPattern, kAllAttributes, 0xFFFF);
    ASSERT_TRUE(until(2));
    // A channel the device does not offer; a second link to a linked device.
    radio->rfcomm_connect(kGps, 5);
    ASSERT_TRUE(until(3));
    radio->rfcomm_connect(kGps, 2);
    ASSERT_TRUE(until(4));
    radio->rfcomm_connect(kGps, 2);
    ASSERT_TRUE(until(5));
    // A name the device never gives.
    radio->request_name(vgps::bdaddr{{0, 0, 0, 0, 0, 1}});
    ASSERT_TRUE(until(6));
    EXPECT_EQ(notes.seen, (std::vector<std::string>{
                              "25 00:02:78:14:c9:7d 0x03020004 0",
                              "25 00:0b:0d:88:a2:3c 0x03020004 0",
                              "30 00:0b:0d:88:a2:3c 5 111",
                              "30 00:0b:0d:88:a2:3c 2 0",
                              "30 00:0b:0d:88:a2:3c 2 16",
                              "29 00:00:00:00:00:01 none",
                          }));
    // Every Bluetooth socket starts from the adapter in use (the mock's hci0).
    EXPECT_EQ(locals, (std::vector<vgps::bdaddr>(4, vgps::bdaddr{{0x00, 0x01, 0x02, 0x03, 0x04, 0x05}})));

    // The client leaving closes its link without a report.
    radio->client_left();
    EXPECT_TRUE(loop.run_until([&] { return receivers.at(0)->at_end; }, 5000ms));
    loop.run_until([] { return false; }, 200ms);
    EXPECT_EQ(notes.seen.size(), 6u);
}

}  // namespace
}  // namespace vexod::bluez
