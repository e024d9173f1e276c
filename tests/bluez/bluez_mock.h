// BlueZ for tests: a private bus (a dbus-daemon of the test's own, with
// DBUS_SYSTEM_BUS_ADDRESS pointed at it for this process and its children)
// on which python-dbusmock's BlueZ template plays bluetoothd, driven by the
// test over D-Bus: adapters and devices added and removed, properties
// changed, state read back. Failures are recorded as test failures.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>

#include "support/process.h"
#include "support/temp_dir.h"

namespace vexod::bluez::test {

class BluezMock {
public:
    explicit BluezMock(bool start = true)
        : bus_daemon_({VEXOD_DBUS_DAEMON, "--session", "--address=unix:path=" + dir_.file("bus"), "--nofork",
                       "--nopidfile", "--print-address=1"},
                      dir_.file("bus.out"), dir_.file("bus.err")),
          address_("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir_.file("bus")) {
        EXPECT_TRUE(vgps::test::wait_for_text(dir_.file("bus.out"), "unix:")) << log();
        EXPECT_GE(sd_bus_open_system(&bus_), 0);
        if (start) start_bluez();
    }
    ~BluezMock() { sd_bus_flush_close_unref(bus_); }
    BluezMock(const BluezMock&) = delete;
    BluezMock& operator=(const BluezMock&) = delete;

    // Starts the mock BlueZ (Debian's python3-dbusmock is a module of
    // Debian's own interpreter, which need not be the first python3 on
    // PATH) and waits until it owns its name.
    void start_bluez() {
        const std::string n = std::to_string(++bluez_runs_);
        bluez_ = std::make_unique<vgps::test::ChildProcess>(
            std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--template", "bluez5", "--system"},
            dir_.file("bluez" + n + ".out"), dir_.file("bluez" + n + ".err"));
        for (int tries = 0;; ++tries) {
            int owned = 0;
            sd_bus_message* reply = nullptr;
            if (sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                   "NameHasOwner", nullptr, &reply, "s", "org.bluez") >= 0)
                sd_bus_message_read(reply, "b", &owned);
            sd_bus_message_unref(reply);
            if (owned) return;
            if (!bluez_->running() || tries == 1000) {
                ADD_FAILURE() << "the mock BlueZ did not start: " << log();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    // As if bluetoothd stopped.
    void stop_bluez() {
        bluez_->signal(SIGTERM);
        bluez_->wait(std::chrono::milliseconds(5000));
    }
    // Killed, so that the bus says nothing more on its way out.
    void stop_bus() {
        bus_daemon_.signal(SIGKILL);
        bus_daemon_.wait(std::chrono::milliseconds(5000));
    }

    // An adapter "hciN", powered.
    void add_adapter(const std::string& name) { call("/", kBluezMock, "AddAdapter", "ss", name.c_str(), "laptop"); }
    // Gone with its devices, or (as BlueZ may announce it) before them.
    void remove_adapter(const std::string& name, bool with_devices) {
        call("/", kBluezMock, with_devices ? "RemoveAdapterWithDevices" : "RemoveAdapter", "s", name.c_str());
    }
    // A device as the template makes it (a name and an RSSI), given a class.
    std::string add_device(const std::string& adapter, const std::string& address, const std::string& name,
                           uint32_t device_class) {
        const auto reply = call("/", kBluezMock, "AddDevice", "sss", adapter.c_str(), address.c_str(), name.c_str());
        const char* path = "";
        if (reply) sd_bus_message_read(reply.get(), "s", &path);
        update(path, kDevice, "Class", "u", device_class);
        return path;
    }
    // A device as BlueZ announces a new one whose name is not known yet:
    // address, RSSI and class (0: a low-energy-only device, with an
    // appearance instead). The object path returned.
    std::string add_unnamed_device(const std::string& adapter, const std::string& address, uint32_t device_class) {
        std::string path = "/org/bluez/" + adapter + "/dev_" + address;
        std::replace(path.begin(), path.end(), ':', '_');
        const std::string owner = "/org/bluez/" + adapter;
        const bool classic = device_class != 0;
        const char* kind = classic ? "Class" : "Appearance";
        const char* type = classic ? "u" : "q";
        const uint32_t value = classic ? device_class : 0x0c80;  // a watch
        call("/", kMock, "AddObject", "ssa{sv}a(ssss)", path.c_str(), kDevice, 4, "Address", "s", address.c_str(),
             "Adapter", "o", owner.c_str(), "RSSI", "n", -60, kind, type, value, 0);
        call("/", kMock, "EmitSignal", "sssav", "org.freedesktop.DBus.ObjectManager", "InterfacesAdded", "oa{sa{sv}}",
             2, "o", path.c_str(), "a{sa{sv}}", 1, kDevice, 4, "Address", "s", address.c_str(), "Adapter", "o",
             owner.c_str(), "RSSI", "n", -60, kind, type, value);
        return path;
    }
    // The name arrives (the property added silently, then announced).
    void set_name(const std::string& device, const std::string& name) {
        call(device, kMock, "AddProperty", "ssv", kDevice, "Name", "s", "");
        update(device, kDevice, "Name", "s", name.c_str());
    }
    // The device seen again.
    void set_rssi(const std::string& device, int16_t rssi) { update(device, kDevice, "RSSI", "n", rssi); }
    // Someone else switches the adapter.
    void set_powered(const std::string& adapter, bool on) {
        update("/org/bluez/" + adapter, kAdapter, "Powered", "b", on);
    }

    bool powered(const std::string& adapter) { return adapter_flag(adapter, "Powered"); }
    bool discovering(const std::string& adapter) { return adapter_flag(adapter, "Discovering"); }
    // How often a method of an adapter was called.
    int calls(const std::string& adapter, const char* method) {
        const auto reply = call("/org/bluez/" + adapter, kMock, "GetMethodCalls", "s", method);
        int count = 0;
        if (reply && sd_bus_message_enter_container(reply.get(), 'a', "(tav)") > 0)
            while (sd_bus_message_skip(reply.get(), "(tav)") > 0) ++count;
        return count;
    }

    std::string log() const {
        std::string text = vgps::test::read_file(dir_.file("bus.err"));
        for (int i = 1; i <= bluez_runs_; ++i) text += vgps::test::read_file(dir_.file("bluez" + std::to_string(i) + ".err"));
        return text;
    }

private:
    static constexpr const char* kMock = "org.freedesktop.DBus.Mock";
    static constexpr const char* kBluezMock = "org.bluez.Mock";
    static constexpr const char* kAdapter = "org.bluez.Adapter1";
    static constexpr const char* kDevice = "org.bluez.Device1";

    // A method call to the mock; its reply, null after a failure.
    template <class... A>
    std::shared_ptr<sd_bus_message> call(const std::string& path, const char* interface, const char* member,
                                         const char* types, A... args) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(bus_, "org.bluez", path.c_str(), interface, member, &error, &reply, types, args...) < 0)
            ADD_FAILURE() << member << " on " << path << ": " << error.message;
        sd_bus_error_free(&error);
        return {reply, sd_bus_message_unref};
    }
    // A property changed, with PropertiesChanged.
    template <class V>
    void update(const std::string& path, const char* interface, const char* property, const char* type, V value) {
        call(path, kMock, "UpdateProperties", "sa{sv}", interface, 1, property, type, value);
    }
    bool adapter_flag(const std::string& adapter, const char* property) {
        const auto reply = call("/org/bluez/" + adapter, "org.freedesktop.DBus.Properties", "Get", "ss", kAdapter, property);
        int value = 0;
        EXPECT_TRUE(reply && sd_bus_message_read(reply.get(), "v", "b", &value) >= 0) << property;
        return value != 0;
    }

    vgps::test::TempDir dir_;
    vgps::test::ChildProcess bus_daemon_;
    vgps::test::ScopedEnv address_;
    std::unique_ptr<vgps::test::ChildProcess> bluez_;
    int bluez_runs_ = 0;
    sd_bus* bus_ = nullptr;
};

}  // namespace vexod::bluez::test
