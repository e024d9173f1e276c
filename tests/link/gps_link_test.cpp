// The GPS data link end to end: the manager asks the real vexod daemon for a
// device's services, connects to the channel it chooses, reads the NMEA
// stream of the simulated receiver and posts positions.
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>

#include "manager_fixture.h"
#include "platform/notification_center.h"
#include "support/sockets.h"

namespace vgps {
namespace {

using test::Events;

struct Position {
    std::string utc;
    int64_t fix;
    double lat, lon;
    int turn;  // the run-loop turn that posted it
};

const std::string kGps = R"([{"name": "GPS", "rfcomm_channel": 1}])";
const std::string kConnectionAlert = "show Connection|Could be connect to remote serial port service.";
const std::string kSdpWho =
    "<-[DaemonManager serviceQueryResponse:remote:patten:patten_len:attribute:attribute_len:result:]> ";

// A device entry of a scenario: fast answers, a generated stream that starts
// at 2011/09/15 08:30:05, and `extra` fields.
std::string device(const std::string& address, const std::string& services, const std::string& extra = "") {
    return R"({"address": ")" + address + R"(", "search_delay_ms": 0, "connect_delay_ms": 0, "services": )" + services +
           R"(, "generator": {"start_time": 1316075405})" + (extra.empty() ? "" : ", " + extra) + "}";
}

std::string scenario(const std::vector<std::string>& devices, const std::string& speed = "0") {
    std::string list;
    for (const auto& d : devices) list += (list.empty() ? "" : ",") + d;
    return R"({"link": {"speed": )" + speed + R"(}, "devices": [)" + list + "]}";
}

class GpsLinkTest : public test::ManagerTest {
protected:
    void SetUp() override {
        ManagerTest::SetUp();
        observer = center.addObserver(kPositionNotificationName, [this](const Notification& n) {
                const UserInfo& u = n.userInfo;
                positions.push_back(Position{std::get<std::string>(u.at("UTC")), std::get<int64_t>(u.at("FIX")),
                                             std::get<double>(u.at("LAT")), std::get<double>(u.at("LON")), turn});
            });
    }
    void TearDown() override {
        center.removeObserver(observer);
        ManagerTest::TearDown();
    }

    void start(const std::string& scenario_json) {
        start_daemon(scenario_json);
        ASSERT_TRUE(manager->connectToDaemon());
    }
    // Taps the device row (the service search goes out) with a fresh record
    // of reports and log lines.
    void tap(const char* address) {
        delegate.events.clear();
        log.clear();
        bdaddr a;
        ASSERT_TRUE(str2ba(address, &a));
        EXPECT_TRUE(manager->connectToDevice(BTDevice(std::nullopt, 0x1f00, std::nullopt, &a)));
    }
    // The link is over on both sides: notification 31 put the state back to
    // 1 and the data socket has been read to its end.
    bool link_over() {
        return std::count(delegate.events.begin(), delegate.events.end(), "state 3->1") &&
               manager->dataDescriptor() < 0;
    }

    NotificationCenter::ObserverId observer = 0;
    std::vector<Position> positions;
};

TEST_F(GpsLinkTest, ChannelIsChosenFromTheRecordsOverFiftyLinksThatLeaveNoDescriptor) {
    const std::vector<std::pair<std::string, unsigned>> cases = {
        {R"([{"name": "SPP Slave", "rfcomm_channel": 1}])", 1},
        // The GPS channel wins when more than one record was counted.
        {R"([{"name": "SPP Slave", "rfcomm_channel": 1}, {"name": "GPS Port", "rfcomm_channel": 2}])", 2},
        {R"([{"name": "my gps", "rfcomm_channel": 4}, {"name": "Serial", "rfcomm_channel": 5}])", 4},
        // A later GPS record without RFCOMM takes the GPS channel back to 0.
        {R"([{"name": "GPS A", "rfcomm_channel": 2}, {"name": "GPS B", "rfcomm_channel": 0}])", 2},
    };
    std::vector<std::string> devices;
    for (size_t i = 0; i < cases.size(); ++i)
        devices.push_back(device("00:00:00:00:00:0" + std::to_string(i + 1), cases[i].first,
                                 R"("link_faults": {"drop_after_epochs": 1})"));
    ASSERT_NO_FATAL_FAILURE(start(scenario(devices)));
    const size_t descriptors = test::open_descriptor_count();
    for (size_t i = 0; i < 50; ++i) {
        const std::string address = "00:00:00:00:00:0" + std::to_string(i % cases.size() + 1);
        SCOPED_TRACE("link " + std::to_string(i) + " to " + address);
        tap(address.c_str());
        ASSERT_TRUE(run_until([&] { return link_over(); }));
        // Each link ends when the daemon drops it: notification 31, then the
        // end of the stream.
        EXPECT_EQ(delegate.events, (Events{"state 1->3", "state 3->1"}));
        EXPECT_TRUE(log.contains("<-[DaemonManager readNMEASentences]> rfcomm socket disconnected"));
        const std::string channel = std::to_string(cases[i % cases.size()].second);
        EXPECT_NE(daemon->log().find("rfcomm link to " + address + " channel " + channel + ":"), std::string::npos);
    }
    EXPECT_EQ(test::open_descriptor_count(), descriptors);
    EXPECT_GE(positions.size(), 50u);
}

TEST_F(GpsLinkTest, FailuresAreReportedAndLeaveState1WithoutADescriptor) {
    ASSERT_NO_FATAL_FAILURE(start(scenario({
        device("00:00:00:00:00:01", kGps, R"("switched_off": true)"),
        device("00:00:00:00:00:02", "[]"),
        device("00:00:00:00:00:03", kGps, R"("link_faults": {"connect_result": 111})"),
        device("00:00:00:00:00:04", kGps, R"("link_faults": {"socket_path": "long"})"),
        device("00:00:00:00:00:05", kGps, R"("link_faults": {"socket_path": "missing"})"),
    })));
    const std::string who = "<-[DaemonManager connectWithSocketPath:status:]> ";
    const struct {
        const char* address;
        Events events;
        std::string log_line;
    } cases[] = {
        {"00:00:00:00:00:01",
         {"initial 1", "show Service Searching|Could be perform service searching, make sure the device is on."},
         kSdpWho + "result 50462724, service_attributeCnt: 0"},
        {"00:00:00:00:00:02", {"initial 1", "show Service Searching|No suitable serial port service found."},
         kSdpWho + "No rfcomm channel found"},
        {"00:00:00:00:00:03", {"initial 1", kConnectionAlert},
         "<notify_rfcomm_connected> result 111 channel 1 sockpath "},
        {"00:00:00:00:00:04", {kConnectionAlert, "initial 1"}, who + "failed to create socket: File name too long"},
        {"00:00:00:00:00:05", {"initial 1", kConnectionAlert}, who + "failed to connect: No such file or directory"},
    };
    const size_t descriptors = test::open_descriptor_count();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        tap(c.address);
        ASSERT_TRUE(run_until([&] { return delegate.events.size() >= 2; }));
        EXPECT_EQ(delegate.events, c.events);
        EXPECT_TRUE(log.contains(c.log_line)) << c.log_line;
        EXPECT_EQ(manager->state(), DaemonStateConnected);
        EXPECT_LT(manager->dataDescriptor(), 0);
    }
    EXPECT_EQ(test::open_descriptor_count(), descriptors);
    EXPECT_TRUE(positions.empty());
}

TEST_F(GpsLinkTest, DataSocketPathOf103BytesFitsAndOneMoreIsRefused) {
    ASSERT_NO_FATAL_FAILURE(start(scenario({})));
    std::string path = dir.file("");
    path += std::string(103 - path.size(), 'p');
    const int listener = test::listen_unix(path);
    ASSERT_GE(listener, 0);
    manager->connectWithSocketPath_status(path.c_str(), 0);
    EXPECT_EQ(manager->state(), DaemonStateLinked);
    manager->disconnectFromDevice();
    ::close(listener);
    manager->connectWithSocketPath_status((path + "p").c_str(), 0);
    EXPECT_TRUE(
        log.contains("<-[DaemonManager connectWithSocketPath:status:]> failed to create socket: File name too long"));
    EXPECT_EQ(manager->dataDescriptor(), -1);
}

TEST_F(GpsLinkTest, BurstAndSplitBlocksLoseNoEpoch) {
    // Epochs one second apart from 08:30:05: the first ones in one write of
    // more than 1023 bytes, the fifth with its first sentence split across
    // two writes.
    const std::string faults =
        R"("link_faults": {"burst_at_epoch": 1, "split_at_epoch": 5, "split_pause_ms": 200, "drop_after_epochs": 6})";
    ASSERT_NO_FATAL_FAILURE(start(scenario({device("00:00:00:00:00:01", kGps, faults)}, "4")));
    tap("00:00:00:00:00:01");
    ASSERT_TRUE(run_until([&] { return link_over(); }));
    ASSERT_GE(positions.size(), 5u);
    EXPECT_EQ(positions[0].turn, positions[1].turn);  // a full block and more: two notifications in one callback
    // The block ending inside the split sentence repeats the fourth epoch;
    // the next turn brings the fifth whole.
    Events tail;
    for (auto it = positions.end() - 4; it != positions.end(); ++it) tail.push_back(it->utc);
    EXPECT_EQ(tail, (Events{"2011/09/15 08:30:08.00", "2011/09/15 08:30:08.00", "2011/09/15 08:30:09.00",
                            "2011/09/15 08:30:10.00"}));
    EXPECT_NE(positions.end()[-3].turn, positions.end()[-2].turn);
}

TEST_F(GpsLinkTest, AReceiverFasterThanDecodingCannotHoldTheLoop) {
    // The generated stream at full speed never ends and keeps the socket
    // full: each read callback stops after 64 blocks and gives the loop back.
    ASSERT_NO_FATAL_FAILURE(start(scenario({device("00:00:00:00:00:01", kGps)})));
    tap("00:00:00:00:00:01");
    ASSERT_TRUE(run_until([&] { return positions.size() >= 2000; }));
    std::map<int, int> per_turn;
    for (const Position& p : positions) ++per_turn[p.turn];
    for (const auto& [turn_number, count] : per_turn) EXPECT_LE(count, 64) << "turn " << turn_number;
}

}  // namespace
}  // namespace vgps
