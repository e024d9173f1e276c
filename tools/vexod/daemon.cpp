#include "daemon.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "link/vexod_rpc1.h"
#include "nmea_feed.h"
#include "platform/log.h"
#include "sdp_records.h"

#define VLOG(fmt, ...) vgps::log_error("<%s> " fmt, "vexod" __VA_OPT__(, ) __VA_ARGS__)

namespace vexod {
namespace {

using vgps::get_le32;
using vgps::put_le32;

// A notification: header with the function id, then the payload.
std::vector<uint8_t> notification(uint32_t funcid, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame(20 + payload.size());
    vgps::vexod_header_store(frame.data(), {vgps::VEXOD_MAGIC, static_cast<uint32_t>(frame.size()), 0, 0, funcid});
    std::copy(payload.begin(), payload.end(), frame.begin() + 20);
    return frame;
}

void append32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    put_le32(b, v);
    out.insert(out.end(), b, b + 4);
}

const char* function_name(uint32_t funcid) {
    switch (funcid) {
        case vgps::VEXOD_REGISTER_APPLICATION: return "register application";
        case vgps::VEXOD_GET_POWER_STATE: return "get power state";
        case vgps::VEXOD_POWER_ON: return "power on";
        case vgps::VEXOD_RFCOMM_CONNECT: return "rfcomm connect";
        case vgps::VEXOD_START_INQUIRY: return "start inquiry";
        case vgps::VEXOD_REQUEST_NAME: return "request name";
        case vgps::VEXOD_SERVICE_ATTRIBUTE_SEARCH: return "service attribute search";
        default: return "unknown";
    }
}

}  // namespace

Daemon::Daemon(Scenario scenario, std::string socket_path, vgps::RunLoop* loop)
    : scenario_(std::move(scenario)), path_(std::move(socket_path)), loop_(loop) {}

Daemon::~Daemon() { stop(); }

bool Daemon::start(std::string* error) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path_.empty() || path_.size() >= sizeof addr.sun_path) {
        *error = "socket path is empty or longer than " + std::to_string(sizeof addr.sun_path - 1) + " bytes";
        return false;
    }
    std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);

    struct stat st;
    if (::lstat(path_.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            *error = path_ + " exists and is not a socket";
            return false;
        }
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool live = probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        if (probe >= 0) ::close(probe);
        if (live) {
            *error = "another daemon is listening on " + path_;
            return false;
        }
        VLOG("removing stale socket %s", path_.c_str());
        ::unlink(path_.c_str());
    }

    listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_fd_, 8) != 0) {
        *error = std::string("cannot listen on ") + path_ + ": " + std::strerror(errno);
        if (listen_fd_ >= 0) ::close(listen_fd_);
        listen_fd_ = -1;
        return false;
    }
    listen_source_ = loop_->add_source(listen_fd_, [this] { on_listen_readable(); });
    remove_stale_link_folders();
    VLOG("listening on %s (radio %s, %zu devices in range)", path_.c_str(), scenario_.powered ? "on" : "off",
         scenario_.devices.size());
    return true;
}

void Daemon::stop() {
    if (client_.fd >= 0) drop_client("daemon stopping");
    if (listen_fd_ >= 0) {
        loop_->remove_source(listen_source_);
        ::close(listen_fd_);
        listen_fd_ = -1;
        ::unlink(path_.c_str());
        VLOG("stopped, removed %s", path_.c_str());
    }
}

void Daemon::on_listen_readable() {
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;  // the peer gave up already, or nothing queued
    // Writes block at most this long: a client that stops reading is
    // dropped instead of stalling the daemon.
    timeval timeout{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    client_ = Client{};
    client_.fd = fd;
    client_.generation = next_generation_++;
    client_.source = loop_->add_source(fd, [this] { on_client_readable(); });
    // One client at a time: the next waits in the listen queue.
    loop_->set_source_enabled(listen_source_, false);
    VLOG("client %llu connected", static_cast<unsigned long long>(client_.generation));
}

void Daemon::on_client_readable() {
    uint8_t buffer[65536];
    const ssize_t n = ::read(client_.fd, buffer, sizeof buffer);
    if (n == 0) {
        drop_client("client closed the connection");
        return;
    }
    if (n < 0) {
        if (errno != EAGAIN && errno != EINTR) drop_client(std::strerror(errno));
        return;
    }
    client_.input.insert(client_.input.end(), buffer, buffer + n);
    process_input();
}

void Daemon::process_input() {
    const uint64_t generation = client_.generation;
    while (client_.fd >= 0 && client_.generation == generation && !client_.waiting &&
           client_.input.size() >= vgps::VEXOD_HEADER_SIZE) {
        const vgps::vexod_msg_header h = vgps::vexod_header_load(client_.input.data());
        // A frame that cannot be trusted leaves no way to find the next
        // one: the connection is ended.
        if (h.magic != vgps::VEXOD_MAGIC) {
            VLOG("bad magic 0x%08x from the client", h.magic);
            drop_client("unreadable input");
            return;
        }
        if (h.msgsize < vgps::VEXOD_HEADER_SIZE || h.msgsize > kMaxRequestSize) {
            VLOG("request size %u out of range", h.msgsize);
            drop_client("unreadable input");
            return;
        }
        if (client_.input.size() < h.msgsize) return;
        std::vector<uint8_t> msg(client_.input.begin(), client_.input.begin() + h.msgsize);
        client_.input.erase(client_.input.begin(), client_.input.begin() + h.msgsize);
        handle_request(msg.data(), h.msgsize);
    }
}

void Daemon::handle_request(const uint8_t* msg, uint32_t size) {
    const vgps::vexod_msg_header h = vgps::vexod_header_load(msg);
    if (h.resp != 0) {
        VLOG("ignoring a message that is not a request (msgid %u)", h.msgid);
        return;
    }
    VLOG("request %u (%s), msgid %u", h.funcid, function_name(h.funcid), h.msgid);
    ++client_.received;
    if (scenario_.faults.hang_up_at_request && *scenario_.faults.hang_up_at_request == client_.received) {
        drop_client("fault: hanging up without an answer");
        return;
    }

    uint32_t result = kResultSuccess;
    uint32_t value = 0;
    std::function<void()> follow_up;
    // A request about a remote device: long enough for its fields, and only
    // with the radio on; then its address is taken.
    std::array<uint8_t, 6> address{};
    auto device_request = [&](uint64_t min_size, std::array<uint8_t, 6>* out) {
        if (size < min_size) {
            result = kResultBadRequest;
        } else if (!scenario_.powered) {
            result = kResultRadioOff;
        } else {
            std::memcpy(out->data(), msg + 20, 6);
            return true;
        }
        return false;
    };
    switch (h.funcid) {
        case vgps::VEXOD_REGISTER_APPLICATION: break;
        case vgps::VEXOD_GET_POWER_STATE: value = scenario_.powered ? 1 : 0; break;
        case vgps::VEXOD_POWER_ON:
            if (!scenario_.powered) VLOG("radio powered on");
            scenario_.powered = true;
            break;
        case vgps::VEXOD_START_INQUIRY:
            if (!scenario_.powered) result = kResultRadioOff;
            else follow_up = [this] { start_inquiry(); };
            break;
        case vgps::VEXOD_REQUEST_NAME:
            if (device_request(31, &address)) follow_up = [this, address] { request_name(address.data()); };
            break;
        case vgps::VEXOD_RFCOMM_CONNECT:
            if (device_request(28, &address)) {
                const uint8_t channel = msg[27];  // msg[26], the 8-bit parameter, is not used
                follow_up = [this, address, channel] { rfcomm_connect(address, channel); };
            }
            break;
        case vgps::VEXOD_SERVICE_ATTRIBUTE_SEARCH: {
            const uint64_t pattern_length = size >= 36 ? get_le32(msg + 28) : 0;
            const uint64_t list_length = size >= 36 ? get_le32(msg + 32) : 0;
            if (device_request(36 + pattern_length + list_length, &address)) {
                std::vector<uint8_t> pattern(msg + 36, msg + 36 + pattern_length);
                follow_up = [this, address, pattern] { service_search(address, pattern); };
            }
            break;
        }
        default: result = kResultUnknownFunction; break;
    }

    auto answer = [this, msgid = h.msgid, result, value, follow_up] {
        respond(msgid, result, value);
        if (client_.fd < 0) return;
        if (follow_up) follow_up();
        after_response();
    };
    const auto delay = std::find_if(scenario_.faults.delay_response.begin(), scenario_.faults.delay_response.end(),
                                    [&](const ResponseDelay& d) { return d.funcid == h.funcid; });
    if (delay == scenario_.faults.delay_response.end()) {
        answer();
        return;
    }
    VLOG("fault: answering request %u after %u ms", h.funcid, delay->ms);
    client_.waiting = true;
    later(delay->ms, [this, answer] {
        client_.waiting = false;
        const uint64_t generation = client_.generation;
        answer();
        if (client_.fd >= 0 && client_.generation == generation) process_input();
    });
}

void Daemon::respond(uint32_t msgid, uint32_t result, uint32_t value) {
    std::vector<uint8_t> frame(24);
    vgps::vexod_header_store(frame.data(), {vgps::VEXOD_MAGIC, 24, 1, msgid, result});
    put_le32(frame.data() + 20, value);
    if (result != kResultSuccess) VLOG("answering msgid %u with result %u", msgid, result);
    send_frame(frame);
}

void Daemon::after_response() {
    ++client_.answered;
    const Faults& f = scenario_.faults;
    if (f.malformed_after_requests && *f.malformed_after_requests == client_.answered) send_malformed();
    if (client_.fd >= 0 && f.drop_after_requests && *f.drop_after_requests == client_.answered) {
        drop_client("fault: dropping the client");
    }
}

void Daemon::send_frame(const std::vector<uint8_t>& frame) {
    size_t done = 0;
    while (client_.fd >= 0 && done < frame.size()) {
        const ssize_t n = ::send(client_.fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            drop_client(n < 0 ? std::strerror(errno) : "write failed");
        }
    }
}

void Daemon::send_malformed() {
    std::vector<uint8_t> frame(20);
    switch (scenario_.faults.malformed_kind) {
        case MalformedKind::BadMagic:
            vgps::vexod_header_store(frame.data(), {0x78563412, 20, 0, 0, 26});
            VLOG("fault: sending a frame with a bad magic");
            break;
        case MalformedKind::TooSmall:
            vgps::vexod_header_store(frame.data(), {vgps::VEXOD_MAGIC, 19, 0, 0, 26});
            VLOG("fault: sending a frame of 19 bytes");
            break;
        case MalformedKind::TooBig:
            vgps::vexod_header_store(frame.data(), {vgps::VEXOD_MAGIC, vgps::VEXOD_MAX_MSGSIZE + 1, 0, 0, 26});
            VLOG("fault: sending a frame that claims 50 MiB");
            break;
        case MalformedKind::Truncated:
            vgps::vexod_header_store(frame.data(), {vgps::VEXOD_MAGIC, 40, 0, 0, 26});
            frame.resize(30);
            VLOG("fault: sending a frame cut short, then closing");
            send_frame(frame);
            if (client_.fd >= 0) drop_client("fault: truncated frame");
            return;
    }
    send_frame(frame);
}

void Daemon::drop_client(const char* why) {
    if (client_.fd < 0) return;
    close_links("its client left");
    for (auto id : client_.timers) loop_->cancel_timer(id);
    loop_->remove_source(client_.source);
    ::close(client_.fd);
    VLOG("client %llu disconnected: %s", static_cast<unsigned long long>(client_.generation), why);
    client_.fd = -1;
    client_.input.clear();
    client_.timers.clear();
    client_.waiting = false;
    inquiry_timers_.clear();
    if (listen_fd_ >= 0) loop_->set_source_enabled(listen_source_, true);
}

void Daemon::later(uint32_t ms, std::function<void()> fn) {
    const uint64_t generation = client_.generation;
    const auto id = loop_->add_timer(std::chrono::milliseconds(ms), [this, generation, fn = std::move(fn)] {
        if (client_.fd >= 0 && client_.generation == generation) fn();
    });
    client_.timers.push_back(id);
}

void Daemon::start_inquiry() {
    // A new inquiry replaces one still running.
    for (auto id : inquiry_timers_) loop_->cancel_timer(id);
    const size_t before = client_.timers.size();
    uint32_t last = 0;
    VLOG("inquiry started");
    for (const Device& d : scenario_.devices) {
        for (uint32_t r = 0; r < d.repeat; ++r) {
            later(d.inquiry_delay_ms, [this, &d] {
                std::vector<uint8_t> p(d.address.begin(), d.address.end());
                p.push_back(0);  // 16-bit value, not used
                p.push_back(0);
                p.push_back(static_cast<uint8_t>(d.device_class >> 16));
                p.push_back(static_cast<uint8_t>(d.device_class >> 8));
                p.push_back(static_cast<uint8_t>(d.device_class));
                append32(p, static_cast<uint32_t>(d.inquiry_text.size()));
                append32(p, 0);  // 32-bit value, not used
                p.insert(p.end(), d.inquiry_text.begin(), d.inquiry_text.end());
                VLOG("inquiry result %s class 0x%06x", address_text(d.address).c_str(), d.device_class);
                send_frame(notification(28, p));
            });
        }
        last = std::max(last, d.inquiry_delay_ms);
    }
    const uint32_t end = last + scenario_.inquiry_end_after_ms;
    later(end, [this] {
        const uint32_t id = scenario_.inquiry_canceled ? 27 : 26;
        VLOG("inquiry %s", id == 27 ? "canceled" : "complete");
        std::vector<uint8_t> p;
        append32(p, 0);
        send_frame(notification(id, p));
    });
    inquiry_timers_.assign(client_.timers.begin() + static_cast<ptrdiff_t>(before), client_.timers.end());
}

const Device* Daemon::find_device(const uint8_t* address) const {
    for (const Device& d : scenario_.devices) {
        if (std::memcmp(d.address.data(), address, 6) == 0) return &d;
    }
    return nullptr;
}

void Daemon::request_name(const uint8_t* address) {
    const Device* device = find_device(address);
    std::array<uint8_t, 6> a;
    std::memcpy(a.data(), address, 6);
    const uint32_t delay = device ? device->name_delay_ms : 50;
    later(delay, [this, a, device] {
        const bool found = device != nullptr && device->name.has_value();
        const std::string name = found ? *device->name : std::string();
        std::vector<uint8_t> p(a.begin(), a.end());
        append32(p, static_cast<uint32_t>(name.size()));
        append32(p, found ? 0 : 4);  // 4: the device did not answer
        p.insert(p.end(), name.begin(), name.end());
        if (found) VLOG("name of %s: %s", address_text(a).c_str(), name.c_str());
        else VLOG("name of %s: no answer", address_text(a).c_str());
        send_frame(notification(29, p));
    });
}

void Daemon::service_search(std::array<uint8_t, 6> address, std::vector<uint8_t> pattern) {
    const Device* device = find_device(address.data());
    const uint32_t delay = device ? device->search_delay_ms : 50;
    later(delay, [this, address, pattern = std::move(pattern), device] {
        // A device that is out of range or switched off never answers the
        // search; every record of one that does matches the pattern.
        uint32_t result = kSearchNotPerformed;
        std::vector<uint8_t> attributes;
        if (device != nullptr && !device->switched_off) {
            result = kResultSuccess;
            attributes = device->link_faults.sdp_attributes ? *device->link_faults.sdp_attributes
                                                            : build_attribute_lists(device->services);
        }
        std::vector<uint8_t> p(address.begin(), address.end());
        append32(p, static_cast<uint32_t>(pattern.size()));
        append32(p, static_cast<uint32_t>(attributes.size()));
        append32(p, result);
        p.insert(p.end(), pattern.begin(), pattern.end());
        p.insert(p.end(), attributes.begin(), attributes.end());
        if (result == kResultSuccess)
            VLOG("service search on %s: %zu records, %zu bytes", address_text(address).c_str(),
                 device->services.size(), attributes.size());
        else
            VLOG("service search on %s: no answer", address_text(address).c_str());
        send_frame(notification(25, p));
    });
}

void Daemon::rfcomm_connect(std::array<uint8_t, 6> address, uint8_t channel) {
    const Device* device = find_device(address.data());
    const uint32_t delay = device ? device->connect_delay_ms : 50;
    later(delay, [this, address, channel, device] {
        std::string path;
        uint32_t result = kLinkHostDown;
        if (device != nullptr && !device->switched_off) result = open_link(*device, channel, &path);
        if (result == kResultSuccess)
            VLOG("rfcomm link to %s channel %u: %s", address_text(address).c_str(), channel, path.c_str());
        else
            VLOG("rfcomm connect to %s channel %u failed: result %u", address_text(address).c_str(), channel, result);
        std::vector<uint8_t> p(address.begin(), address.end());
        p.push_back(channel);
        append32(p, static_cast<uint32_t>(path.size()));
        append32(p, result);
        p.insert(p.end(), path.begin(), path.end());
        send_frame(notification(30, p));
    });
}

uint32_t Daemon::open_link(const Device& device, uint8_t channel, std::string* path) {
    const LinkFaults& faults = device.link_faults;
    if (faults.connect_result) return *faults.connect_result;
    const bool offered = channel != 0 && std::any_of(device.services.begin(), device.services.end(),
                                                     [&](const Service& s) { return s.rfcomm_channel == channel; });
    if (!offered) return kLinkRefused;
    for (const auto& [id, active] : links_) {
        if (active.address == device.address) return kLinkBusy;
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
        auto generator = std::make_shared<NmeaGenerator>(g.lat, g.lon, g.start_time ? *g.start_time : std::time(nullptr),
                                                         g.speed_knots, g.course_deg);
        source = [generator](std::string* out) {
            *out = generator->next_epoch();
            return true;
        };
    }
    const uint64_t id = next_link_id_++;
    auto link = std::make_unique<DataLink>(loop_, std::move(source),
                                           LinkOptions{scenario_.speed, scenario_.accept_timeout_ms, faults},
                                           [this, id](LinkEnd why) { link_ended(id, why); });
    std::string error;
    if (!link->open(&error)) {
        VLOG("cannot make the data socket: %s", error.c_str());
        return kLinkIoError;
    }
    *path = link->path();
    links_.emplace(id, ActiveLink{device.address, channel, std::move(link)});
    return kResultSuccess;
}

void Daemon::link_ended(uint64_t id, LinkEnd why) {
    auto it = links_.find(id);
    if (it == links_.end()) return;
    const std::array<uint8_t, 6> address = it->second.address;
    const uint8_t channel = it->second.channel;
    VLOG("rfcomm link to %s channel %u closed after %llu epochs: %s", address_text(address).c_str(), channel,
         static_cast<unsigned long long>(it->second.link->epochs_sent()), link_end_text(why));
    links_.erase(it);
    std::vector<uint8_t> p(address.begin(), address.end());
    p.push_back(channel);
    append32(p, static_cast<uint32_t>(why));
    send_frame(notification(31, p));
}

void Daemon::close_links(const char* why) {
    for (const auto& [id, active] : links_) {
        VLOG("rfcomm link to %s channel %u closed: %s", address_text(active.address).c_str(), active.channel, why);
    }
    links_.clear();
}

}  // namespace vexod
