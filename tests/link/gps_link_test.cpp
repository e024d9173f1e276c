// The GPS data link end to end: the manager asks the real vexod daemon for a
// device's services, connects to the channel it chooses, reads the NMEA
// stream of the simulated receiver and posts positions.
#include <gtest/gtest.h>
#include <dirent.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "link/DaemonManager.h"
#include "link/utility.h"
#include "nmea/info.h"
#include "platform/alert.h"
#include "platform/log.h"
#include "platform/notification_center.h"
#include "platform/run_loop.h"
#include "registry/BTDeviceCache.h"
#include "support/process.h"
#include "support/sockets.h"
#include "recording_delegate.h"
#include "support/temp_dir.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;

using Delegate = test::RecordingDelegate;

struct Position {
    std::string utc;
    int64_t fix;
    double lat, lon;
    int turn;  // the run-loop turn that posted it
};

const std::string kSearchAlert = "show Service Searching|No suitable serial port service found.";
const std::string kOffAlert = "show Service Searching|Could be perform service searching, make sure the device is on.";
const std::string kConnectionAlert = "show Connection|Could be connect to remote serial port service.";

// A device entry of a scenario: fast answers, a generated stream that starts
// at a fixed time unless `extra` says otherwise.
std::string device(const std::string& address, const std::string& services, const std::string& extra = "") {
    return R"({"address": ")" + address + R"(", "class": "0x001f00", "name": "R", "search_delay_ms": 0,
               "connect_delay_ms": 0, "services": )" +
           services + R"(, "generator": {"start_time": 1316075405})" + (extra.empty() ? "" : ", " + extra) + "}";
}

std::string scenario(const std::vector<std::string>& devices, const std::string& speed = "0") {
    std::string list;
    for (const auto& d : devices) list += (list.empty() ? "" : ",") + d;
    return R"({"link": {"speed": )" + speed + R"(}, "devices": [)" + list + "]}";
}

class GpsLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv(kPreferencesDirVariable, dir.path().c_str(), 1);
        manager = DaemonManager::sharedManager();
        manager->setDelegate(&delegate);
        previous_presenter = set_alert_presenter(&alerts);
        set_read_timeout_ms(3000);
        observer = NotificationCenter::defaultCenter()->addObserver(kPositionNotificationName, [this](const Notification& n) {
            positions.push_back(Position{std::get<std::string>(n.userInfo.at("UTC")),
                                         std::get<int64_t>(n.userInfo.at("FIX")),
                                         std::get<double>(n.userInfo.at("LAT")),
                                         std::get<double>(n.userInfo.at("LON")), turn});
        });
    }
    void TearDown() override {
        NotificationCenter::defaultCenter()->removeObserver(observer);
        manager->disconnectFromDevice();
        manager->setDelegate(nullptr);
        if (manager->isConnected()) manager->shutdownDaemon();
        set_alert_presenter(previous_presenter);
    }

    void start(const std::string& scenario_json) {
        daemon = std::make_unique<test::VexodProcess>(VEXOD_BINARY, dir.path(), scenario_json);
        manager->setDaemonSocketPath(daemon->socket_path());
        ASSERT_TRUE(manager->connectToDaemon());
        delegate.events.clear();
    }
    // Taps the device row: the service search goes out.
    void tap(const char* address) {
        bdaddr a;
        ASSERT_TRUE(str2ba(address, &a));
        BTDevice d(std::nullopt, 0x1f00, std::nullopt, &a);
        EXPECT_TRUE(manager->connectToDevice(d));
    }
    // Turns the run loop, counting turns, until `done` or 10 s.
    bool run_until(const std::function<bool()>& done) {
        const auto deadline = RunLoop::Clock::now() + 10s;
        while (!done()) {
            if (RunLoop::Clock::now() > deadline) return false;
            if (RunLoop::main()->run_once(100ms)) ++turn;
        }
        return true;
    }
    bool saw(const std::string& event) {
        return std::find(delegate.events.begin(), delegate.events.end(), event) != delegate.events.end();
    }
    // The link is over on both sides: notification 31 put the state back to
    // 1 and the data socket has been read to its end.
    bool link_over() { return saw("state 3->1") && manager->dataDescriptor() < 0; }

    test::TempDir dir;
    LogCapture log;
    Delegate delegate;
    HeadlessAlertPresenter alerts;
    AlertPresenter* previous_presenter = nullptr;
    DaemonManager* manager = nullptr;
    std::unique_ptr<test::VexodProcess> daemon;
    NotificationCenter::ObserverId observer = 0;
    std::vector<Position> positions;
    int turn = 0;
};

TEST_F(GpsLinkTest, ChannelIsChosenFromTheRecords) {
    struct Case {
        const char* address;
        std::string services;
        unsigned channel;
    };
    const std::vector<Case> cases = {
        {"00:00:00:00:00:01", R"([{"name": "SPP Slave", "rfcomm_channel": 1}])", 1},
        // The GPS channel wins when more than one record was counted.
        {"00:00:00:00:00:02",
         R"([{"name": "SPP Slave", "rfcomm_channel": 1}, {"name": "GPS Port", "rfcomm_channel": 2}])", 2},
        {"00:00:00:00:00:03", R"([{"name": "my gps", "rfcomm_channel": 4}, {"name": "Serial", "rfcomm_channel": 5}])",
         4},
        {"00:00:00:00:00:04", R"([{"name": "GPS", "rfcomm_channel": 3}])", 3},
        // A later GPS record without RFCOMM takes the GPS channel back to 0.
        {"00:00:00:00:00:05",
         R"([{"name": "GPS A", "rfcomm_channel": 2}, {"name": "GPS B", "rfcomm_channel": 0}])", 2},
    };
    std::vector<std::string> devices;
    for (const Case& c : cases) devices.push_back(device(c.address, c.services, R"("link_faults": {"drop_after_epochs": 1})"));
    ASSERT_NO_FATAL_FAILURE(start(scenario(devices)));

    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        delegate.events.clear();
        log.clear();
        tap(c.address);
        ASSERT_TRUE(run_until([&] { return link_over(); }));
        EXPECT_EQ(delegate.events, (std::vector<std::string>{"state 1->3", "state 3->1"}));
        const std::string line = "<-[DaemonManager serviceQueryResponse:remote:patten:patten_len:attribute:"
                                 "attribute_len:result:]> BD_ADDR: " + std::string(c.address);
        EXPECT_TRUE(log.contains(line));
        const auto lines = log.lines();
        const std::string prefix = "<notify_rfcomm_connected> result 0 channel " + std::to_string(c.channel) + " sockpath ";
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }))
            << "no link on channel " << c.channel;
    }
}

TEST_F(GpsLinkTest, FailuresBeforeTheLinkAreReportedAndLeaveState1) {
    ASSERT_NO_FATAL_FAILURE(start(scenario({
        device("00:00:00:00:00:01", R"([{"name": "GPS", "rfcomm_channel": 1}])", R"("switched_off": true)"),
        device("00:00:00:00:00:02", "[]"),
        device("00:00:00:00:00:03", R"([{"name": "GPS", "rfcomm_channel": 1}])",
               R"("link_faults": {"connect_result": 111})"),
        device("00:00:00:00:00:04", R"([{"name": "GPS", "rfcomm_channel": 1}])",
               R"("link_faults": {"socket_path": "long"})"),
    })));
    struct Case {
        const char* address;
        std::vector<std::string> events;
        std::string log_line;
    };
    const std::string who = "<-[DaemonManager connectWithSocketPath:status:]> ";
    const std::vector<Case> cases = {
        {"00:00:00:00:00:01", {"initial 1", kOffAlert},
         "<-[DaemonManager serviceQueryResponse:remote:patten:patten_len:attribute:attribute_len:result:]> result "
         "50462724, service_attributeCnt: 0"},
        {"00:00:00:00:00:02", {"initial 1", kSearchAlert},
         "<-[DaemonManager serviceQueryResponse:remote:patten:patten_len:attribute:attribute_len:result:]> No rfcomm "
         "channel found"},
        {"00:00:00:00:00:03", {"initial 1", kConnectionAlert},
         "<notify_rfcomm_connected> result 111 channel 1 sockpath "},
        {"00:00:00:00:00:04", {kConnectionAlert, "initial 1"}, who + "failed to create socket: File name too long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        delegate.events.clear();
        log.clear();
        tap(c.address);
        ASSERT_TRUE(run_until([&] { return delegate.events.size() >= 2; }));
        EXPECT_EQ(delegate.events, c.events);
        EXPECT_TRUE(log.contains(c.log_line)) << c.log_line;
        EXPECT_EQ(manager->state(), DaemonStateConnected);
        EXPECT_LT(manager->dataDescriptor(), 0);
    }
    EXPECT_TRUE(positions.empty());
}

TEST_F(GpsLinkTest, BurstOfMoreThanOneBlockIsReadInOneCallback) {
    ASSERT_NO_FATAL_FAILURE(start(scenario({device("00:00:00:00:00:01", R"([{"name": "GPS", "rfcomm_channel": 1}])",
                           R"("link_faults": {"burst_at_epoch": 1, "drop_after_epochs": 4})")},
                   "2")));
    tap("00:00:00:00:00:01");
    ASSERT_TRUE(run_until([&] { return link_over(); }));
    ASSERT_GE(positions.size(), 2u);
    // The first epochs went out in one write of more than 1023 bytes: two
    // notifications in the same turn of the run loop.
    EXPECT_EQ(positions[0].turn, positions[1].turn);
    EXPECT_NE(daemon->log().find("in one write"), std::string::npos);
}

TEST_F(GpsLinkTest, SentenceSplitAcrossBlocksCompletesWithTheNextOne) {
    ASSERT_NO_FATAL_FAILURE(start(scenario({device("00:00:00:00:00:01", R"([{"name": "GPS", "rfcomm_channel": 1}])",
                           R"("link_faults": {"split_at_epoch": 2, "split_pause_ms": 200, "drop_after_epochs": 3})")},
                   "2")));
    tap("00:00:00:00:00:01");
    ASSERT_TRUE(run_until([&] { return link_over(); }));
    // Epochs one second apart from 2011/09/15 08:30:05; the block that ends
    // inside the second epoch's first sentence repeats the first epoch's
    // values, and the next block brings the second epoch.
    std::vector<std::string> utcs;
    for (const Position& p : positions) {
        if (utcs.empty() || utcs.back() != p.utc) utcs.push_back(p.utc);
    }
    EXPECT_EQ(utcs, (std::vector<std::string>{"2011/09/15 08:30:05.00", "2011/09/15 08:30:06.00",
                                              "2011/09/15 08:30:07.00"}));
    const auto second = std::find_if(positions.begin(), positions.end(),
                                     [](const Position& p) { return p.utc == "2011/09/15 08:30:06.00"; });
    ASSERT_NE(second, positions.begin());
    ASSERT_NE(second, positions.end());
    const Position& before = *(second - 1);
    EXPECT_EQ(before.utc, "2011/09/15 08:30:05.00");
    EXPECT_NE(before.turn, second->turn);
    EXPECT_GE(std::count_if(positions.begin(), positions.end(),
                            [](const Position& p) { return p.utc == "2011/09/15 08:30:05.00"; }),
              2);
}

TEST_F(GpsLinkTest, LinkDroppedByTheDaemonReturnsToState1) {
    ASSERT_NO_FATAL_FAILURE(start(scenario({device("00:00:00:00:00:01", R"([{"name": "GPS", "rfcomm_channel": 1}])",
                           R"("link_faults": {"drop_after_epochs": 2})")},
                   "20")));
    tap("00:00:00:00:00:01");
    ASSERT_TRUE(run_until([&] { return link_over(); }));
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"state 1->3", "state 3->1"}));
    EXPECT_TRUE(log.contains("<notify_rfcomm_disconnected> "));
    EXPECT_TRUE(log.contains("<-[DaemonManager readNMEASentences]> rfcomm socket disconnected"));
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(positions.back().fix, 3);
    // The generated receiver starts at 48.1173 N 11.5167 E.
    EXPECT_NEAR(nmea_ndeg2degree(positions.back().lat), 48.1173, 0.01);
    EXPECT_NEAR(nmea_ndeg2degree(positions.back().lon), 11.5167, 0.01);
}

TEST_F(GpsLinkTest, FiftyLinksLeaveNoDescriptorBehind) {
    ASSERT_NO_FATAL_FAILURE(start(scenario({device("00:00:00:00:00:01", R"([{"name": "GPS", "rfcomm_channel": 1}])",
                           R"("link_faults": {"drop_after_epochs": 1})")})));
    const size_t before = test::open_descriptor_count();
    for (int i = 0; i < 50; ++i) {
        delegate.events.clear();
        tap("00:00:00:00:00:01");
        ASSERT_TRUE(run_until([&] { return link_over(); })) << "link " << i;
    }
    EXPECT_EQ(test::open_descriptor_count(), before);
    EXPECT_GE(positions.size(), 50u);
}

// The reference decoder's fixes beside a capture: time (to the second) to
// latitude and longitude in degrees.
std::map<std::string, std::pair<double, double>> reference_fixes(const std::string& name) {
    const std::string chk = test::read_file(std::string(VGPS_TEST_DATA_DIR) + "/nmea/" + name + ".gpsd.chk");
    std::map<std::string, std::pair<double, double>> fixes;
    auto number = [](const std::string& json, const std::string& key, double* out) {
        const size_t at = json.find("\"" + key + "\":");
        if (at == std::string::npos) return false;
        *out = std::strtod(json.c_str() + at + key.size() + 3, nullptr);
        return true;
    };
    size_t pos = 0;
    while (pos < chk.size()) {
        size_t eol = chk.find('\n', pos);
        if (eol == std::string::npos) eol = chk.size();
        const std::string line = chk.substr(pos, eol - pos);
        pos = eol + 1;
        if (line.rfind("{\"class\":\"TPV\"", 0) != 0) continue;
        const size_t t = line.find("\"time\":\"");
        double lat, lon;
        if (t == std::string::npos || !number(line, "lat", &lat) || !number(line, "lon", &lon)) continue;
        // "2011-09-15T08:30:05.000Z" -> "2011/09/15 08:30:05"
        std::string when = line.substr(t + 8, 19);
        std::replace(when.begin(), when.begin() + 10, '-', '/');
        when[10] = ' ';
        fixes[when] = {lat, lon};
    }
    return fixes;
}

TEST_F(GpsLinkTest, ReplayedCaptureGivesTheRecordedFixes) {
    const std::string capture = std::string(VGPS_TEST_DATA_DIR) + "/nmea/bt-q818.log";
    ASSERT_NO_FATAL_FAILURE(start(scenario({device("00:00:00:00:00:01", R"([{"name": "GPS", "rfcomm_channel": 1}])",
                           R"("nmea_file": ")" + capture + R"(")")},
                   "50")));
    tap("00:00:00:00:00:01");
    ASSERT_TRUE(run_until([&] { return link_over(); }));
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"state 1->3", "state 3->1"}));

    const auto reference = reference_fixes("bt-q818");
    ASSERT_FALSE(reference.empty());
    // Every posted position with a fix is one the reference decoder reported
    // for the same second (single precision: about a metre).
    std::map<std::string, bool> seen;
    for (const Position& p : positions) {
        if (p.fix < 2) continue;
        const auto it = reference.find(p.utc.substr(0, 19));
        ASSERT_NE(it, reference.end()) << p.utc;
        SCOPED_TRACE(p.utc);
        EXPECT_NEAR(nmea_ndeg2degree(p.lat), it->second.first, 2e-5);
        EXPECT_NEAR(nmea_ndeg2degree(p.lon), it->second.second, 2e-5);
        seen[it->first] = true;
    }
    // One epoch per write, so most fixes were posted on their own; the last
    // one always is.
    EXPECT_GE(seen.size() * 2, reference.size());
    EXPECT_TRUE(seen.count(reference.rbegin()->first));
}

}  // namespace
}  // namespace vgps
