#include "bluez/bluez_client.h"

#include <algorithm>
#include <cstring>

#include "registry/bdaddr.h"
#include "vexod_log.h"

namespace vexod::bluez {
namespace {

constexpr const char* kService = "org.bluez";
constexpr const char* kAdapterInterface = "org.bluez.Adapter1";
constexpr const char* kDeviceInterface = "org.bluez.Device1";
constexpr const char* kObjectManager = "org.freedesktop.DBus.ObjectManager";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

bool is_error(sd_bus_message* m) { return sd_bus_message_is_method_error(m, nullptr) > 0; }

// Reads a variant holding one value of the basic type `type` into `out`;
// a variant of any other type is skipped.
bool read_variant(sd_bus_message* m, char type, void* out) {
    char t = 0;
    const char* contents = nullptr;
    if (sd_bus_message_peek_type(m, &t, &contents) <= 0 || t != SD_BUS_TYPE_VARIANT) return false;
    if (contents == nullptr || contents[0] != type || contents[1] != '\0') {
        sd_bus_message_skip(m, "v");
        return false;
    }
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, contents) <= 0) return false;
    const int r = sd_bus_message_read_basic(m, type, out);
    sd_bus_message_exit_container(m);
    return r > 0;
}

// "/org/bluez/hci0" -> "hci0"
std::string last_element(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

BluezClient::BluezClient(vgps::RunLoop* loop, BluezOptions options, BluezListener* listener)
    : loop_(loop), options_(std::move(options)), listener_(listener), bus_(loop) {}

BluezClient::~BluezClient() {
    if (inquiry_timer_) loop_->cancel_timer(inquiry_timer_);
    if (linger_timer_) loop_->cancel_timer(linger_timer_);
    for (const NameWait& w : name_waits_) loop_->cancel_timer(w.timer);
    for (const auto& [id, report] : deferred_) loop_->cancel_timer(id);
    // Closing the connection ends this client's discovery session in BlueZ.
}

bool BluezClient::start(std::string* error) {
    if (!bus_.open_system(error)) return false;
    bus_.set_on_lost([this] {
        ready_ = true;
        lose_adapter("is out of reach: the system bus connection was lost");
        adapters_.clear();
        adapter_order_.clear();
        devices_.clear();
    });
    // The signals are asked for before the objects, so that nothing that
    // changes in between is missed.
    const std::string bluez = std::string("type='signal',sender='") + kService + "',";
    const bool ok =
        bus_.add_match(bluez + "interface='" + kObjectManager + "',member='InterfacesAdded'",
                       [this](sd_bus_message* m) { on_interfaces_added(m); }) &&
        bus_.add_match(bluez + "interface='" + kObjectManager + "',member='InterfacesRemoved'",
                       [this](sd_bus_message* m) { on_interfaces_removed(m); }) &&
        bus_.add_match(bluez + "interface='" + kProperties + "',member='PropertiesChanged'",
                       [this](sd_bus_message* m) { on_properties_changed(m); }) &&
        bus_.add_match("type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                       "member='NameOwnerChanged',arg0='org.bluez'",
                       [this](sd_bus_message* m) { on_name_owner_changed(m); });
    if (!ok) {
        *error = "cannot subscribe to BlueZ's signals";
        return false;
    }
    query_objects();
    return true;
}

void BluezClient::query_objects() {
    bus_.call(
        kService, "/", kObjectManager, "GetManagedObjects",
        [this](sd_bus_message* m) {
            ready_ = true;
            if (is_error(m)) {
                VLOG("BlueZ does not answer (%s): no Bluetooth adapter until it starts", bus_error_text(m).c_str());
                return;
            }
            read_objects(m);
            choose_adapter();
        },
        nullptr);
}

void BluezClient::read_objects(sd_bus_message* m) {
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{oa{sa{sv}}}") <= 0) return;
    while (sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "oa{sa{sv}}") > 0) {
        const char* path = nullptr;
        if (sd_bus_message_read(m, "o", &path) < 0) break;
        bool adapter = false, device = false;
        std::set<std::string> properties;
        read_interfaces(m, path, &adapter, &device, &properties);
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
}

void BluezClient::read_interfaces(sd_bus_message* m, const std::string& path, bool* adapter, bool* device,
                                  std::set<std::string>* device_properties) {
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sa{sv}}") <= 0) return;
    while (sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sa{sv}") > 0) {
        const char* interface = nullptr;
        if (sd_bus_message_read(m, "s", &interface) < 0) break;
        std::set<std::string> names;
        if (std::strcmp(interface, kAdapterInterface) == 0) {
            if (adapters_.emplace(path, AdapterInfo{last_element(path), false, {}}).second) {
                adapter_order_.push_back(path);
            }
            read_properties(m, path, interface, &names);
            *adapter = true;
        } else if (std::strcmp(interface, kDeviceInterface) == 0) {
            devices_.try_emplace(path);
            read_properties(m, path, interface, device_properties);
            *device = true;
        } else {
            sd_bus_message_skip(m, "a{sv}");
        }
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
}

void BluezClient::read_properties(sd_bus_message* m, const std::string& path, const std::string& interface,
                                  std::set<std::string>* names) {
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sv}") <= 0) return;
    const bool adapter = interface == kAdapterInterface;
    AdapterInfo* a = adapter ? &adapters_[path] : nullptr;
    Device* d = adapter ? nullptr : &devices_[path];
    while (sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
        const char* name = nullptr;
        if (sd_bus_message_read(m, "s", &name) < 0) break;
        names->insert(name);
        const std::string_view n = name;
        int flag = 0;
        uint32_t u32 = 0;
        int16_t i16 = 0;
        const char* text = nullptr;
        vgps::bdaddr ba;
        if (a && n == "Powered") {
            if (read_variant(m, 'b', &flag)) a->powered = flag != 0;
        } else if (a && n == "Address") {
            if (read_variant(m, 's', &text) && vgps::bdaddr_from_text(text, &ba)) a->address = ba;
        } else if (d && n == "Address") {
            if (read_variant(m, 's', &text) && vgps::bdaddr_from_text(text, &ba)) {
                d->address = ba;
                d->has_address = true;
            }
        } else if (d && n == "Name") {
            // BlueZ leaves the property out while the name is unknown; an
            // empty one counts the same.
            if (read_variant(m, 's', &text)) d->name = *text ? std::optional<std::string>(text) : std::nullopt;
        } else if (d && n == "Class") {
            if (read_variant(m, 'u', &u32)) d->device_class = u32 & 0xFFFFFF;
        } else if (d && n == "RSSI") {
            if (read_variant(m, 'n', &i16)) d->in_range = true;
        } else {
            sd_bus_message_skip(m, "v");
        }
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
}

void BluezClient::on_interfaces_added(sd_bus_message* m) {
    const char* path = nullptr;
    if (sd_bus_message_read(m, "o", &path) < 0) return;
    bool adapter = false, device = false;
    std::set<std::string> properties;
    read_interfaces(m, path, &adapter, &device, &properties);
    if (adapter) choose_adapter();
    if (device) device_updated(path, true, properties);
}

void BluezClient::on_interfaces_removed(sd_bus_message* m) {
    const char* p = nullptr;
    char** interfaces = nullptr;
    if (sd_bus_message_read(m, "o", &p) < 0 || sd_bus_message_read_strv(m, &interfaces) < 0) return;
    const std::string path = p;
    bool adapter = false, device = false;
    for (char** i = interfaces; i && *i; ++i) {
        adapter = adapter || std::strcmp(*i, kAdapterInterface) == 0;
        device = device || std::strcmp(*i, kDeviceInterface) == 0;
        std::free(*i);
    }
    std::free(interfaces);
    if (device) devices_.erase(path);
    if (!adapter) return;
    adapters_.erase(path);
    adapter_order_.erase(std::remove(adapter_order_.begin(), adapter_order_.end(), path), adapter_order_.end());
    // BlueZ does not always announce the devices' removal before their
    // adapter's.
    const std::string prefix = path + "/";
    for (auto it = devices_.lower_bound(prefix); it != devices_.end() && it->first.starts_with(prefix);) {
        it = devices_.erase(it);
    }
    if (path == adapter_path_) lose_adapter("went away");
    choose_adapter();
}

void BluezClient::on_properties_changed(sd_bus_message* m) {
    const char* p = sd_bus_message_get_path(m);
    const char* interface = nullptr;
    if (p == nullptr || sd_bus_message_read(m, "s", &interface) < 0) return;
    const std::string path = p;
    std::set<std::string> changed;
    if (std::strcmp(interface, kAdapterInterface) == 0) {
        if (adapters_.count(path) == 0) return;
        const bool was_powered = adapters_[path].powered;
        read_properties(m, path, interface, &changed);
        const bool powered = adapters_[path].powered;
        if (path != adapter_path_ || powered == was_powered) return;
        VLOG("Bluetooth adapter %s powered %s", adapter_name_.c_str(), powered ? "on" : "off");
        if (!powered) {
            // BlueZ ends every discovery session of a powered-off adapter.
            discovery_on_ = false;
            if (inquiry_timer_) end_inquiry(true);
        }
        return;
    }
    if (std::strcmp(interface, kDeviceInterface) != 0) return;
    auto it = devices_.find(path);
    if (it == devices_.end()) return;
    read_properties(m, path, interface, &changed);
    char** invalidated = nullptr;
    if (sd_bus_message_read_strv(m, &invalidated) >= 0) {
        for (char** i = invalidated; i && *i; ++i) {
            if (std::strcmp(*i, "RSSI") == 0) it->second.in_range = false;
            if (std::strcmp(*i, "Name") == 0) it->second.name.reset();
            std::free(*i);
        }
        std::free(invalidated);
    }
    device_updated(path, false, changed);
}

void BluezClient::on_name_owner_changed(sd_bus_message* m) {
    const char *name = nullptr, *old_owner = nullptr, *new_owner = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &old_owner, &new_owner) < 0) return;
    if (std::strcmp(name, kService) != 0) return;
    if (*old_owner) {
        lose_adapter("is gone: BlueZ stopped");
        adapters_.clear();
        adapter_order_.clear();
        devices_.clear();
    }
    if (*new_owner) {
        VLOG("BlueZ started");
        query_objects();
    }
}

void BluezClient::device_updated(const std::string& path, bool appeared, const std::set<std::string>& changed) {
    auto it = devices_.find(path);
    if (it == devices_.end() || !it->second.has_address || !on_adapter(path)) return;
    const Device device = it->second;  // the listener may change the table
    if (device.name && (appeared || changed.count("Name"))) answer_names(device.address, device.name);
    if (inquiry_timer_ && (appeared || changed.count("RSSI") || changed.count("Class"))) report_device(device);
}

bool BluezClient::on_adapter(const std::string& device_path) const {
    return !adapter_path_.empty() && device_path.size() > adapter_path_.size() &&
           device_path.compare(0, adapter_path_.size(), adapter_path_) == 0 && device_path[adapter_path_.size()] == '/';
}

void BluezClient::choose_adapter() {
    if (!adapter_path_.empty()) return;
    for (const std::string& path : adapter_order_) {
        const AdapterInfo& a = adapters_[path];
        if (!options_.adapter.empty() && a.name != options_.adapter) continue;
        adapter_path_ = path;
        adapter_name_ = a.name;
        VLOG("using Bluetooth adapter %s (powered %s)", a.name.c_str(), a.powered ? "on" : "off");
        listener_->bluez_adapter_changed(adapter_name_);
        return;
    }
    std::string present;
    for (const std::string& path : adapter_order_) present += (present.empty() ? "" : ", ") + adapters_[path].name;
    VLOG("no Bluetooth adapter%s%s yet (BlueZ has %s)", options_.adapter.empty() ? "" : " ",
         options_.adapter.c_str(), present.empty() ? "none" : present.c_str());
}

void BluezClient::lose_adapter(const char* why) {
    if (adapter_path_.empty()) return;
    VLOG("Bluetooth adapter %s %s", adapter_name_.c_str(), why);
    adapter_path_.clear();
    adapter_name_.clear();
    discovery_on_ = false;
    if (linger_timer_) loop_->cancel_timer(linger_timer_);
    linger_timer_ = 0;
    if (inquiry_timer_) end_inquiry(true);
    std::vector<NameWait> waits;
    waits.swap(name_waits_);
    for (const NameWait& w : waits) loop_->cancel_timer(w.timer);
    for (const NameWait& w : waits) listener_->bluez_name_result(w.address, std::nullopt);
    listener_->bluez_adapter_changed("");
}

vgps::bdaddr BluezClient::adapter_address() const {
    auto it = adapters_.find(adapter_path_);
    return it != adapters_.end() ? it->second.address : vgps::bdaddr{};
}

bool BluezClient::powered() const {
    auto it = adapters_.find(adapter_path_);
    return it != adapters_.end() && it->second.powered;
}

void BluezClient::set_powered(bool on, std::function<void(bool ok, const std::string& error)> done) {
    const std::string path = adapter_path_;
    auto fail = [this, done](const std::string& why) { later(false, [done, why] { done(false, why); }); };
    if (path.empty()) {
        fail("no Bluetooth adapter");
        return;
    }
    const bool queued = bus_.call(
        kService, path.c_str(), kProperties, "Set",
        [this, path, on, done](sd_bus_message* m) {
            const std::string name = last_element(path);
            if (is_error(m)) {
                const std::string why = bus_error_text(m);
                VLOG("cannot power Bluetooth adapter %s %s: %s", name.c_str(), on ? "on" : "off", why.c_str());
                done(false, why);
                return;
            }
            // The change may have been announced already (PropertiesChanged
            // before the reply), and logged then.
            auto it = adapters_.find(path);
            if (it != adapters_.end() && it->second.powered != on) {
                it->second.powered = on;
                VLOG("Bluetooth adapter %s powered %s", name.c_str(), on ? "on" : "off");
            }
            done(true, "");
        },
        "ssv", kAdapterInterface, "Powered", "b", on ? 1 : 0);
    if (!queued) fail("the system bus is out of reach");
}

bool BluezClient::start_inquiry(std::chrono::milliseconds length) {
    if (adapter_path_.empty()) return false;
    if (inquiry_timer_) loop_->cancel_timer(inquiry_timer_);
    reported_.clear();
    inquiry_timer_ = loop_->add_timer(length, [this] {
        inquiry_timer_ = 0;
        end_inquiry(false);
    });
    VLOG("inquiry started on %s for %lld ms", adapter_name_.c_str(), static_cast<long long>(length.count()));
    update_discovery();
    // Devices in range already: another program's discovery, or ours for
    // a name, has seen them.
    later(true, [this] {
        std::vector<Device> in_range;
        for (const auto& [path, d] : devices_) {
            if (d.in_range && d.has_address && on_adapter(path)) in_range.push_back(d);
        }
        for (const Device& d : in_range) {
            if (inquiry_timer_) report_device(d);
        }
    });
    return true;
}

void BluezClient::report_device(const Device& device) {
    if (!device.device_class || !reported_.insert(device.address).second) return;
    VLOG("inquiry result %s class 0x%06x", vgps::ba2str(device.address).c_str(), *device.device_class);
    listener_->bluez_device_found(device.address, *device.device_class);
}

void BluezClient::end_inquiry(bool canceled) {
    if (inquiry_timer_) loop_->cancel_timer(inquiry_timer_);
    inquiry_timer_ = 0;
    reported_.clear();
    VLOG("inquiry %s", canceled ? "canceled" : "complete");
    update_discovery();
    listener_->bluez_inquiry_complete(canceled);
}

void BluezClient::request_name(const vgps::bdaddr& address) {
    if (adapter_path_.empty()) {
        later(true, [this, address] { listener_->bluez_name_result(address, std::nullopt); });
        return;
    }
    for (const auto& [path, d] : devices_) {
        if (d.has_address && d.address == address && d.name && on_adapter(path)) {
            later(true, [this, address, name = d.name] { listener_->bluez_name_result(address, name); });
            return;
        }
    }
    const uint64_t id = next_wait_id_++;
    const auto timer = loop_->add_timer(options_.name_timeout, [this, id] {
        auto it = std::find_if(name_waits_.begin(), name_waits_.end(), [id](const NameWait& w) { return w.id == id; });
        if (it == name_waits_.end()) return;
        const vgps::bdaddr waited = it->address;
        name_waits_.erase(it);
        VLOG("no name from %s", vgps::ba2str(waited).c_str());
        update_discovery();
        listener_->bluez_name_result(waited, std::nullopt);
    });
    name_waits_.push_back(NameWait{id, address, timer});
    update_discovery();
}

void BluezClient::answer_names(const vgps::bdaddr& address, const std::optional<std::string>& name) {
    std::vector<NameWait> answered;
    for (auto it = name_waits_.begin(); it != name_waits_.end();) {
        if (it->address == address) {
            loop_->cancel_timer(it->timer);
            answered.push_back(*it);
            it = name_waits_.erase(it);
        } else {
            ++it;
        }
    }
    if (answered.empty()) return;
    update_discovery();
    for (size_t i = 0; i < answered.size(); ++i) listener_->bluez_name_result(address, name);
}

void BluezClient::cancel_all() {
    if (inquiry_timer_) loop_->cancel_timer(inquiry_timer_);
    inquiry_timer_ = 0;
    reported_.clear();
    for (const NameWait& w : name_waits_) loop_->cancel_timer(w.timer);
    name_waits_.clear();
    for (auto it = deferred_.begin(); it != deferred_.end();) {
        if (it->second) {
            loop_->cancel_timer(it->first);
            it = deferred_.erase(it);
        } else {
            ++it;
        }
    }
    update_discovery();
}

void BluezClient::later(bool report, std::function<void()> fn) {
    auto id = std::make_shared<vgps::RunLoop::TimerId>(0);
    *id = loop_->add_timer(std::chrono::milliseconds(0), [this, id, fn = std::move(fn)] {
        deferred_.erase(*id);
        fn();
    });
    deferred_.emplace(*id, report);
}

void BluezClient::update_discovery() {
    const bool want = !adapter_path_.empty() && (inquiry_timer_ != 0 || !name_waits_.empty());
    if (!want) {
        if (discovery_on_ && !linger_timer_) {
            linger_timer_ = loop_->add_timer(options_.discovery_linger, [this] {
                linger_timer_ = 0;
                stop_discovery();
            });
        }
        return;
    }
    if (linger_timer_) loop_->cancel_timer(linger_timer_);
    linger_timer_ = 0;
    if (discovery_on_) return;
    discovery_on_ = true;
    const std::string path = adapter_path_;
    // Classic (BR/EDR) devices only: a serial port is never on the
    // low-energy transport alone.
    bus_.call(
        kService, path.c_str(), kAdapterInterface, "SetDiscoveryFilter",
        [path](sd_bus_message* m) {
            if (is_error(m)) VLOG("no discovery filter on %s: %s", last_element(path).c_str(), bus_error_text(m).c_str());
        },
        "a{sv}", 1, "Transport", "s", "bredr");
    bus_.call(
        kService, path.c_str(), kAdapterInterface, "StartDiscovery",
        [this, path](sd_bus_message* m) {
            if (!is_error(m) || sd_bus_message_is_method_error(m, "org.bluez.Error.InProgress") > 0) return;
            VLOG("cannot start discovery on %s: %s", last_element(path).c_str(), bus_error_text(m).c_str());
            if (path != adapter_path_) return;
            discovery_on_ = false;
            if (inquiry_timer_) end_inquiry(true);
        },
        nullptr);
}

void BluezClient::stop_discovery() {
    if (!discovery_on_ || adapter_path_.empty()) return;
    discovery_on_ = false;
    const std::string path = adapter_path_;
    bus_.call(
        kService, path.c_str(), kAdapterInterface, "StopDiscovery",
        [path](sd_bus_message* m) {
            if (is_error(m)) VLOG("cannot stop discovery on %s: %s", last_element(path).c_str(), bus_error_text(m).c_str());
        },
        nullptr);
}

}  // namespace vexod::bluez
