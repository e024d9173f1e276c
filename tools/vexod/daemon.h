// The vexod daemon: listens on a local socket, serves one client connection
// at a time (the next waits in the listen queue), answers its requests and
// sends the notifications of the simulated radio, and streams the NMEA of
// the receivers it links to over data sockets of their own.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "data_link.h"
#include "link/vexod_wire.h"
#include "platform/run_loop.h"
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

class Daemon {
public:
    Daemon(Scenario scenario, std::string socket_path, vgps::RunLoop* loop);
    ~Daemon();

    // Binds and listens. A socket file left by a daemon that is gone is
    // replaced; a live one, or a file that is not a socket, is refused.
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
    void respond(uint32_t msgid, uint32_t result, uint32_t value);
    void after_response();
    void send_frame(const std::vector<uint8_t>& frame);
    void send_malformed();
    void drop_client(const char* why);
    // Runs `fn` in `ms` if the same client is still there; the timer's key.
    uint64_t later(uint32_t ms, std::function<void()> fn);

    void start_inquiry();
    void request_name(const vgps::bdaddr& address);
    const Device* find_device(const vgps::bdaddr& address) const;
    void service_search(const vgps::bdaddr& address, std::vector<uint8_t> pattern);
    void rfcomm_connect(const vgps::bdaddr& address, uint8_t channel);
    uint32_t open_link(const Device& device, uint8_t channel, std::string* path);
    void link_ended(uint64_t id, LinkEnd why);
    void close_links(const char* why);

    struct ActiveLink {
        vgps::bdaddr address;
        uint8_t channel;
        std::unique_ptr<DataLink> link;
    };

    Scenario scenario_;
    std::string path_;
    vgps::RunLoop* loop_;
    int listen_fd_ = -1;
    vgps::RunLoop::SourceId listen_source_ = 0;
    Client client_;
    uint64_t next_generation_ = 1;
    std::vector<uint64_t> inquiry_timers_;  // keys in client_.timers
    // The client's data links; they end with it.
    std::map<uint64_t, ActiveLink> links_;
    uint64_t next_link_id_ = 1;
};

}  // namespace vexod
