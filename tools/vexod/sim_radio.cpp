#include "sim_radio.h"

#include <algorithm>
#include <ctime>

#include "link/vexod_wire.h"
#include "nmea_feed.h"
#include "sdp_records.h"
#include "vexod_log.h"

namespace vexod {

using vgps::ba2str;

SimRadio::SimRadio(Scenario scenario, vgps::RunLoop* loop, std::optional<gid_t> group)
    : scenario_(std::move(scenario)), loop_(loop), group_(group) {}

SimRadio::~SimRadio() { cancel_timers(); }

void SimRadio::cancel_timers() {
    for (const auto& [key, id] : timers_) loop_->cancel_timer(id);
    timers_.clear();
    inquiry_timers_.clear();
}

bool SimRadio::start(RadioListener* listener, std::string*) {
    listener_ = listener;
    return true;
}

std::string SimRadio::describe() const {
    return std::string("radio ") + (scenario_.powered ? "on" : "off") + ", " +
           std::to_string(scenario_.devices.size()) + " devices in range";
}

void SimRadio::power_on(std::function<void(bool on)> done) {
    if (!scenario_.powered) VLOG("radio powered on");
    scenario_.powered = true;
    done(true);
}

uint64_t SimRadio::later(uint32_t ms, std::function<void()> fn) {
    const uint64_t key = ++timer_keys_;
    timers_.emplace(key, loop_->add_timer(std::chrono::milliseconds(ms), [this, key, fn = std::move(fn)] {
                        timers_.erase(key);  // fired: nothing left to cancel
                        fn();
                    }));
    return key;
}

void SimRadio::start_inquiry() {
    // A new inquiry replaces one still running.
    for (const uint64_t key : inquiry_timers_) {
        const auto it = timers_.find(key);
        if (it == timers_.end()) continue;
        loop_->cancel_timer(it->second);
        timers_.erase(it);
    }
    inquiry_timers_.clear();
    uint32_t last = 0;
    VLOG("inquiry started");
    for (const Device& d : scenario_.devices) {
        for (uint32_t r = 0; r < d.repeat; ++r) {
            inquiry_timers_.push_back(later(d.inquiry_delay_ms, [this, &d] {
                VLOG("inquiry result %s class 0x%06x", ba2str(d.address).c_str(), d.device_class);
                listener_->radio_inquiry_result(d.address, d.device_class, d.inquiry_text);
            }));
        }
        last = std::max(last, d.inquiry_delay_ms);
    }
    const uint32_t end = last + scenario_.inquiry_end_after_ms;
    inquiry_timers_.push_back(later(end, [this] {
        VLOG("inquiry %s", scenario_.inquiry_canceled ? "canceled" : "complete");
        listener_->radio_inquiry_complete(scenario_.inquiry_canceled);
    }));
}

const Device* SimRadio::find_device(const vgps::bdaddr& address) const {
    for (const Device& d : scenario_.devices) {
        if (d.address == address) return &d;
    }
    return nullptr;
}

void SimRadio::request_name(const vgps::bdaddr& address) {
    const Device* device = find_device(address);
    const uint32_t delay = device ? device->name_delay_ms : 50;
    later(delay, [this, address, device] {
        const bool found = device != nullptr && device->name.has_value();
        if (found) VLOG("name of %s: %s", ba2str(address).c_str(), device->name->c_str());
        else VLOG("name of %s: no answer", ba2str(address).c_str());
        listener_->radio_name_result(address, found ? device->name : std::nullopt);
    });
}

void SimRadio::service_search(const vgps::bdaddr& address, const std::vector<uint8_t>& pattern,
                              const std::vector<uint8_t>&, uint16_t) {
    const Device* device = find_device(address);
    const uint32_t delay = device ? device->search_delay_ms : 50;
    later(delay, [this, address, pattern, device] {
        // A device that is out of range or switched off never answers the
        // search; every record of one that does matches the pattern.
        uint32_t result = vgps::kServiceSearchNotPerformed;
        std::vector<uint8_t> attributes;
        if (device != nullptr && !device->switched_off) {
            result = vgps::VEXOD_RESULT_SUCCESS;
            attributes = device->link_faults.sdp_attributes ? *device->link_faults.sdp_attributes
                                                            : build_attribute_lists(device->services);
        }
        if (result == vgps::VEXOD_RESULT_SUCCESS)
            VLOG("service search on %s: %zu records, %zu bytes", ba2str(address).c_str(), device->services.size(),
                 attributes.size());
        else
            VLOG("service search on %s: no answer", ba2str(address).c_str());
        listener_->radio_search_result(address, pattern, result, attributes);
    });
}

void SimRadio::rfcomm_connect(const vgps::bdaddr& address, uint8_t channel) {
    const Device* device = find_device(address);
    const uint32_t delay = device ? device->connect_delay_ms : 50;
    later(delay, [this, address, channel, device] {
        std::string path;
        uint32_t result = vgps::VEXOD_LINK_HOST_DOWN;
        if (device != nullptr && !device->switched_off) result = open_link(*device, channel, &path);
        if (result == vgps::VEXOD_RESULT_SUCCESS)
            VLOG("rfcomm link to %s channel %u: %s", ba2str(address).c_str(), channel, path.c_str());
        else
            VLOG("rfcomm connect to %s channel %u failed: result %u", ba2str(address).c_str(), channel, result);
        listener_->radio_link_connected(address, channel, result, path);
    });
}

uint32_t SimRadio::open_link(const Device& device, uint8_t channel, std::string* path) {
    const LinkFaults& faults = device.link_faults;
    if (faults.connect_result) return *faults.connect_result;
    const bool offered = channel != 0 && std::any_of(device.services.begin(), device.services.end(),
                                                     [&](const Service& s) { return s.rfcomm_channel == channel; });
    if (!offered) return vgps::VEXOD_LINK_REFUSED;
    for (const auto& [id, active] : links_) {
        if (active.address == device.address) return vgps::VEXOD_LINK_BUSY;
    }

    EpochSource source;
    if (!device.nmea_epochs.empty()) {
        source = [epochs = &device.nmea_epochs, next = size_t{0}](std::string* out) mutable {
            if (next >= epochs->size()) return false;
            *out = (*epochs)[next++];
            return true;
        };
    } else {
        const Generator& g = device.generator;
        auto generator = std::make_shared<NmeaGenerator>(
            g.lat, g.lon, g.start_time ? *g.start_time : std::time(nullptr), g.speed_knots, g.course_deg);
        source = [generator](std::string* out) {
            *out = generator->next_epoch();
            return true;
        };
    }
    const uint64_t id = next_link_id_++;
    auto link = std::make_unique<DataLink>(loop_, std::move(source),
                                           LinkOptions{scenario_.speed, scenario_.accept_timeout_ms, faults, group_},
                                           [this, id](LinkEnd why) { link_ended(id, why); });
    std::string error;
    if (!link->open(&error)) {
        VLOG("cannot make the data socket: %s", error.c_str());
        return vgps::VEXOD_LINK_IO_ERROR;
    }
    *path = link->path();
    links_.emplace(id, ActiveLink{device.address, channel, std::move(link)});
    return vgps::VEXOD_RESULT_SUCCESS;
}

void SimRadio::link_ended(uint64_t id, LinkEnd why) {
    auto it = links_.find(id);
    if (it == links_.end()) return;
    const vgps::bdaddr address = it->second.address;
    const uint8_t channel = it->second.channel;
    VLOG("rfcomm link to %s channel %u closed after %llu epochs: %s", ba2str(address).c_str(), channel,
         static_cast<unsigned long long>(it->second.link->epochs_sent()), link_end_text(why));
    links_.erase(it);
    listener_->radio_link_closed(address, channel, why);
}

void SimRadio::close_links(const char* why) {
    for (const auto& [id, active] : links_) {
        VLOG("rfcomm link to %s channel %u closed: %s", ba2str(active.address).c_str(), active.channel, why);
    }
    links_.clear();
}

void SimRadio::client_left() {
    close_links("its client left");
    cancel_timers();
}

}  // namespace vexod
