// The vexod daemon: listens on a local socket, serves one client connection
// at a time (the next waits in the listen queue), answers its requests and
// sends the notifications of its radio (radio.h: simulated, or BlueZ).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/vexod_wire.h"
#include "platform/run_loop.h"
#include "radio.h"
#include "scenario.h"

namespace vexod {

// Largest request the daemon reads; anything bigger ends the connection.
inline constexpr uint32_t kMaxRequestSize = 1 << 20;
// How long sending one frame to the client may take: a client that stops
// reading is dropped instead of stalling the daemon.
inline constexpr std::chrono::milliseconds kSendTimeout{2000};
// How long a request may take to arrive whole once its first byte has come:
// a client that sends part of a frame and stalls is dropped, so that the
// applications waiting behind it are served.
inline constexpr std::chrono::seconds kFrameTimeout{3};

class Daemon : private RadioListener {
public:
    // The daemon driving `radio`, with the client `faults` of a scenario.
    Daemon(std::unique_ptr<Radio> radio, Faults faults, std::string socket_path, vgps::RunLoop* loop);
    ~Daemon();

    // The group that may use the daemon's socket besides its user (mode
    // 0660 instead of 0600). Before start().
    void share_with_group(gid_t group) { group_ = group; }

    // Binds and listens (mode 0600, or 0660 for the group), then starts the
    // radio. A socket file left by a daemon that is gone is replaced; a live
    // one, or a file that is not a socket, is refused.
    bool start(std::string* error);
    // Closes every connection and removes the socket file.
    void stop();

private:
    struct Client {
        int fd = -1;
        uint64_t generation = 0;
        vgps::RunLoop::SourceId source = 0;
        std::vector<uint8_t> input;
        uint32_t received = 0;
        uint32_t answered = 0;
        bool waiting = false;  // a delayed response is pending
        // Its pending timers by key (later()); a timer leaves when it fires,
        // so a long connection does not collect them.
        std::map<uint64_t, vgps::RunLoop::TimerId> timers;
        uint64_t timer_keys = 0;
        uint64_t consumed = 0;                  // input bytes taken as requests so far
        vgps::RunLoop::TimerId frame_timer = 0;  // runs while a request is incomplete
        uint64_t frame_start = 0;               // `consumed` when that request began
    };

    void on_listen_readable();
    void on_client_readable();
    void process_input();
    // Starts the frame timer when the input ends in part of a request, and
    // stops it when it does not.
    void watch_partial_frame();
    // Why a connection ended, for the log: a client that closed (also with
    // answers unread, or while a send was under way) has simply gone.
    static const char* end_text(int error);
    void handle_request(const uint8_t* msg, uint32_t size);
    void answer_request(uint32_t funcid, std::function<void()> answer);
    void respond(uint32_t msgid, uint32_t result, uint32_t value);
    void after_response();
    void send_frame(const std::vector<uint8_t>& frame);
    void send_malformed();
    void drop_client(const char* why);
    // Runs `fn` in `ms` if the same client is still there; the timer's key.
    uint64_t later(uint32_t ms, std::function<void()> fn);

    void radio_inquiry_result(const vgps::bdaddr& address, uint32_t device_class, const std::string& text) override;
    void radio_inquiry_complete(bool canceled) override;
    void radio_name_result(const vgps::bdaddr& address, const std::optional<std::string>& name) override;
    void radio_search_result(const vgps::bdaddr& address, const std::vector<uint8_t>& pattern, uint32_t result,
                             const std::vector<uint8_t>& attributes) override;
    void radio_link_connected(const vgps::bdaddr& address, uint8_t channel, uint32_t result,
                              const std::string& path) override;
    void radio_link_closed(const vgps::bdaddr& address, uint8_t channel, LinkEnd why) override;

    std::unique_ptr<Radio> radio_;
    Faults faults_;
    std::string path_;
    std::optional<gid_t> group_;
    vgps::RunLoop* loop_;
    int listen_fd_ = -1;
    vgps::RunLoop::SourceId listen_source_ = 0;
    Client client_;
    uint64_t next_generation_ = 1;
};

}  // namespace vexod
