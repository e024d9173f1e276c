// The main screen and the GPS inspector against the real vexod, played by
// scripts as a person would and checked through the window's dump.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <regex>

#include "nmea/nmea_support.h"
#include "screens_fixture.h"
#include "support/sockets.h"

namespace vgps::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kNotice =
    "This application is for checking the compatibility with your device. It does not have OnDemand support, "
    "won't forward the GPS data to other applications.";

// "header|footer|rows" of each section of the top table ("-" for none).
std::vector<std::string> sections_text(const JSON& dump) {
    std::vector<std::string> out;
    for (const auto& s : sections_of(dump)) {
        auto text = [](const JSON& t) { return t.is_string() ? t.get<std::string>() : std::string("-"); };
        out.push_back(text(s["header"]) + "|" + text(s["footer"]) + "|" + std::to_string(s["rows"].get<int>()));
    }
    return out;
}

// The value label of an inspector row (UTC, FIX, LON, LAT).
std::string value_of(const JSON& dump, int row) {
    const auto labels = labels_in(cell_at(dump, 0, row));
    return labels.size() == 2 ? labels[1] : "<" + std::to_string(labels.size()) + " labels>";
}

bool spinning(const JSON& view) {
    const JSON spinner = first_in(view, "UIActivityIndicatorView");
    return !spinner.is_null() && spinner["animating"].get<bool>();
}

// The lines of the log that begin with `prefix`.
std::vector<std::string> logged(const LogCapture& log, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& line : log.lines()) {
        if (line.rfind(prefix, 0) == 0) out.push_back(line);
    }
    return out;
}

// A receiver found by the search, generating a track from Munich.
const char* kOneReceiver = R"({"inquiry": {"end_after_ms": 20}, "link": {"speed": 20}, "devices": [
    {"address": "00:0b:0d:88:a2:3c", "class": "0x001f00", "name": "GPSlim236",
     "services": [{"name": "SPP", "rfcomm_channel": 1}]}]})";
const char* kToTheNames = "dismiss\ntap-row 1 0\nwait-for \"Tap on one device to connect.\"\n";

TEST_F(ScreensTest, StartShowsTheNoticeTitleBackButtonAndBanner) {
    startDaemon(R"({"radio": {"powered": false}})");
    launch();
    const JSON start = dumpNow();
    EXPECT_EQ(start["screens"], JSON::parse(R"([{"class":"RootViewController","title":"Skyvane GPS Demo","back":"back"}])"));
    ASSERT_EQ(start["alerts"].size(), 1u);
    EXPECT_EQ(start["alerts"][0], (JSON{{"title", "Skyvane GPS Demo"}, {"message", kNotice}, {"buttons", {"Dismiss"}}}));
    // The banner: 320 by 50 at the table's height (416) less its own and the bar's.
    const auto banners = views_of(start, "GADBannerView");
    ASSERT_EQ(banners.size(), 1u);
    EXPECT_EQ(banners[0]["frame"], JSON::array({0, 416 - 50 - 44, 320, 50}));
    EXPECT_TRUE(std::regex_match(banners[0]["adUnitID"].get<std::string>(), std::regex("[0-9a-f]{15}")));
    EXPECT_EQ(banners[0]["requests"], JSON::parse(R"([{"location":null}])"));
    // Connected: the switch on, the device section with the search row alone.
    EXPECT_EQ(sections_text(start), (std::vector<std::string>{"-|-|1", "Devices|-|1"})) << start.dump();
    // At the right edge of the row, laid out again after every reload.
    EXPECT_EQ(first_in(cell_at(start, 0, 0), "UISwitch")["frame"], JSON::array({215, 8, 75, 25}));
    EXPECT_TRUE(first_in(cell_at(start, 0, 0), "UISwitch")["on"].get<bool>());
    EXPECT_FALSE(spinning(cell_at(start, 0, 0)));
    EXPECT_EQ(labels_in(cell_at(start, 1, 0)), std::vector<std::string>{"Discover more ..."});
    EXPECT_EQ(logged(log, "<-[RootViewController setDaemonStatus:]>"),
              (std::vector<std::string>{"<-[RootViewController setDaemonStatus:]> Daemon status: Connecting to vexod daemon ...",
                                        "<-[RootViewController setDaemonStatus:]> Daemon status: Retrieving vexod daemon state ...",
                                        "<-[RootViewController setDaemonStatus:]> Daemon status: (null)"}));

    const JSON dismissed = play("dismiss\ndump").at(0);
    EXPECT_TRUE(dismissed["alerts"].empty());
    EXPECT_EQ(views_of(dismissed, "GADBannerView")[0]["text"], "vexod-gps: your Bluetooth GPS receiver, on Linux");
}

TEST_F(ScreensTest, AnUnreachableDaemonKeepsTheSpinnerButTheSwitchTriesAgain) {
    manager->setDaemonSocketPath(dir.file("vexod.sock"));  // nobody there yet
    launch();
    const JSON failed = dumpNow();
    ASSERT_EQ(failed["alerts"].size(), 2u);
    EXPECT_EQ(failed["alerts"][1],
              (JSON{{"title", "Failed to connect to daemon"},
                    {"message", "Please make sure this app was successfully installed, you can reinstall it in Cydia."},
                    {"buttons", {"Dismiss"}}}));
    EXPECT_EQ(sections_text(failed), std::vector<std::string>{"-|Failed to connect to vexod daemon.|1"});
    // The spinner runs on, and the switch (off) stays beside it.
    const JSON row = cell_at(failed, 0, 0);
    EXPECT_TRUE(spinning(row));
    ASSERT_FALSE(first_in(row, "UISwitch").is_null());
    EXPECT_FALSE(first_in(row, "UISwitch")["on"].get<bool>());
    EXPECT_EQ(first_in(row, "UISwitch")["frame"], JSON::array({33, 0, 75, 25}));
    EXPECT_EQ(first_in(row, "UIActivityIndicatorView")["frame"], JSON::array({0, 0, 25, 25}));

    // Turned on with still nobody there: the same again, switch in reach.
    const JSON again = play("dismiss\ndismiss\ntap-switch\ndump").at(0);
    EXPECT_TRUE(complaints.empty());
    EXPECT_EQ(sections_text(again), std::vector<std::string>{"-|Failed to connect to vexod daemon.|1"});
    EXPECT_TRUE(spinning(cell_at(again, 0, 0)));
    EXPECT_FALSE(first_in(cell_at(again, 0, 0), "UISwitch")["on"].get<bool>());
    EXPECT_TRUE(again["alerts"].empty());
    EXPECT_TRUE(log.contains("<-[RootViewController setDaemonStatus:]> Daemon status: Initializing vexod daemon ..."));

    // With the daemon there, the switch connects.
    startDaemon("{}");
    const JSON connected = play("tap-switch\ndump").at(0);
    EXPECT_EQ(sections_text(connected), (std::vector<std::string>{"-|-|1", "Devices|-|1"}));
    EXPECT_FALSE(spinning(cell_at(connected, 0, 0)));
    EXPECT_TRUE(first_in(cell_at(connected, 0, 0), "UISwitch")["on"].get<bool>());
    EXPECT_EQ(manager->state(), DaemonStateConnected);
}

TEST_F(ScreensTest, SwitchingOffDropsTheLinkAndTheDaemonAndOnConnectsAgain) {
    startDaemon(kOneReceiver);
    launch();
    play(std::string(kToTheNames) + "tap-row 1 0\nwait-for \"GPS Inspector\"\nback");
    ASSERT_EQ(manager->state(), DaemonStateLinked);
    log.clear();
    const JSON off = play("tap-switch\ndump").at(0);
    EXPECT_EQ(sections_text(off), std::vector<std::string>{"-|Connected to vexod daemon.|1"});
    EXPECT_FALSE(first_in(cell_at(off, 0, 0), "UISwitch")["on"].get<bool>());
    EXPECT_EQ(logged(log, "<-[RootViewController setDaemonStatus:]>"),
              (std::vector<std::string>{"<-[RootViewController setDaemonStatus:]> Daemon status: Shutting down vexod daemon ...",
                                        "<-[RootViewController setDaemonStatus:]> Daemon status: Connected to vexod daemon."}));
    // The link went with it, and its device is idle again.
    EXPECT_EQ(manager->state(), DaemonStateDisconnected);
    EXPECT_LT(manager->dataDescriptor(), 0);
    EXPECT_EQ(devices.deviceAt(0)->state(), BTDeviceStateIdle);

    log.clear();
    const JSON on = play("tap-switch\ndump").at(0);
    EXPECT_EQ(logged(log, "<-[RootViewController setDaemonStatus:]>"),
              (std::vector<std::string>{"<-[RootViewController setDaemonStatus:]> Daemon status: Initializing vexod daemon ...",
                                        "<-[RootViewController setDaemonStatus:]> Daemon status: (null)"}));
    EXPECT_EQ(sections_text(on), (std::vector<std::string>{"-|-|1", "Devices|Remote service disconnected.|2"}));
    const JSON row = cell_at(on, 1, 0);
    EXPECT_EQ(row["accessory"], 0);
    EXPECT_TRUE(first_in(row, "UIImageView")["image"].is_null());
}

TEST_F(ScreensTest, TheSearchRowDropsUnsavedDevicesAndNamesResolveOneAtATime) {
    remember("a-then-b");
    startDaemon(R"({"inquiry": {"end_after_ms": 400}, "devices": [
      {"address": "00:0b:0d:88:a2:3c", "name": "Slow", "inquiry_delay_ms": 10, "name_delay_ms": 80},
      {"address": "00:02:78:14:c9:7d", "inquiry_delay_ms": 20},
      {"address": "00:1c:88:30:5e:01", "name": "Last", "inquiry_delay_ms": 30}]})");
    launch();
    auto dumps = play(
        "dismiss\ntap-row 1 2\ndump\ntap-row 1 2\ndump\n"
        "wait-for \"Tap on one device to connect.\"\ndump");
    ASSERT_EQ(dumps.size(), 3u);
    EXPECT_EQ(sections_text(dumps[0])[1], "Devices|Searching for new devices ...|3");
    EXPECT_EQ(labels_in(cell_at(dumps[0], 1, 2)), std::vector<std::string>{"Searching ..."});
    EXPECT_TRUE(spinning(cell_at(dumps[0], 1, 2)));
    EXPECT_FALSE(cell_at(dumps[0], 1, 2)["selected"].get<bool>());
    // A second tap while searching does nothing but leave the row selected.
    EXPECT_TRUE(cell_at(dumps[1], 1, 2)["selected"].get<bool>());
    EXPECT_EQ(logged(log, "<vexod_start_inquiry> funcid = 15").size(), 1u);

    // One name request at a time, each after the last answer; the one that
    // fails moves on to the next.
    std::vector<std::string> names;
    for (const auto& line : log.lines()) {
        if (line == "<vexod_request_name> funcid = 19") names.push_back("ask");
        if (line == "<notify_requst_name_complete> ") names.push_back("answer");
    }
    EXPECT_EQ(names, (std::vector<std::string>{"ask", "answer", "ask", "answer", "ask", "answer"}));
    EXPECT_EQ(sections_text(dumps[2])[1], "Devices|Tap on one device to connect.|6");
    EXPECT_EQ(labels_in(cell_at(dumps[2], 1, 2))[0], "Slow");
    EXPECT_EQ(labels_in(cell_at(dumps[2], 1, 3))[0], "00:02:78:14:c9:7d");
    EXPECT_EQ(labels_in(cell_at(dumps[2], 1, 4)),
              (std::vector<std::string>{"Last", "Address: 00:1c:88:30:5e:01 Class: 000000"}));

    // The next search drops the three unsaved devices in one update.
    UITableView* table = root()->tableView();
    table->clearUpdates();
    play("tap-row 1 5");
    std::vector<UITableViewUpdate> deletes;
    for (const auto& u : table->updates()) {
        if (u.kind == "deleteRows") deletes.push_back(u);
    }
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_EQ(deletes[0].rows, (std::vector<NSIndexPath>{{1, 2}, {1, 3}, {1, 4}}));
    EXPECT_EQ(deletes[0].animation, UITableViewRowAnimationBottom);
    EXPECT_EQ(devices.deviceCount(), 2u);
}

TEST_F(ScreensTest, ConnectingLinkingAndTheInspectorFollowingThePosition) {
    // Fix 1, 2, 3 at 48.1173 N 11.5167 E, then a step north, then a zero
    // that the record holds as negative (south, west).
    std::string track;
    const char* epochs[][4] = {{"083000.00", "V", "4807.038,N,01131.000,E", "1"},
                               {"083001.00", "A", "4807.038,N,01131.000,E", "2"},
                               {"083002.00", "A", "4807.038,N,01131.000,E", "3"},
                               {"083003.00", "A", "4808.000,N,01131.000,E", "3"},
                               {"083004.00", "A", "0000.000,S,00000.000,W", "3"}};
    for (const auto& e : epochs) {
        track += nmea_sentence(std::string("GPRMC,") + e[0] + "," + e[1] + "," + e[2] + ",0.0,0.0,150911,,");
        track += nmea_sentence(std::string("GPGSA,A,") + e[3] + ",04,05,,09,12,,,24,,,,,2.5,1.3,2.1");
    }
    write_file(dir.file("fix.nmea"), track);
    startDaemon(R"({"inquiry": {"end_after_ms": 20}, "link": {"speed": 4}, "devices": [
      {"address": "00:0b:0d:88:a2:3c", "name": "Fixer", "services": [{"name": "SPP", "rfcomm_channel": 1}],
       "nmea_file": "fix.nmea"},
      {"address": "00:1c:88:30:5e:01", "name": "Other", "services": [{"name": "SPP", "rfcomm_channel": 1}]}]})");
    launch();
    play(kToTheNames);
    const auto d = play(
        "tap-row 1 0\ndump\nwait-for \"GPS Inspector\"\nwait-for \"Fix not available\"\ndump\nwait-for 2D\ndump\n"
        "wait-for 3D\ndump\nwait-for 48.1333\ndump\nwait-for -0.000000\ndump\nback\ndump\ntap-row 1 1\ndump");
    ASSERT_EQ(d.size(), 8u);

    // Connecting: the spinner, "Connecting ...".
    EXPECT_TRUE(spinning(cell_at(d[0], 1, 0)));
    EXPECT_EQ(labels_in(cell_at(d[0], 1, 0)), (std::vector<std::string>{"Fixer", "Connecting ..."}));
    EXPECT_EQ(sections_text(d[0])[1], "Devices|Tap on one device to connect.|3");

    // Linked: the inspector on top, "back" to the main screen.
    EXPECT_EQ(d[1]["screens"], JSON::parse(R"([{"class":"RootViewController","title":"Skyvane GPS Demo","back":"back"},
                                               {"class":"GPSInspector","title":"GPS Inspector","back":null}])"));
    EXPECT_EQ(views_of(d[1], "UINavigationBar")[0]["back"], "back");
    EXPECT_EQ(value_of(d[1], 1), "Fix not available");
    EXPECT_EQ(labels_in(cell_at(d[1], 0, 0))[0], "UTC");
    EXPECT_EQ(labels_in(cell_at(d[1], 0, 2))[0], "LON");
    EXPECT_EQ(labels_in(cell_at(d[1], 0, 3))[0], "LAT");
    EXPECT_EQ(views_of(d[1], "GADBannerView")[0]["frame"], JSON::array({0, 322, 320, 50}));
    EXPECT_EQ(cell_at(d[1], 1, 0)["frame"][3], 416 - 168);  // the map row
    // The coordinates are shown whatever the fix says.
    EXPECT_EQ(value_of(d[2], 1), "2D");
    EXPECT_EQ(value_of(d[2], 0), "2011/09/15 08:30:01.00");
    EXPECT_EQ(value_of(d[2], 3), "48.117302");
    EXPECT_EQ(value_of(d[2], 2), "11.516666");
    EXPECT_EQ(views_of(d[2], "GADBannerView")[0]["requests"].size(), 1u);

    // 3D: the pin, and one request of the banner with the position.
    EXPECT_EQ(value_of(d[3], 1), "3D");
    const JSON map = views_of(d[3], "MKMapView").at(0);
    EXPECT_NEAR(map["center"][0].get<double>(), 48.117302, 1e-6);
    EXPECT_EQ(map["span"], JSON::array({0.01, 0.01}));
    ASSERT_EQ(map["annotations"].size(), 1u);
    EXPECT_EQ(map["annotations"][0]["title"], "Current Location");
    EXPECT_EQ(map["annotations"][0]["subtitle"], "48.117302 - 11.516666");
    const JSON requests = views_of(d[3], "GADBannerView")[0]["requests"];
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NEAR(requests[1]["location"][0].get<double>(), 48.117302, 1e-5);
    EXPECT_EQ(requests[1]["location"][2], 10);

    // The map follows; later 3D fixes ask nothing more of the banner.
    EXPECT_EQ(views_of(d[4], "MKMapView")[0]["annotations"][0]["subtitle"].get<std::string>().substr(0, 7), "48.1333");
    EXPECT_EQ(views_of(d[4], "GADBannerView")[0]["requests"].size(), 2u);
    EXPECT_EQ(value_of(d[5], 3), "-0.000000");
    EXPECT_EQ(value_of(d[5], 2), "-0.000000");
    EXPECT_EQ(views_of(d[5], "GADBannerView")[0]["requests"].size(), 2u);

    // Back on the main screen: the row checked, bold, with its detail button.
    const JSON linked = cell_at(d[6], 1, 0);
    EXPECT_EQ(linked["accessory"], 2);
    EXPECT_EQ(first_in(linked, "UIImageView")["image"], "checked.png");
    EXPECT_TRUE(first_in(linked, "UILabel")["font"]["bold"].get<bool>());
    EXPECT_EQ(sections_text(d[6])[1], "Devices|Connected to remote service.|3");
    // While linked, another device's row cannot be selected.
    EXPECT_FALSE(spinning(cell_at(d[7], 1, 1)));
    EXPECT_FALSE(cell_at(d[7], 1, 1)["selected"].get<bool>());
    EXPECT_EQ(logged(log, "<vexod_service_attribute_search_request>").size(), 1u);

    // The recorded track ends: notification 31, the row idle again; the
    // detail button opens a new inspector while the link is up only.
    const JSON ended = play("wait-for \"Remote service disconnected.\"\ndump\ntap-detail 1 0").at(0);
    EXPECT_EQ(sections_text(ended)[1], "Devices|Remote service disconnected.|3");
    EXPECT_EQ(cell_at(ended, 1, 0)["accessory"], 0);
    EXPECT_TRUE(first_in(cell_at(ended, 1, 0), "UIImageView")["image"].is_null());
    EXPECT_EQ(complaints, std::vector<std::string>{"no detail button 1 0"});
}

TEST_F(ScreensTest, AFailedConnectionPutsTheRowBackAndTheNextLinkMarksTheRightOne) {
    startDaemon(R"({"inquiry": {"end_after_ms": 20}, "link": {"speed": 20}, "devices": [
      {"address": "00:0b:0d:88:a2:3c", "name": "Off", "switched_off": true},
      {"address": "00:1c:88:30:5e:01", "name": "On", "services": [{"name": "SPP", "rfcomm_channel": 1}]}]})");
    launch();
    const auto d = play(std::string(kToTheNames) +
                        "tap-row 1 0\nwait-for \"Service Searching\"\ndump\ndismiss\n"
                        "tap-row 1 1\nwait-for \"GPS Inspector\"\nback\ndump");
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0]["alerts"][0]["message"], "Could be perform service searching, make sure the device is on.");
    EXPECT_FALSE(spinning(cell_at(d[0], 1, 0)));
    EXPECT_EQ(labels_in(cell_at(d[0], 1, 0))[1], "Address: 00:0b:0d:88:a2:3c Class: 000000");
    EXPECT_EQ(first_in(cell_at(d[1], 1, 1), "UIImageView")["image"], "checked.png");
    EXPECT_TRUE(first_in(cell_at(d[1], 1, 0), "UIImageView")["image"].is_null());
    EXPECT_EQ(devices.deviceAt(0)->state(), BTDeviceStateIdle);
}

TEST_F(ScreensTest, LinksComingOneAfterAnotherKeepTheStackTwoScreensDeep) {
    startDaemon("{}");
    launch();
    play("dismiss");
    // A link comes up again and again (notification 30 with a socket that
    // accepts), each time without the user going back.
    const std::string path = dir.file("link");
    const int listener = listen_unix(path);
    const size_t descriptors = open_descriptor_count(), sources = loop.source_count();
    std::weak_ptr<UIViewController> first;
    std::vector<int> peers;
    for (int i = 0; i < 200; ++i) {
        manager->connectWithSocketPath_status(path.c_str(), 0);
        peers.push_back(::accept(listener, nullptr, nullptr));
        if (i == 0) first = nav()->viewControllers().back();
        loop.run_once(0ms);
    }
    EXPECT_EQ(nav()->viewControllers().size(), 2u);
    EXPECT_EQ(center.observerCount(kPositionNotificationName), 1u);
    EXPECT_TRUE(first.expired());
    EXPECT_EQ(logged(log, "<-[GPSInspector viewWillAppear:]>").size(), 200u);
    // Each link replaced closed its data socket and left the run loop.
    EXPECT_EQ(open_descriptor_count(), descriptors + peers.size() + 1);
    EXPECT_EQ(loop.source_count(), sources + 1);
    for (int peer : peers) ::close(peer);
    ::close(listener);
}

TEST_F(ScreensTest, BookmarksToggleOnScreenOnlyAndAreNeverWritten) {
    remember("a-then-b");  // B is the bookmarked one
    const std::string prefs = read_file(dir.file("com.quiloe.vexod.plist"));
    startDaemon("{}");
    launch();
    const auto d = play(
        "dismiss\ntap-bookmark 0\ntap-bookmark 0\ndump\ndismiss\ntap-bookmark 0\ndump\ndismiss\ntap-bookmark 2");
    ASSERT_EQ(d.size(), 2u);
    auto ribbon = [](const JSON& dump, int row) {
        return first_in(cell_at(dump, 1, row), "UIButton")["images"]["normal"].get<std::string>();
    };
    // The first press: one alert (which covers the row from the second
    // tap), A bookmarked, B not.
    EXPECT_EQ(d[0]["alerts"], JSON::parse(R"([{"title":null,"message":null,"buttons":["Dismiss"]}])"));
    EXPECT_EQ(ribbon(d[0], 0), "bookmark-ribbon-small.png");
    EXPECT_EQ(ribbon(d[0], 1), "bookmark-PDF.png");
    // Pressed again: A back as it was; B stays cleared.
    EXPECT_EQ(ribbon(d[1], 0), "bookmark-PDF.png");
    EXPECT_EQ(ribbon(d[1], 1), "bookmark-PDF.png");
    EXPECT_FALSE(devices.deviceAt(0)->isBookmarked());
    EXPECT_FALSE(devices.deviceAt(1)->isBookmarked());
    EXPECT_EQ(complaints, (std::vector<std::string>{"not on screen 1 0", "no bookmark button 2"}));
    EXPECT_EQ(read_file(dir.file("com.quiloe.vexod.plist")), prefs);
}

TEST_F(ScreensTest, PositionsWithNoInspectorShownChangeNothingAndArePostedToNobody) {
    startDaemon(kOneReceiver);
    launch();
    play(std::string(kToTheNames) + "tap-row 1 0\nwait-for \"GPS Inspector\"\nwait-for 3D\nback\nwait 0.1");
    EXPECT_EQ(nav()->viewControllers().size(), 1u);
    EXPECT_EQ(center.observerCount(kPositionNotificationName), 0u);
    struct Counter : UIDisplayObserver {
        void applicationNeedsDisplay(UIApplication*, const UIDisplayChanges& c) override { views += c.views.size(); }
        size_t views = 0;
    } counter;
    app.setDisplayObserver(&counter);
    const JSON before = dumpNow();
    play("wait 0.5");  // ten epochs
    EXPECT_EQ(counter.views, 0u);
    EXPECT_EQ(dumpNow(), before);
    EXPECT_EQ(manager->state(), DaemonStateLinked);
    app.setDisplayObserver(nullptr);
}

TEST_F(ScreensTest, ATappedRowIsDeselectedLaterUnlessItIsGone) {
    startDaemon(R"({"inquiry": {"end_after_ms": 20}, "devices": [
      {"address": "00:0b:0d:88:a2:3c", "name": "Slow", "switched_off": true, "search_delay_ms": 2000}]})");
    launch();
    play(kToTheNames);
    UITableView* table = root()->tableView();
    table->clearUpdates();
    auto d = play("tap-row 1 0\ndump\nwait 0.7\ndump");
    EXPECT_TRUE(cell_at(d[0], 1, 0)["selected"].get<bool>());
    EXPECT_FALSE(cell_at(d[1], 1, 0)["selected"].get<bool>());
    const auto deselected = std::count_if(table->updates().begin(), table->updates().end(), [](const auto& u) {
        return u.kind == "deselect" && u.rows == std::vector<NSIndexPath>{{1, 0}} && u.animated;
    });
    EXPECT_EQ(deselected, 1);

    // The switch goes off before the half second is over: the row is gone.
    table->clearUpdates();
    d = play("tap-row 1 0\ntap-switch\nwait 0.7\ndump");
    EXPECT_EQ(sections_text(d[0]).size(), 1u);
    for (const auto& u : table->updates()) EXPECT_NE(u.kind, "deselect");
}

}  // namespace
}  // namespace vgps::test
