// The BlueZ client against python-dbusmock's BlueZ template on a private
// bus: each device once per inquiry (the application's registry would hide
// a repeat), names late or never, and the adapter, BlueZ or the bus itself
// going away. (Adapters and power: vexod_bluez_test.cpp.)
#include "bluez/bluez_client.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bluez_mock.h"
#include "platform/log.h"
#include "platform/run_loop.h"

namespace vexod::bluez {
namespace {

using namespace std::chrono_literals;

vgps::bdaddr addr(const char* text) {
    vgps::bdaddr a{};
    EXPECT_TRUE(vgps::bdaddr_from_text(text, &a)) << text;
    return a;
}

// What the client reported, in order, as text.
struct Recorder : BluezListener {
    std::vector<std::string> events;
    void bluez_adapter_changed(const std::string& adapter) override { events.push_back("adapter " + adapter); }
    void bluez_device_found(const vgps::bdaddr& address, uint32_t device_class) override {
        char cls[16];
        std::snprintf(cls, sizeof cls, "%06x", device_class);
        events.push_back("found " + vgps::ba2str(address) + " " + cls);
    }
    void bluez_inquiry_complete(bool canceled) override { events.push_back(canceled ? "canceled" : "complete"); }
    void bluez_name_result(const vgps::bdaddr& address, const std::optional<std::string>& name) override {
        events.push_back("name " + vgps::ba2str(address) + " " + (name ? "\"" + *name + "\"" : "none"));
    }
    size_t count(const std::string& prefix) const {
        return std::count_if(events.begin(), events.end(), [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    }
    bool has(const std::string& event) const { return std::find(events.begin(), events.end(), event) != events.end(); }
};

class BluezClientTest : public ::testing::Test {
protected:
    // A new client under test, on a loop of the test's own.
    void start(BluezOptions options = {}) {
        options.name_timeout = 400ms;
        options.discovery_linger = 50ms;
        client.reset();
        recorder.events.clear();
        client = std::make_unique<BluezClient>(&loop, options, &recorder);
        std::string error;
        ASSERT_TRUE(client->start(&error)) << error;
        ASSERT_TRUE(loop.run_until([&] { return client->ready(); }, 5000ms)) << mock.log();
    }
    bool run_until(const std::function<bool()>& done) { return loop.run_until(done, 5000ms); }
    bool event(const std::string& e) {
        return run_until([&] { return recorder.has(e); });
    }

    vgps::LogCapture log;
    test::BluezMock mock;
    vgps::RunLoop loop;
    Recorder recorder;
    std::unique_ptr<BluezClient> client;
};

TEST_F(BluezClientTest, InquiryReportsEachDeviceWithAClassOncePerInquiry) {
    mock.add_adapter("hci0");
    const std::string gps = mock.add_device("hci0", "00:0B:0D:88:A2:3C", "GPSlim236", 0x001f00);
    start();

    ASSERT_TRUE(client->start_inquiry(1500ms));
    // In range already when the inquiry starts.
    ASSERT_TRUE(event("found 00:0b:0d:88:a2:3c 001f00"));
    EXPECT_TRUE(run_until([&] { return mock.discovering("hci0"); }));
    // Found while it runs; a low-energy-only device (no class) is not
    // reported; seeing a device again does not report it again.
    mock.add_unnamed_device("hci0", "00:1C:88:30:5E:01", 0x5a020c);
    mock.add_unnamed_device("hci0", "C4:7C:8D:6A:11:22", 0);
    mock.set_rssi(gps, -40);
    ASSERT_TRUE(event("complete"));
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"adapter hci0", "found 00:0b:0d:88:a2:3c 001f00",
                                                         "found 00:1c:88:30:5e:01 5a020c", "complete"}));
    // Classic devices only, asked for once; discovery stops after it.
    EXPECT_EQ(mock.calls("hci0", "SetDiscoveryFilter"), 1);
    EXPECT_EQ(mock.calls("hci0", "StartDiscovery"), 1);
    EXPECT_TRUE(run_until([&] { return !mock.discovering("hci0"); }));
    EXPECT_EQ(mock.calls("hci0", "StopDiscovery"), 1);

    // The next inquiry reports them again; one started while it runs
    // replaces it, reporting them again too, and discovery goes on.
    recorder.events.clear();
    ASSERT_TRUE(client->start_inquiry(5000ms));
    ASSERT_TRUE(run_until([&] { return recorder.count("found ") == 2; }));
    ASSERT_TRUE(client->start_inquiry(300ms));
    ASSERT_TRUE(event("complete"));
    EXPECT_EQ(recorder.count("found "), 4u);
    EXPECT_EQ(recorder.count("complete"), 1u) << "the replaced inquiry does not end on its own";
    EXPECT_EQ(mock.calls("hci0", "StartDiscovery"), 2);
}

TEST_F(BluezClientTest, NamesLateOrNever) {
    mock.add_adapter("hci0");
    const std::string late = mock.add_unnamed_device("hci0", "00:1C:88:30:5E:01", 0x001f00);
    mock.add_unnamed_device("hci0", "00:02:78:14:C9:7D", 0x5a020c);
    start();

    // Not known yet: discovery runs (BlueZ resolves names while it runs)
    // until the name arrives.
    client->request_name(addr("00:1c:88:30:5e:01"));
    ASSERT_TRUE(run_until([&] { return mock.discovering("hci0"); }));
    mock.set_name(late, "BT-GPS 5E01");
    ASSERT_TRUE(event("name 00:1c:88:30:5e:01 \"BT-GPS 5E01\""));
    EXPECT_TRUE(run_until([&] { return !mock.discovering("hci0"); }));

    // Never: answered without a name at the time-out; so is an address
    // BlueZ does not know.
    client->request_name(addr("00:02:78:14:c9:7d"));
    client->request_name(addr("00:00:00:00:00:01"));
    ASSERT_TRUE(event("name 00:00:00:00:00:01 none"));
    EXPECT_TRUE(recorder.has("name 00:02:78:14:c9:7d none"));
    EXPECT_TRUE(log.contains("<vexod> no name from 00:02:78:14:c9:7d"));
    EXPECT_TRUE(run_until([&] { return !mock.discovering("hci0"); }));
}

TEST_F(BluezClientTest, TheAdapterGoingAwayEndsWhatItWasDoing) {
    mock.add_adapter("hci0");
    mock.add_device("hci0", "00:0B:0D:88:A2:3C", "GPSlim236", 0x001f00);
    mock.add_unnamed_device("hci0", "00:1C:88:30:5E:01", 0x001f00);
    start();
    ASSERT_TRUE(client->start_inquiry(10000ms));
    client->request_name(addr("00:1c:88:30:5e:01"));
    ASSERT_TRUE(event("found 00:1c:88:30:5e:01 001f00"));

    // Gone before its devices are (as BlueZ may announce it).
    mock.remove_adapter("hci0", false);
    ASSERT_TRUE(event("adapter "));
    EXPECT_TRUE(recorder.has("canceled"));
    EXPECT_TRUE(recorder.has("name 00:1c:88:30:5e:01 none"));
    EXPECT_FALSE(client->powered());
    EXPECT_FALSE(client->start_inquiry(100ms));
    EXPECT_TRUE(log.contains("<vexod> Bluetooth adapter hci0 went away"));

    // Plugged in again: taken again, without the devices of before.
    recorder.events.clear();
    mock.add_adapter("hci0");
    ASSERT_TRUE(event("adapter hci0"));
    EXPECT_TRUE(client->powered());
    client->request_name(addr("00:0b:0d:88:a2:3c"));
    ASSERT_TRUE(event("name 00:0b:0d:88:a2:3c none")) << "a device of the adapter that went away";
}

TEST_F(BluezClientTest, BluezOrTheBusGoingAndComing) {
    // No BlueZ at the start: no adapter, and no failure.
    mock.stop_bluez();
    start();
    EXPECT_EQ(client->adapter(), "");
    EXPECT_TRUE(log.contains("<vexod> BlueZ does not answer (org.freedesktop.DBus.Error.ServiceUnknown: The name "
                             "org.bluez was not provided by any .service files): no Bluetooth adapter until it starts"))
        << ::testing::PrintToString(log.lines());

    // BlueZ starting, then stopping with an inquiry running.
    recorder.events.clear();
    mock.start_bluez();
    mock.add_adapter("hci0");
    ASSERT_TRUE(event("adapter hci0"));
    ASSERT_TRUE(client->start_inquiry(10000ms));
    mock.stop_bluez();
    ASSERT_TRUE(event("adapter "));
    EXPECT_TRUE(recorder.has("canceled"));
    EXPECT_TRUE(log.contains("<vexod> Bluetooth adapter hci0 is gone: BlueZ stopped"));

    // The bus itself going away.
    recorder.events.clear();
    mock.start_bluez();
    mock.add_adapter("hci0");
    ASSERT_TRUE(event("adapter hci0"));
    mock.stop_bus();
    ASSERT_TRUE(event("adapter "));
    EXPECT_FALSE(client->powered());
    const auto lines = log.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("<vexod> system bus connection lost: ", 0) == 0;
    }));
    EXPECT_TRUE(log.contains("<vexod> Bluetooth adapter hci0 is out of reach: the system bus connection was lost"))
        << ::testing::PrintToString(log.lines());
}

}  // namespace
}  // namespace vexod::bluez
