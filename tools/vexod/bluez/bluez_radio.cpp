#include "bluez/bluez_radio.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "link/vexod_wire.h"
#include "vexod_log.h"

namespace vexod::bluez {

using vgps::ba2str;

BluezRadio::BluezRadio(vgps::RunLoop* loop, BluezRadioOptions options)
    : loop_(loop), options_(std::move(options)), client_(loop, options_.bluez, this) {}

BluezRadio::~BluezRadio() { client_left(); }

bool BluezRadio::start(RadioListener* listener, std::string* error) {
    listener_ = listener;
    if (!options_.open_sdp || !options_.open_rfcomm) {
        *error = "no Bluetooth sockets to open";
        return false;
    }
    if (!client_.start(error)) return false;
    // Nothing else is served yet: the first answer about the power state
    // should already be BlueZ's.
    if (!loop_->run_until([this] { return client_.ready(); }, options_.start_timeout)) {
        VLOG("BlueZ has not answered yet; the radio counts as off until it does");
    }
    return true;
}

std::string BluezRadio::describe() const {
    if (client_.adapter().empty()) return "BlueZ, no adapter yet";
    return "BlueZ adapter " + client_.adapter() + ", powered " + (client_.powered() ? "on" : "off");
}

bool BluezRadio::powered() const { return client_.powered(); }

void BluezRadio::power_on(std::function<void(bool on)> done) {
    // Answered once: by the adapter, or at the time-out as still off.
    auto answer = std::make_shared<std::function<void(bool)>>(std::move(done));
    auto timer = std::make_shared<vgps::RunLoop::TimerId>(0);
    *timer = after(options_.power_timeout, [this, answer, timer] {
        *timer = 0;
        VLOG("Bluetooth adapter not powered on after %lld ms", static_cast<long long>(options_.power_timeout.count()));
        if (auto f = std::exchange(*answer, nullptr)) f(false);
    });
    client_.set_powered(true, [this, answer, timer](bool ok, const std::string&) {
        if (*timer) {
            loop_->cancel_timer(*timer);
            deferred_.erase(*timer);
        }
        if (auto f = std::exchange(*answer, nullptr)) f(ok);
    });
}

void BluezRadio::start_inquiry() {
    if (client_.start_inquiry(options_.inquiry_length)) return;
    VLOG("inquiry canceled: no Bluetooth adapter");
    after(std::chrono::milliseconds(0), [this] { listener_->radio_inquiry_complete(true); });
}

void BluezRadio::request_name(const vgps::bdaddr& address) { client_.request_name(address); }

bool BluezRadio::search_well_formed(const std::vector<uint8_t>& pattern,
                                    const std::vector<uint8_t>& attribute_ids) const {
    SdpQuery query;
    std::string error;
    if (sdp_parse_query(pattern, attribute_ids, &query, &error)) return true;
    VLOG("service search refused: %s", error.c_str());
    return false;
}

void BluezRadio::service_search(const vgps::bdaddr& address, const std::vector<uint8_t>& pattern,
                                const std::vector<uint8_t>& attribute_ids, uint16_t max_bytes) {
    SdpQuery query;
    std::string error;
    sdp_parse_query(pattern, attribute_ids, &query, &error);  // checked by search_well_formed
    // libbluetooth asks the device for up to 65535 bytes per part; the
    // application's own limit is not passed on.
    (void)max_bytes;
    const int fd = options_.open_sdp(client_.adapter_address(), address);
    if (fd < 0) {
        VLOG("service search on %s: cannot connect: %s", ba2str(address).c_str(), std::strerror(errno));
        after(std::chrono::milliseconds(0), [this, address, pattern] {
            listener_->radio_search_result(address, pattern, vgps::kServiceSearchNotPerformed, {});
        });
        return;
    }
    const uint64_t id = next_id_++;
    searches_[id] = std::make_unique<SdpSearch>(
        loop_, fd, std::move(query), options_.search_timeout,
        [this, id, address, pattern](uint32_t result, std::vector<uint8_t> attributes) {
            if (result == 0) VLOG("service search on %s: %zu bytes", ba2str(address).c_str(), attributes.size());
            searches_.erase(id);
            listener_->radio_search_result(address, pattern, result, attributes);
        });
}

void BluezRadio::rfcomm_connect(const vgps::bdaddr& address, uint8_t channel) {
    auto fail_later = [this, address, channel](uint32_t result) {
        after(std::chrono::milliseconds(0),
              [this, address, channel, result] { listener_->radio_link_connected(address, channel, result, ""); });
    };
    for (const auto& [id, link] : links_) {
        if (link.address == address) {
            VLOG("rfcomm connect to %s channel %u: the device is linked already", ba2str(address).c_str(), channel);
            fail_later(vgps::VEXOD_LINK_BUSY);
            return;
        }
    }
    const int fd = channel == 0 ? -1 : options_.open_rfcomm(client_.adapter_address(), address, channel);
    if (fd < 0) {
        const uint32_t error = channel == 0 ? vgps::VEXOD_LINK_REFUSED : static_cast<uint32_t>(errno);
        VLOG("rfcomm connect to %s channel %u: %s", ba2str(address).c_str(), channel, std::strerror(error));
        fail_later(error);
        return;
    }
    const uint64_t id = next_id_++;
    Link& link = links_[id];
    link.address = address;
    link.channel = channel;
    link.fd = fd;
    link.connecting = std::make_unique<ConnectWait>(loop_, fd, options_.connect_timeout,
                                                    [this, id](int error) { link_connected(id, error); });
}

void BluezRadio::link_connected(uint64_t id, int error) {
    Link& link = links_.at(id);
    const vgps::bdaddr address = link.address;
    const uint8_t channel = link.channel;
    if (error != 0) {
        VLOG("rfcomm connect to %s channel %u failed: %s", ba2str(address).c_str(), channel, std::strerror(error));
        link_failed(id, static_cast<uint32_t>(error));
        return;
    }
    link.bridge = std::make_unique<RfcommBridge>(loop_, link.fd, options_.bridge, [this, id](LinkEnd why, int) {
        auto it = links_.find(id);
        if (it == links_.end()) return;
        const vgps::bdaddr a = it->second.address;
        const uint8_t c = it->second.channel;
        VLOG("rfcomm link to %s channel %u closed: %s", ba2str(a).c_str(), c, link_end_text(why));
        links_.erase(it);  // the bridge, from inside its own report
        listener_->radio_link_closed(a, c, why);
    });
    link.fd = -1;  // the bridge's now
    std::string reason;
    if (!link.bridge->open(&reason)) {
        VLOG("cannot make the data socket: %s", reason.c_str());
        link_failed(id, vgps::VEXOD_LINK_IO_ERROR);
        return;
    }
    VLOG("rfcomm link to %s channel %u: %s", ba2str(address).c_str(), channel, link.bridge->path().c_str());
    link.connecting.reset();  // this runs inside it, which allows that
    listener_->radio_link_connected(address, channel, 0, link.bridge->path());
}

void BluezRadio::link_failed(uint64_t id, uint32_t result) {
    Link& link = links_.at(id);
    const vgps::bdaddr address = link.address;
    const uint8_t channel = link.channel;
    if (link.fd >= 0) ::close(link.fd);
    links_.erase(id);  // with the connect wait running this, which allows that
    listener_->radio_link_connected(address, channel, result, "");
}

void BluezRadio::client_left() {
    client_.cancel_all();
    searches_.clear();
    for (auto& [id, link] : links_) {
        link.connecting.reset();
        link.bridge.reset();
        if (link.fd >= 0) ::close(link.fd);
    }
    links_.clear();
    for (auto id : deferred_) loop_->cancel_timer(id);
    deferred_.clear();
}

vgps::RunLoop::TimerId BluezRadio::after(std::chrono::milliseconds delay, std::function<void()> fn) {
    auto id = std::make_shared<vgps::RunLoop::TimerId>(0);
    *id = loop_->add_timer(delay, [this, id, fn = std::move(fn)] {
        deferred_.erase(*id);
        fn();
    });
    deferred_.insert(*id);
    return *id;
}

void BluezRadio::bluez_adapter_changed(const std::string&) {}

void BluezRadio::bluez_device_found(const vgps::bdaddr& address, uint32_t device_class) {
    if (listener_) listener_->radio_inquiry_result(address, device_class, "");
}

void BluezRadio::bluez_inquiry_complete(bool canceled) {
    if (listener_) listener_->radio_inquiry_complete(canceled);
}

void BluezRadio::bluez_name_result(const vgps::bdaddr& address, const std::optional<std::string>& name) {
    if (listener_) listener_->radio_name_result(address, name);
}

}  // namespace vexod::bluez
