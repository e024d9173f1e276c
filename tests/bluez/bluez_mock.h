// BlueZ for tests: a private system bus (a dbus-daemon of the test's own, in
// a temporary folder, with DBUS_SYSTEM_BUS_ADDRESS pointed at it) on which
// python-dbusmock's BlueZ template plays bluetoothd, and a connection of the
// test's own that drives the mock: adapters and devices added and removed,
// properties changed, signals emitted, state read back.
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <memory>
#include <string>

#include "support/process.h"
#include "support/temp_dir.h"

namespace vexod::bluez::test {

class BluezMock {
public:
    // Starts the bus and, unless told not to, the mock. Failures are
    // recorded as test failures.
    explicit BluezMock(bool start_bluez = true);
    ~BluezMock();
    BluezMock(const BluezMock&) = delete;
    BluezMock& operator=(const BluezMock&) = delete;

    // Starts the mock BlueZ, waiting until it owns org.bluez.
    void start_bluez();
    // Ends it, as if bluetoothd stopped.
    void stop_bluez();
    // Kills the bus daemon itself.
    void stop_bus();

    // An adapter "hciN" (powered), its object path returned.
    std::string add_adapter(const std::string& name);
    // The adapter goes away; with its devices, or (as BlueZ may do) before
    // they are announced gone.
    void remove_adapter(const std::string& name, bool with_devices);
    // A device as the template makes it (with a name and an RSSI), then
    // given `device_class`.
    std::string add_device(const std::string& adapter, const std::string& address, const std::string& name,
                           uint32_t device_class);
    // A device as BlueZ announces a new one whose name is not known yet:
    // address, RSSI, and its class (0: a low-energy-only device, with an
    // appearance instead).
    std::string add_unnamed_device(const std::string& adapter, const std::string& address, uint32_t device_class);
    // The name arrives (PropertiesChanged).
    void set_name(const std::string& device_path, const std::string& name);
    // The device is seen again: a new RSSI (PropertiesChanged).
    void set_rssi(const std::string& device_path, int16_t rssi);
    // Someone else switches the adapter (PropertiesChanged).
    void set_powered(const std::string& adapter, bool on);

    bool powered(const std::string& adapter);
    bool discovering(const std::string& adapter);
    // How often a method of the object was called.
    int calls(const std::string& path, const std::string& method);

    const std::string& bus_address() const { return address_; }
    std::string log() const;

private:
    sd_bus_message* call(const std::string& path, const char* interface, const char* member, const char* types, ...);
    bool get_bool(const std::string& path, const char* interface, const char* property);
    void update(const std::string& path, const char* interface, const char* property, const char* type, ...);

    vgps::test::TempDir dir_;
    std::string address_;
    std::string saved_address_;
    bool had_address_ = false;
    std::unique_ptr<vgps::test::ChildProcess> bus_daemon_;
    std::unique_ptr<vgps::test::ChildProcess> bluez_;
    int bluez_runs_ = 0;
    sd_bus* bus_ = nullptr;
};

}  // namespace vexod::bluez::test
