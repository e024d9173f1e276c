// The simulated radio: the devices of a scenario file found, named,
// searched and linked after the delays the scenario gives, each link
// streaming its receiver's NMEA over a data socket (DataLink).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data_link.h"
#include "platform/run_loop.h"
#include "radio.h"
#include "scenario.h"

namespace vexod {

class SimRadio : public Radio {
public:
    // The scenario's radio, devices and links; its client faults are the
    // daemon's. `group` shares the data sockets (DataSocketOptions).
    SimRadio(Scenario scenario, vgps::RunLoop* loop, std::optional<gid_t> group = std::nullopt);
    ~SimRadio() override;

    bool start(RadioListener* listener, std::string* error) override;
    std::string describe() const override;
    bool powered() const override { return scenario_.powered; }
    void power_on(std::function<void(bool on)> done) override;
    void start_inquiry() override;
    void request_name(const vgps::bdaddr& address) override;
    bool search_well_formed(const std::vector<uint8_t>&, const std::vector<uint8_t>&) const override { return true; }
    void service_search(const vgps::bdaddr& address, const std::vector<uint8_t>& pattern,
                        const std::vector<uint8_t>& attribute_ids, uint16_t max_bytes) override;
    void rfcomm_connect(const vgps::bdaddr& address, uint8_t channel) override;
    void client_left() override;

private:
    struct ActiveLink {
        vgps::bdaddr address;
        uint8_t channel;
        std::unique_ptr<DataLink> link;
    };

    // Runs `fn` in `ms`; the timer's key in `timers_`.
    uint64_t later(uint32_t ms, std::function<void()> fn);
    void cancel_timers();
    const Device* find_device(const vgps::bdaddr& address) const;
    uint32_t open_link(const Device& device, uint8_t channel, std::string* path);
    void link_ended(uint64_t id, LinkEnd why);
    void close_links(const char* why);

    Scenario scenario_;
    vgps::RunLoop* loop_;
    std::optional<gid_t> group_;
    RadioListener* listener_ = nullptr;
    // Pending timers of what the client asked for, by key; they end with
    // it, and a timer leaves when it fires, so a long connection does not
    // collect them.
    std::map<uint64_t, vgps::RunLoop::TimerId> timers_;
    uint64_t timer_keys_ = 0;
    std::vector<uint64_t> inquiry_timers_;  // keys in timers_
    // The client's data links; they end with it.
    std::map<uint64_t, ActiveLink> links_;
    uint64_t next_link_id_ = 1;
};

}  // namespace vexod
