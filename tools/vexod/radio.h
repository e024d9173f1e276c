// The radio behind the daemon's protocol. The protocol side (frames,
// requests, responses, notifications, the one client) asks the radio for
// what each request needs and turns each of its reports into one
// notification; the radio owns everything about devices: discovery, names,
// service searches and the RFCOMM links with their data sockets. Two radios
// implement it: the simulated one (a scenario file) and BlueZ.
//
// Conventions: a request the radio takes on returns true and is answered
// later by exactly one report (an inquiry by its results and its end),
// always from a run-loop callback, never from inside the call; false means
// that nothing was started and nothing will be reported. After client_left
// nothing more is reported for what was asked before it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vexod {

// A Bluetooth device address, its six bytes in the order of the text form.
using BtAddress = std::array<uint8_t, 6>;

class RadioListener {
public:
    virtual ~RadioListener() = default;
    // Notification 28: a device found by the running inquiry.
    virtual void radio_inquiry_result(const BtAddress& address, uint32_t device_class, const std::string& text) = 0;
    // Notification 26, or 27 when the inquiry was cut short.
    virtual void radio_inquiry_complete(bool canceled) = 0;
    // Notification 29: result 0 with the name; otherwise no name.
    virtual void radio_name_result(const BtAddress& address, uint32_t result, const std::string& name) = 0;
    // Notification 25: the search's result (0x03020004: the device did not
    // answer) and the attribute bytes as the device sent them.
    virtual void radio_search_result(const BtAddress& address, const std::vector<uint8_t>& pattern, uint32_t result,
                                     const std::vector<uint8_t>& attributes) = 0;
    // Notification 30: result 0 with the data socket's path, or an errno.
    virtual void radio_link_connected(const BtAddress& address, uint8_t channel, uint32_t result,
                                      const std::string& path) = 0;
    // Notification 31: a link reported connected has ended, and why.
    virtual void radio_link_closed(const BtAddress& address, uint8_t channel, uint32_t why) = 0;
};

class Radio {
public:
    virtual ~Radio() = default;

    // Brings the radio up and says where its reports go. False, with the
    // reason, when it cannot run at all.
    virtual bool start(RadioListener* listener, std::string* error) = 0;
    // A one-line description for the daemon's start-up log line.
    virtual std::string describe() const = 0;

    // Request 5.
    virtual bool powered() const = 0;
    // Request 6; `done` tells whether the radio is on now, possibly later
    // (the daemon answers the request then).
    virtual void power_on(std::function<void(bool ok)> done) = 0;

    // Request 15: a new inquiry replaces one still running. False when the
    // radio cannot search now.
    virtual bool start_inquiry() = 0;
    // Request 19.
    virtual bool request_name(const BtAddress& address) = 0;
    // Request 20, with the pattern, attribute ID list and maximum byte count
    // the application sent. False when they are not well formed.
    virtual bool service_search(const BtAddress& address, const std::vector<uint8_t>& pattern,
                                const std::vector<uint8_t>& attribute_ids, uint16_t max_bytes) = 0;
    // Request 12.
    virtual bool rfcomm_connect(const BtAddress& address, uint8_t channel) = 0;

    // The client has gone: its links are closed (without notification 31),
    // and what it asked for is forgotten.
    virtual void client_left() = 0;
};

}  // namespace vexod
