// The vexod daemon: listens on a local socket, serves one client connection
// at a time (the next waits in the listen queue), answers its requests and
// sends the notifications of the simulated radio.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/run_loop.h"
#include "scenario.h"

namespace vexod {

// Daemon result codes in responses. Kept above 3 so that a client cannot
// mistake them for its own local failure codes.
enum ResultCode : uint32_t {
    kResultSuccess = 0,
    kResultRadioOff = 100,
    kResultUnknownFunction = 101,
    kResultBadRequest = 102,
};

// Largest request the daemon reads; anything bigger ends the connection.
inline constexpr uint32_t kMaxRequestSize = 1 << 20;

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
        std::vector<vgps::RunLoop::TimerId> timers;
    };

    void on_listen_readable();
    void on_client_readable();
    void process_input();
    void handle_request(const uint8_t* msg, uint32_t size);
    void respond(uint32_t msgid, uint32_t result, uint32_t value);
    void after_response();
    void send_frame(const std::vector<uint8_t>& frame);
    void send_malformed();
    void drop_client(const char* why);
    void later(uint32_t ms, std::function<void()> fn);

    void start_inquiry();
    void request_name(const uint8_t* address);

    Scenario scenario_;
    std::string path_;
    vgps::RunLoop* loop_;
    int listen_fd_ = -1;
    vgps::RunLoop::SourceId listen_source_ = 0;
    Client client_;
    uint64_t next_generation_ = 1;
    std::vector<vgps::RunLoop::TimerId> inquiry_timers_;
};

}  // namespace vexod
