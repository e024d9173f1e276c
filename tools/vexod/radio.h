// The radio behind the daemon's protocol. The protocol side (frames,
// requests, responses, notifications, the one client) asks the radio for
// what each request needs and turns each of its reports into one
// notification; the radio owns everything about devices: discovery, names,
// service searches and the RFCOMM links with their data sockets. Two radios
// implement it: the simulated one (SimRadio, a scenario file) and BlueZ
// (bluez::BluezRadio).
//
// Every request the radio is given is answered by exactly one report (an
// inquiry by its results and its end), always from a run-loop callback,
// never from inside the call. After client_left nothing more is reported
// for what was asked before it. The radio may be told that the client left
// from inside one of its reports.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "data_socket.h"
#include "registry/bdaddr.h"

namespace vexod {

class RadioListener {
public:
    virtual ~RadioListener() = default;
    // Notification 28: a device found by the running inquiry.
    virtual void radio_inquiry_result(const vgps::bdaddr& address, uint32_t device_class,
                                      const std::string& text) = 0;
    // Notification 26, or 27 when the inquiry was cut short or could not
    // start.
    virtual void radio_inquiry_complete(bool canceled) = 0;
    // Notification 29: the name, or none when the device gave none.
    virtual void radio_name_result(const vgps::bdaddr& address, const std::optional<std::string>& name) = 0;
    // Notification 25: the search's result (vgps::kServiceSearchNotPerformed:
    // the device did not answer) and the attribute bytes as the device sent
    // them.
    virtual void radio_search_result(const vgps::bdaddr& address, const std::vector<uint8_t>& pattern,
                                     uint32_t result, const std::vector<uint8_t>& attributes) = 0;
    // Notification 30: result 0 with the data socket's path, or an errno
    // (vgps::VEXOD_LINK_*, or the connect's own).
    virtual void radio_link_connected(const vgps::bdaddr& address, uint8_t channel, uint32_t result,
                                      const std::string& path) = 0;
    // Notification 31: a link reported connected has ended, and why.
    virtual void radio_link_closed(const vgps::bdaddr& address, uint8_t channel, LinkEnd why) = 0;
};

class Radio {
public:
    virtual ~Radio() = default;

    // Brings the radio up and says where its reports go. False, with the
    // reason, when it cannot run at all.
    virtual bool start(RadioListener* listener, std::string* error) = 0;
    // What the daemon's start-up line says about the radio.
    virtual std::string describe() const = 0;

    // Request 5, and the check of the requests that need the radio on.
    virtual bool powered() const = 0;
    // Request 6: `done` says whether the radio is on now. It is called once,
    // possibly from inside the call when that is known at once; the daemon
    // answers the request then.
    virtual void power_on(std::function<void(bool on)> done) = 0;

    // Request 15: a new inquiry replaces one still running.
    virtual void start_inquiry() = 0;
    // Request 19.
    virtual void request_name(const vgps::bdaddr& address) = 0;
    // Request 20: whether the radio can send the pattern and attribute ID
    // list the application gave (the daemon refuses the request if not).
    virtual bool search_well_formed(const std::vector<uint8_t>& pattern,
                                    const std::vector<uint8_t>& attribute_ids) const = 0;
    // Request 20, with the maximum attribute byte count the application
    // sent.
    virtual void service_search(const vgps::bdaddr& address, const std::vector<uint8_t>& pattern,
                                const std::vector<uint8_t>& attribute_ids, uint16_t max_bytes) = 0;
    // Request 12.
    virtual void rfcomm_connect(const vgps::bdaddr& address, uint8_t channel) = 0;

    // The client has gone: its links are closed (without notification 31),
    // and what it asked for is forgotten.
    virtual void client_left() = 0;
};

}  // namespace vexod
