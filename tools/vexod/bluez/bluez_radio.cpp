#include "bluez/bluez_radio.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/log.h"

#define VLOG(fmt, ...) vgps::log_error("<%s> " fmt, "vexod" __VA_OPT__(, ) __VA_ARGS__)

namespace vexod::bluez {
namespace {

// The result of a name request without a name: the device did not answer.
constexpr uint32_t kNameNoAnswer = 4;

}  // namespace

BluezRadio::BluezRadio(vgps::RunLoop* loop, BluezRadioOptions options)
    : loop_(loop), options_(std::move(options)), client_(loop, options_.bluez, this) {}

BluezRadio::~BluezRadio() {
    client_left();
}

bool BluezRadio::start(RadioListener* listener, std::string* error) {
    listener_ = listener;
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

void BluezRadio::power_on(std::function<void(bool ok)> done) {
    client_.set_powered(true, [done](bool ok, const std::string&) { done(ok); });
}

bool BluezRadio::start_inquiry() { return client_.start_inquiry(options_.inquiry_length); }

bool BluezRadio::request_name(const BtAddress& address) {
    client_.request_name(address);
    return true;
}

bool BluezRadio::service_search(const BtAddress& address, const std::vector<uint8_t>& pattern,
                                const std::vector<uint8_t>& attribute_ids, uint16_t max_bytes) {
    SdpQuery query;
    std::string error;
    if (!sdp_parse_query(pattern, attribute_ids, &query, &error)) {
        VLOG("service search on %s refused: %s", address_text(address).c_str(), error.c_str());
        return false;
    }
    // libbluetooth asks the device for up to 65535 bytes per part; the
    // application's own limit is not passed on.
    (void)max_bytes;
    const int fd = options_.open_sdp(client_.adapter_address(), address);
    if (fd < 0) {
        VLOG("service search on %s: cannot connect: %s", address_text(address).c_str(), std::strerror(errno));
        later([this, address, pattern] { listener_->radio_search_result(address, pattern, kSearchNoAnswer, {}); });
        return true;
    }
    const uint64_t id = next_id_++;
    searches_[id] = std::make_unique<SdpSearch>(
        loop_, fd, std::move(query), options_.search_timeout,
        [this, id, address, pattern](uint32_t result, std::vector<uint8_t> attributes) {
            if (result == 0) {
                VLOG("service search on %s: %zu bytes", address_text(address).c_str(), attributes.size());
            }
            searches_.erase(id);
            listener_->radio_search_result(address, pattern, result, attributes);
        });
    return true;
}

bool BluezRadio::rfcomm_connect(const BtAddress& address, uint8_t channel) {
    for (const auto& [id, link] : links_) {
        if (link.address == address) {
            later([this, address, channel] { listener_->radio_link_connected(address, channel, EBUSY, ""); });
            return true;
        }
    }
    const int fd = channel == 0 ? -1 : options_.open_rfcomm(client_.adapter_address(), address, channel);
    if (fd < 0) {
        const uint32_t error = channel == 0 ? ECONNREFUSED : static_cast<uint32_t>(errno);
        VLOG("rfcomm connect to %s channel %u: %s", address_text(address).c_str(), channel, std::strerror(error));
        later([this, address, channel, error] { listener_->radio_link_connected(address, channel, error, ""); });
        return true;
    }
    const uint64_t id = next_id_++;
    Link& link = links_[id];
    link.address = address;
    link.channel = channel;
    link.fd = fd;
    link.connecting = std::make_unique<ConnectWait>(loop_, fd, options_.connect_timeout,
                                                    [this, id](int error) { link_connected(id, error); });
    return true;
}

void BluezRadio::link_connected(uint64_t id, int error) {
    Link& link = links_.at(id);
    const Address address = link.address;
    const uint8_t channel = link.channel;
    if (error != 0) {
        VLOG("rfcomm connect to %s channel %u failed: %s", address_text(address).c_str(), channel, std::strerror(error));
        link_failed(id, static_cast<uint32_t>(error));
        return;
    }
    link.bridge = std::make_unique<RfcommBridge>(loop_, link.fd, options_.bridge, [this, id](BridgeEnd why, int) {
        auto it = links_.find(id);
        if (it == links_.end()) return;
        const Address a = it->second.address;
        const uint8_t c = it->second.channel;
        VLOG("rfcomm link to %s channel %u closed: %s", address_text(a).c_str(), c, bridge_end_text(why));
        links_.erase(it);  // the bridge, from inside its own report
        listener_->radio_link_closed(a, c, static_cast<uint32_t>(why));
    });
    link.fd = -1;  // the bridge's now
    std::string reason;
    if (!link.bridge->open(&reason)) {
        VLOG("cannot make the data socket: %s", reason.c_str());
        link_failed(id, EIO);
        return;
    }
    VLOG("rfcomm link to %s channel %u: %s", address_text(address).c_str(), channel, link.bridge->path().c_str());
    link.connecting.reset();  // this runs inside it, which allows that
    listener_->radio_link_connected(address, channel, 0, link.bridge->path());
}

void BluezRadio::link_failed(uint64_t id, uint32_t result) {
    Link& link = links_.at(id);
    const Address address = link.address;
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

void BluezRadio::later(std::function<void()> fn) {
    auto id = std::make_shared<vgps::RunLoop::TimerId>(0);
    *id = loop_->add_timer(std::chrono::milliseconds(0), [this, id, fn = std::move(fn)] {
        deferred_.erase(*id);
        fn();
    });
    deferred_.insert(*id);
}

void BluezRadio::bluez_adapter_changed(const std::string&) {}

void BluezRadio::bluez_device_found(const Address& address, uint32_t device_class) {
    if (listener_) listener_->radio_inquiry_result(address, device_class, "");
}

void BluezRadio::bluez_inquiry_complete(bool canceled) {
    if (listener_) listener_->radio_inquiry_complete(canceled);
}

void BluezRadio::bluez_name_result(const Address& address, const std::optional<std::string>& name) {
    if (listener_) listener_->radio_name_result(address, name ? 0 : kNameNoAnswer, name.value_or(""));
}

}  // namespace vexod::bluez
