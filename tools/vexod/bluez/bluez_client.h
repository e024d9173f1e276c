// The radio as BlueZ offers it on the system bus (service org.bluez): one
// adapter (org.bluez.Adapter1) and the remote devices it knows
// (org.bluez.Device1), read with the object manager at start and followed
// through its InterfacesAdded / InterfacesRemoved signals and the objects'
// PropertiesChanged.
//
// - The adapter: the one named in the options ("hci0"), else the first one
//   BlueZ reports. When it goes away (unplugged, BlueZ stopped) a running
//   inquiry ends as cancelled, waiting name requests are answered without a
//   name, and the radio counts as off until an adapter that fits appears.
// - Power: the adapter's Powered property, read and set.
// - Inquiry: BlueZ discovery (SetDiscoveryFilter to BR/EDR, StartDiscovery)
//   for a given length. A device counts as found when it is in range during
//   the inquiry: it appears, its signal strength (RSSI) or class changes, or
//   it already has an RSSI when the inquiry starts (BlueZ drops a device's
//   RSSI when discovery stops). Only devices with a class of device are
//   reported (devices of the low-energy transport alone have none), each
//   address once per inquiry.
// - Names: answered from the device's Name; a device without one yet is
//   waited for, with discovery kept running meanwhile (BlueZ resolves names
//   as part of discovery), until a time-out that answers without a name.
//
// Everything runs on the run loop; every report reaches the listener from a
// run-loop callback, never from inside the call that asked for it.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "bluez/address.h"
#include "bluez/bus_loop.h"
#include "platform/run_loop.h"
#include "registry/bdaddr.h"

namespace vexod::bluez {

struct BluezOptions {
    std::string adapter;  // "hciN"; empty: the first adapter BlueZ reports
    // How long a name request waits for a device without a name.
    std::chrono::milliseconds name_timeout{10000};
    // Discovery keeps running this long after the last inquiry or name
    // request needing it, so that the name requests that follow an inquiry
    // do not stop and restart it.
    std::chrono::milliseconds discovery_linger{1000};
};

class BluezListener {
public:
    virtual ~BluezListener() = default;
    // The adapter in use: its name ("hci0"), or empty when there is none.
    virtual void bluez_adapter_changed(const std::string& adapter) = 0;
    // A device found by the running inquiry, with its 24-bit class.
    virtual void bluez_device_found(const vgps::bdaddr& address, uint32_t device_class) = 0;
    // The inquiry is over: its length passed (false), or it was cut short
    // (true: the adapter went away or was switched off).
    virtual void bluez_inquiry_complete(bool canceled) = 0;
    // The answer to a name request; no name when the device gave none in
    // time.
    virtual void bluez_name_result(const vgps::bdaddr& address, const std::optional<std::string>& name) = 0;
};

class BluezClient {
public:
    BluezClient(vgps::RunLoop* loop, BluezOptions options, BluezListener* listener);
    ~BluezClient();
    BluezClient(const BluezClient&) = delete;
    BluezClient& operator=(const BluezClient&) = delete;

    // Connects to the system bus and asks BlueZ for its objects. False when
    // the bus cannot be reached; BlueZ itself missing is not an error (the
    // radio is off until it comes).
    bool start(std::string* error);
    // True once BlueZ's first answer (or its absence) is known.
    bool ready() const { return ready_; }

    // The adapter in use ("hci0"), empty when none.
    const std::string& adapter() const { return adapter_name_; }
    // Its address (what its Bluetooth sockets bind to); all zeros when none.
    vgps::bdaddr adapter_address() const;
    // There is an adapter and it is powered.
    bool powered() const;
    // Sets the adapter's Powered; `done` gets true, or false with the
    // reason, from a run-loop callback.
    void set_powered(bool on, std::function<void(bool ok, const std::string& error)> done);

    // Starts an inquiry of `length`, replacing one still running. False
    // when there is no adapter (nothing is reported then).
    bool start_inquiry(std::chrono::milliseconds length);

    // Asks for a device's name; answered by bluez_name_result.
    void request_name(const vgps::bdaddr& address);

    // Forgets the running inquiry and the waiting name requests without
    // reporting them (their client has left) and lets discovery stop.
    void cancel_all();

private:
    struct Device {
        vgps::bdaddr address{};
        bool has_address = false;
        std::optional<std::string> name;
        std::optional<uint32_t> device_class;
        bool in_range = false;  // has an RSSI
    };
    struct AdapterInfo {
        std::string name;  // last element of the path: "hci0"
        bool powered = false;
        vgps::bdaddr address{};
    };
    struct NameWait {
        uint64_t id;
        vgps::bdaddr address;
        vgps::RunLoop::TimerId timer;
    };

    void query_objects();
    void read_objects(sd_bus_message* m);
    void on_interfaces_added(sd_bus_message* m);
    void on_interfaces_removed(sd_bus_message* m);
    void on_properties_changed(sd_bus_message* m);
    void on_name_owner_changed(sd_bus_message* m);
    // Reads one interface's properties (a{sv}) of the object at `path`;
    // tells which names it held.
    void read_properties(sd_bus_message* m, const std::string& path, const std::string& interface,
                         std::set<std::string>* names);
    // Reads an object's interfaces (a{sa{sv}}); tells whether it holds an
    // adapter and a device, and the device properties it carried.
    void read_interfaces(sd_bus_message* m, const std::string& path, bool* adapter, bool* device,
                         std::set<std::string>* device_properties);
    void device_updated(const std::string& path, bool appeared, const std::set<std::string>& changed);
    void choose_adapter();
    void lose_adapter(const char* why);
    bool on_adapter(const std::string& device_path) const;

    void report_device(const Device& device);
    void end_inquiry(bool canceled);
    void answer_names(const vgps::bdaddr& address, const std::optional<std::string>& name);
    void later(bool report, std::function<void()> fn);
    void update_discovery();
    void stop_discovery();

    vgps::RunLoop* loop_;
    BluezOptions options_;
    BluezListener* listener_;
    BusLoop bus_;
    bool ready_ = false;

    // Every adapter and device BlueZ has, by object path.
    std::map<std::string, AdapterInfo> adapters_;
    std::vector<std::string> adapter_order_;  // as BlueZ reported them
    std::map<std::string, Device> devices_;

    std::string adapter_path_;  // the adapter in use, empty when none
    std::string adapter_name_;

    vgps::RunLoop::TimerId inquiry_timer_ = 0;
    std::set<vgps::bdaddr, AddressLess> reported_;  // by the running inquiry
    std::vector<NameWait> name_waits_;
    uint64_t next_wait_id_ = 1;
    bool discovery_on_ = false;  // StartDiscovery sent and not stopped since
    vgps::RunLoop::TimerId linger_timer_ = 0;
    // Calls waiting for the next turn of the run loop; true for the reports
    // to the listener that cancel_all drops.
    std::map<vgps::RunLoop::TimerId, bool> deferred_;
};

}  // namespace vexod::bluez
