#include "daemon.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/fd.h"
#include "vexod_log.h"

namespace vexod {
namespace {

using vgps::ba2str;
using vgps::vexod_bytes;
using vgps::vexod_frame;

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

Daemon::Daemon(std::unique_ptr<Radio> radio, Faults faults, std::string socket_path, vgps::RunLoop* loop)
    : radio_(std::move(radio)), faults_(std::move(faults)), path_(std::move(socket_path)), loop_(loop) {}

Daemon::~Daemon() { stop(); }

bool Daemon::start(std::string* error) {
    if (path_.empty() || path_.size() > vgps::kMaxLocalSocketPath) {
        *error = "socket path is empty or longer than " + std::to_string(vgps::kMaxLocalSocketPath) + " bytes";
        return false;
    }

    struct stat st;
    if (::lstat(path_.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            *error = path_ + " exists and is not a socket";
            return false;
        }
        const int probe = vgps::connect_local(path_);
        if (probe >= 0) {
            ::close(probe);
            *error = "another daemon is listening on " + path_;
            return false;
        }
        VLOG("removing stale socket %s", path_.c_str());
        ::unlink(path_.c_str());
    }

    // A radio is driven by its user alone, or by the group it is shared
    // with: the mode is set before listen(), so nobody gets in before.
    listen_fd_ = vgps::listen_local(path_, vgps::kBindOnly, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (listen_fd_ < 0) {
        *error = std::string("cannot listen on ") + path_ + ": " + std::strerror(errno);
        return false;
    }
    std::string failure;
    if (group_ && ::chown(path_.c_str(), static_cast<uid_t>(-1), *group_) != 0) {
        failure = "cannot share " + path_ + " with group " + std::to_string(*group_) + ": " + std::strerror(errno);
    } else if (::chmod(path_.c_str(), group_ ? 0660 : 0600) != 0 || ::listen(listen_fd_, 8) != 0) {
        failure = std::string("cannot listen on ") + path_ + ": " + std::strerror(errno);
    } else if (!radio_->start(this, &failure)) {
        failure = "the radio cannot start: " + failure;
    }
    if (!failure.empty()) {
        *error = failure;
        ::close(listen_fd_);
        listen_fd_ = -1;
        ::unlink(path_.c_str());
        return false;
    }
    listen_source_ = loop_->add_source(listen_fd_, [this] { on_listen_readable(); });
    remove_stale_link_folders();
    VLOG("listening on %s (%s)", path_.c_str(), radio_->describe().c_str());
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
    // Non-blocking: a client that stops reading costs a send at most
    // kSendTimeout (send_frame) instead of stalling the daemon.
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;  // the peer gave up already, or nothing queued
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
        if (errno != EAGAIN && errno != EINTR) drop_client(end_text(errno));
        return;
    }
    client_.input.insert(client_.input.end(), buffer, buffer + n);
    process_input();
}

const char* Daemon::end_text(int error) {
    // EPIPE: a send found the client gone; ECONNRESET: it closed with
    // answers of ours still unread.
    if (error == EPIPE || error == ECONNRESET) return "client closed the connection";
    return std::strerror(error);
}

void Daemon::watch_partial_frame() {
    if (client_.fd < 0) return;
    bool partial = !client_.input.empty();
    if (partial && client_.input.size() >= vgps::VEXOD_HEADER_SIZE) {
        // A whole request waiting for a delayed answer is ours to serve, not
        // the client's to complete.
        partial = client_.input.size() < vgps::vexod_header_load(client_.input.data()).msgsize;
    }
    if (!partial) {
        if (client_.frame_timer != 0) loop_->cancel_timer(client_.frame_timer);
        client_.frame_timer = 0;
        return;
    }
    if (client_.frame_timer != 0 && client_.frame_start == client_.consumed) return;  // the same request
    if (client_.frame_timer != 0) loop_->cancel_timer(client_.frame_timer);
    client_.frame_start = client_.consumed;
    client_.frame_timer = loop_->add_timer(kFrameTimeout, [this] {
        client_.frame_timer = 0;
        const std::string why = "its request did not complete within " + std::to_string(kFrameTimeout.count()) +
                                " s (" + std::to_string(client_.input.size()) + " bytes came)";
        drop_client(why.c_str());
    });
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
        if (client_.input.size() < h.msgsize) break;
        std::vector<uint8_t> msg(client_.input.begin(), client_.input.begin() + h.msgsize);
        client_.input.erase(client_.input.begin(), client_.input.begin() + h.msgsize);
        client_.consumed += h.msgsize;
        handle_request(msg.data(), h.msgsize);
    }
    if (client_.generation == generation) watch_partial_frame();
}

void Daemon::handle_request(const uint8_t* msg, uint32_t size) {
    const vgps::vexod_msg_header h = vgps::vexod_header_load(msg);
    if (h.resp != 0) {
        VLOG("ignoring a message that is not a request (msgid %u)", h.msgid);
        return;
    }
    VLOG("request %u (%s), msgid %u", h.funcid, function_name(h.funcid), h.msgid);
    ++client_.received;
    if (faults_.hang_up_at_request && *faults_.hang_up_at_request == client_.received) {
        drop_client("fault: hanging up without an answer");
        return;
    }

    uint32_t result = vgps::VEXOD_RESULT_SUCCESS;
    uint32_t value = 0;
    std::function<void()> follow_up;
    bool power_on = false;
    // A request about a remote device: long enough for its fields, and only
    // with the radio on.
    auto device_request = [&](auto* request) {
        if (!vgps::vexod_decode(msg, size, request)) {
            result = vgps::VEXOD_RESULT_BAD_REQUEST;
        } else if (!radio_->powered()) {
            result = vgps::VEXOD_RESULT_RADIO_OFF;
        } else {
            return true;
        }
        return false;
    };
    switch (h.funcid) {
        case vgps::VEXOD_REGISTER_APPLICATION: break;
        case vgps::VEXOD_GET_POWER_STATE: value = radio_->powered() ? 1 : 0; break;
        case vgps::VEXOD_POWER_ON: power_on = true; break;
        case vgps::VEXOD_START_INQUIRY:
            if (!radio_->powered()) result = vgps::VEXOD_RESULT_RADIO_OFF;
            else follow_up = [this] { radio_->start_inquiry(); };
            break;
        case vgps::VEXOD_REQUEST_NAME: {
            vgps::vexod_request_name_msg r;
            if (device_request(&r)) follow_up = [this, address = r.remote] { radio_->request_name(address); };
            break;
        }
        case vgps::VEXOD_RFCOMM_CONNECT: {
            vgps::vexod_rfcomm_connect_msg r;  // its 8-bit parameter is not used
            if (device_request(&r)) follow_up = [this, address = r.remote, channel = r.channel] {
                radio_->rfcomm_connect(address, channel);
            };
            break;
        }
        case vgps::VEXOD_SERVICE_ATTRIBUTE_SEARCH: {
            vgps::vexod_service_search_msg r;
            if (device_request(&r)) {
                std::vector<uint8_t> pattern(r.pattern.data, r.pattern.data + r.pattern.size);
                std::vector<uint8_t> ids(r.attr_list.data, r.attr_list.data + r.attr_list.size);
                if (!radio_->search_well_formed(pattern, ids)) {
                    result = vgps::VEXOD_RESULT_BAD_REQUEST;
                } else {
                    follow_up = [this, address = r.remote, pattern, ids, max = r.max_attr_bytes] {
                        radio_->service_search(address, pattern, ids, max);
                    };
                }
            }
            break;
        }
        default: result = vgps::VEXOD_RESULT_UNKNOWN_FUNCTION; break;
    }

    auto answer = [this, msgid = h.msgid, result, value, follow_up] {
        respond(msgid, result, value);
        if (client_.fd < 0) return;
        if (follow_up) follow_up();
        after_response();
    };
    if (!power_on) {
        answer_request(h.funcid, answer);
        return;
    }
    // The answer waits until the radio says whether it is on; meanwhile
    // the client's next requests wait too.
    client_.waiting = true;
    const uint64_t generation = client_.generation;
    auto inside = std::make_shared<bool>(true);
    radio_->power_on([this, generation, inside, msgid = h.msgid, funcid = h.funcid](bool on) {
        if (client_.fd < 0 || client_.generation != generation) return;
        client_.waiting = false;
        answer_request(funcid, [this, msgid, on] {
            respond(msgid, on ? vgps::VEXOD_RESULT_SUCCESS : vgps::VEXOD_RESULT_RADIO_OFF, 0);
            if (client_.fd >= 0) after_response();
        });
        if (!*inside && client_.fd >= 0 && client_.generation == generation && !client_.waiting) process_input();
    });
    *inside = false;
}

void Daemon::answer_request(uint32_t funcid, std::function<void()> answer) {
    const auto delay = std::find_if(faults_.delay_response.begin(), faults_.delay_response.end(),
                                    [&](const ResponseDelay& d) { return d.funcid == funcid; });
    if (delay == faults_.delay_response.end()) {
        answer();
        return;
    }
    VLOG("fault: answering request %u after %u ms", funcid, delay->ms);
    client_.waiting = true;
    later(delay->ms, [this, answer] {
        client_.waiting = false;
        const uint64_t generation = client_.generation;
        answer();
        if (client_.fd >= 0 && client_.generation == generation) process_input();
    });
}

void Daemon::respond(uint32_t msgid, uint32_t result, uint32_t value) {
    if (result != vgps::VEXOD_RESULT_SUCCESS) VLOG("answering msgid %u with result %u", msgid, result);
    // Refusals carry the value too: every response is 24 bytes.
    send_frame(vexod_frame(vgps::vexod_result_msg{value}, result, msgid, 1));
}

void Daemon::after_response() {
    ++client_.answered;
    const Faults& f = faults_;
    if (f.malformed_after_requests && *f.malformed_after_requests == client_.answered) send_malformed();
    if (client_.fd >= 0 && f.drop_after_requests && *f.drop_after_requests == client_.answered) {
        drop_client("fault: dropping the client");
    }
}

void Daemon::send_frame(const std::vector<uint8_t>& frame) {
    if (client_.fd < 0) return;
    // A client that stops reading is dropped instead of stalling the daemon.
    if (vgps::send_all(client_.fd, frame.data(), frame.size(), vgps::deadline_after(kSendTimeout)) < frame.size()) {
        drop_client(end_text(errno));
    }
}

void Daemon::send_malformed() {
    std::vector<uint8_t> frame(20);
    switch (faults_.malformed_kind) {
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
    radio_->client_left();
    for (const auto& [key, id] : client_.timers) loop_->cancel_timer(id);
    if (client_.frame_timer != 0) loop_->cancel_timer(client_.frame_timer);
    client_.frame_timer = 0;
    loop_->remove_source(client_.source);
    ::close(client_.fd);
    VLOG("client %llu disconnected: %s", static_cast<unsigned long long>(client_.generation), why);
    client_.fd = -1;
    client_.input.clear();
    client_.timers.clear();
    client_.waiting = false;
    if (listen_fd_ >= 0) loop_->set_source_enabled(listen_source_, true);
}

uint64_t Daemon::later(uint32_t ms, std::function<void()> fn) {
    const uint64_t generation = client_.generation;
    const uint64_t key = ++client_.timer_keys;
    const auto id = loop_->add_timer(std::chrono::milliseconds(ms), [this, generation, key, fn = std::move(fn)] {
        if (client_.fd < 0 || client_.generation != generation) return;
        client_.timers.erase(key);  // fired: nothing left to cancel
        fn();
    });
    client_.timers.emplace(key, id);
    return key;
}

void Daemon::radio_inquiry_result(const vgps::bdaddr& address, uint32_t device_class, const std::string& text) {
    const vgps::vexod_inquiry_result_msg n{
        address,
        0,
        {static_cast<uint8_t>(device_class >> 16), static_cast<uint8_t>(device_class >> 8),
         static_cast<uint8_t>(device_class)},
        vexod_bytes(text),
        0};
    send_frame(vexod_frame(n));
}

void Daemon::radio_inquiry_complete(bool canceled) {
    const uint32_t id = canceled ? vgps::VEXOD_NOTIFY_INQUIRY_CANCELED : vgps::VEXOD_NOTIFY_INQUIRY_COMPLETE;
    send_frame(vexod_frame(vgps::vexod_inquiry_complete_msg{0}, id));
}

void Daemon::radio_name_result(const vgps::bdaddr& address, const std::optional<std::string>& name) {
    const std::string text = name.value_or("");
    // Result 4: the device did not answer.
    send_frame(vexod_frame(vgps::vexod_name_complete_msg{address, vexod_bytes(text), name ? 0u : 4u}));
}

void Daemon::radio_search_result(const vgps::bdaddr& address, const std::vector<uint8_t>& pattern, uint32_t result,
                                 const std::vector<uint8_t>& attributes) {
    send_frame(
        vexod_frame(vgps::vexod_search_response_msg{address, vexod_bytes(pattern), vexod_bytes(attributes), result}));
}

void Daemon::radio_link_connected(const vgps::bdaddr& address, uint8_t channel, uint32_t result,
                                  const std::string& path) {
    send_frame(vexod_frame(vgps::vexod_rfcomm_connected_msg{address, channel, vexod_bytes(path), result}));
}

void Daemon::radio_link_closed(const vgps::bdaddr& address, uint8_t channel, LinkEnd why) {
    send_frame(vexod_frame(vgps::vexod_rfcomm_disconnected_msg{address, channel, static_cast<uint32_t>(why)}));
}

}  // namespace vexod
