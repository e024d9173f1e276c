#include "bluez_mock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <cstdarg>
#include <thread>

namespace vexod::bluez::test {
namespace {

constexpr const char* kMock = "org.freedesktop.DBus.Mock";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kAdapter = "org.bluez.Adapter1";
constexpr const char* kDevice = "org.bluez.Device1";

std::string adapter_path(const std::string& name) { return "/org/bluez/" + name; }

}  // namespace

BluezMock::BluezMock(bool start) {
    const std::string socket = dir_.file("system_bus_socket");
    vgps::test::write_file(dir_.file("bus.conf"),
                           "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                           "<busconfig>\n"
                           "  <type>system</type>\n"
                           "  <listen>unix:path=" + socket + "</listen>\n"
                           "  <auth>EXTERNAL</auth>\n"
                           "  <policy context=\"default\">\n"
                           "    <allow user=\"*\"/>\n"
                           "    <allow own=\"*\"/>\n"
                           "    <allow send_type=\"method_call\"/>\n"
                           "    <allow send_type=\"signal\"/>\n"
                           "    <allow send_type=\"method_return\"/>\n"
                           "    <allow send_type=\"error\"/>\n"
                           "    <allow receive_type=\"method_call\"/>\n"
                           "    <allow receive_type=\"signal\"/>\n"
                           "    <allow receive_type=\"method_return\"/>\n"
                           "    <allow receive_type=\"error\"/>\n"
                           "  </policy>\n"
                           "</busconfig>\n");
    bus_daemon_ = std::make_unique<vgps::test::ChildProcess>(
        std::vector<std::string>{VEXOD_DBUS_DAEMON, "--config-file=" + dir_.file("bus.conf"), "--nofork",
                                 "--nopidfile", "--nosyslog", "--print-address=1"},
        dir_.file("bus.out"), dir_.file("bus.err"));
    if (!vgps::test::wait_for_text(dir_.file("bus.out"), "unix:")) {
        ADD_FAILURE() << "dbus-daemon did not start: " << vgps::test::read_file(dir_.file("bus.err"));
        return;
    }
    address_ = "unix:path=" + socket;
    // Every system bus client of this process (and of the mock) finds it.
    const char* previous = ::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    had_address_ = previous != nullptr;
    if (previous) saved_address_ = previous;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);

    int r = sd_bus_new(&bus_);
    if (r >= 0) r = sd_bus_set_address(bus_, address_.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(bus_, 1);
    if (r >= 0) r = sd_bus_start(bus_);
    if (r < 0) {
        ADD_FAILURE() << "cannot connect to the test bus: " << strerror(-r);
        return;
    }
    if (start) start_bluez();
}

BluezMock::~BluezMock() {
    if (bus_) sd_bus_flush_close_unref(bus_);
    bluez_.reset();
    bus_daemon_.reset();
    if (had_address_) ::setenv("DBUS_SYSTEM_BUS_ADDRESS", saved_address_.c_str(), 1);
    else ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

void BluezMock::start_bluez() {
    const std::string n = std::to_string(++bluez_runs_);
    // Debian's python3-dbusmock is a module of Debian's own interpreter,
    // which need not be the first python3 on PATH.
    bluez_ = std::make_unique<vgps::test::ChildProcess>(
        std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--template", "bluez5", "--system"},
        dir_.file("bluez" + n + ".out"), dir_.file("bluez" + n + ".err"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        int owned = 0;
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "NameHasOwner", &error, &reply, "s", "org.bluez") >= 0) {
            sd_bus_message_read(reply, "b", &owned);
        }
        sd_bus_message_unref(reply);
        sd_bus_error_free(&error);
        if (owned) return;
        if (!bluez_->running() || std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "the mock BlueZ did not start: " << log();
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void BluezMock::stop_bluez() {
    if (!bluez_) return;
    bluez_->signal(SIGTERM);
    bluez_->wait(std::chrono::milliseconds(5000));
    bluez_.reset();
}

void BluezMock::stop_bus() {
    // Killed, so that it says nothing more on the way out (on SIGTERM it
    // may still announce that org.bluez has gone).
    bus_daemon_->signal(SIGKILL);
    bus_daemon_->wait(std::chrono::milliseconds(5000));
}

std::string BluezMock::log() const {
    std::string text = vgps::test::read_file(dir_.file("bus.err"));
    for (int i = 1; i <= bluez_runs_; ++i) {
        text += vgps::test::read_file(dir_.file("bluez" + std::to_string(i) + ".err"));
    }
    return text;
}

sd_bus_message* BluezMock::call(const std::string& path, const char* interface, const char* member,
                                const char* types, ...) {
    sd_bus_message* m = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_message_new_method_call(bus_, &m, "org.bluez", path.c_str(), interface, member);
    if (r >= 0 && types) {
        va_list ap;
        va_start(ap, types);
        r = sd_bus_message_appendv(m, types, ap);
        va_end(ap);
    }
    if (r >= 0) r = sd_bus_call(bus_, m, 0, &error, &reply);
    if (r < 0) {
        ADD_FAILURE() << "mock call " << member << " on " << path << " failed: "
                      << (error.message ? error.message : strerror(-r));
    }
    sd_bus_message_unref(m);
    sd_bus_error_free(&error);
    return reply;
}

std::string BluezMock::add_adapter(const std::string& name) {
    sd_bus_message_unref(call("/", "org.bluez.Mock", "AddAdapter", "ss", name.c_str(), ("laptop " + name).c_str()));
    return adapter_path(name);
}

void BluezMock::remove_adapter(const std::string& name, bool with_devices) {
    sd_bus_message_unref(
        call("/", "org.bluez.Mock", with_devices ? "RemoveAdapterWithDevices" : "RemoveAdapter", "s", name.c_str()));
}

std::string BluezMock::add_device(const std::string& adapter, const std::string& address, const std::string& name,
                                  uint32_t device_class) {
    sd_bus_message* reply =
        call("/", "org.bluez.Mock", "AddDevice", "sss", adapter.c_str(), address.c_str(), name.c_str());
    const char* path = nullptr;
    std::string result;
    if (reply && sd_bus_message_read(reply, "s", &path) >= 0) result = path;
    sd_bus_message_unref(reply);
    update(result, kDevice, "Class", "u", device_class);
    return result;
}

std::string BluezMock::add_unnamed_device(const std::string& adapter, const std::string& address,
                                          uint32_t device_class) {
    std::string object = address;
    for (char& c : object) c = c == ':' ? '_' : static_cast<char>(toupper(c));
    const std::string path = adapter_path(adapter) + "/dev_" + object;
    const std::string owner = adapter_path(adapter);
    const int16_t rssi = -60;
    // A classic device has a class; one of the low-energy transport alone
    // has an appearance instead.
    const bool classic = device_class != 0;
    const char* kind = classic ? "Class" : "Appearance";
    const char* type = classic ? "u" : "q";
    const uint32_t value = classic ? device_class : 0x0c80;  // a generic watch
    // Both the object and its announcement carry the same properties.
    sd_bus_message_unref(call("/", kMock, "AddObject", "ssa{sv}a(ssss)", path.c_str(), kDevice, 4, "Address", "s",
                              address.c_str(), "Adapter", "o", owner.c_str(), "RSSI", "n", rssi, kind, type, value, 0));
    sd_bus_message_unref(call("/", kMock, "EmitSignal", "sssav", "org.freedesktop.DBus.ObjectManager",
                              "InterfacesAdded", "oa{sa{sv}}", 2, "o", path.c_str(), "a{sa{sv}}", 1, kDevice, 4,
                              "Address", "s", address.c_str(), "Adapter", "o", owner.c_str(), "RSSI", "n", rssi, kind,
                              type, value));
    return path;
}

void BluezMock::update(const std::string& path, const char* interface, const char* property, const char* type, ...) {
    sd_bus_message* m = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_message_new_method_call(bus_, &m, "org.bluez", path.c_str(), kMock, "UpdateProperties");
    if (r >= 0) r = sd_bus_message_append(m, "s", interface);
    if (r >= 0) r = sd_bus_message_open_container(m, 'a', "{sv}");
    if (r >= 0) r = sd_bus_message_open_container(m, 'e', "sv");
    if (r >= 0) r = sd_bus_message_append(m, "s", property);
    if (r >= 0) {
        va_list ap;
        va_start(ap, type);
        r = sd_bus_message_open_container(m, 'v', type);
        if (r >= 0) r = sd_bus_message_appendv(m, type, ap);
        if (r >= 0) r = sd_bus_message_close_container(m);
        va_end(ap);
    }
    if (r >= 0) r = sd_bus_message_close_container(m);
    if (r >= 0) r = sd_bus_message_close_container(m);
    if (r >= 0) r = sd_bus_call(bus_, m, 0, &error, &reply);
    if (r < 0) {
        ADD_FAILURE() << "UpdateProperties " << property << " on " << path << " failed: "
                      << (error.message ? error.message : strerror(-r));
    }
    sd_bus_message_unref(m);
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
}

void BluezMock::set_name(const std::string& device_path, const std::string& name) {
    // The property is added first (without a signal), as the object was
    // made without one; the update then announces it.
    sd_bus_message* m = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_call_method(bus_, "org.bluez", device_path.c_str(), kMock, "AddProperty", &error, &m, "ssv", kDevice, "Name",
                       "s", "");
    sd_bus_message_unref(m);
    sd_bus_error_free(&error);
    update(device_path, kDevice, "Name", "s", name.c_str());
}

void BluezMock::set_rssi(const std::string& device_path, int16_t rssi) { update(device_path, kDevice, "RSSI", "n", rssi); }

void BluezMock::set_powered(const std::string& adapter, bool on) {
    update(adapter_path(adapter), kAdapter, "Powered", "b", on ? 1 : 0);
}

bool BluezMock::get_bool(const std::string& path, const char* interface, const char* property) {
    sd_bus_message* reply = call(path, kProperties, "Get", "ss", interface, property);
    int value = 0;
    if (reply && sd_bus_message_read(reply, "v", "b", &value) < 0) ADD_FAILURE() << property << " is not a boolean";
    sd_bus_message_unref(reply);
    return value != 0;
}

bool BluezMock::powered(const std::string& adapter) { return get_bool(adapter_path(adapter), kAdapter, "Powered"); }

bool BluezMock::discovering(const std::string& adapter) {
    return get_bool(adapter_path(adapter), kAdapter, "Discovering");
}

int BluezMock::calls(const std::string& path, const std::string& method) {
    sd_bus_message* reply = call(path, kMock, "GetMethodCalls", "s", method.c_str());
    int count = 0;
    if (reply && sd_bus_message_enter_container(reply, 'a', "(tav)") > 0) {
        while (sd_bus_message_skip(reply, "(tav)") > 0) ++count;
    }
    sd_bus_message_unref(reply);
    return count;
}

}  // namespace vexod::bluez::test
