// One RFCOMM data link of the simulated radio: a local socket in a private
// folder that the application connects to, and the receiver's NMEA stream
// written to it one epoch (the sentences of one fix) at a time, paced by the
// run loop so the daemon keeps serving its client meanwhile.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "data_socket.h"
#include "platform/run_loop.h"
#include "scenario.h"

namespace vexod {

// Fills `epoch` with the next epoch's bytes; false when the stream is over.
using EpochSource = std::function<bool(std::string* epoch)>;

struct LinkOptions {
    double speed = 1.0;  // epochs per second; 0: as fast as the socket takes them
    uint32_t accept_timeout_ms = 5000;
    LinkFaults faults;
    std::optional<gid_t> group{};  // shares the data socket (DataSocketOptions)
};

class DataLink {
public:
    // `on_end` is called once, after the socket file and its folder are
    // gone; the link may be destroyed from inside it.
    DataLink(vgps::RunLoop* loop, EpochSource source, LinkOptions options, std::function<void(LinkEnd)> on_end);
    // Closes everything and removes the socket file and folder, without
    // calling `on_end`.
    ~DataLink();
    DataLink(const DataLink&) = delete;
    DataLink& operator=(const DataLink&) = delete;

    // Makes the private folder (mode 0700) and the socket, and starts
    // waiting for the application. False, with the reason, when it cannot.
    bool open(std::string* error);
    // The path to report in notification 30.
    const std::string& path() const { return socket_.path(); }
    uint64_t epochs_sent() const { return epochs_sent_; }

private:
    using Clock = std::chrono::steady_clock;

    struct Write {
        std::string bytes;
        size_t offset = 0;
        uint32_t pause_before_ms = 0;
    };

    void on_connected(int fd);
    void on_data_readable();
    void pump();
    void queue_epoch(std::string epoch);
    void schedule(std::chrono::milliseconds delay);
    void finish(LinkEnd why);
    void teardown();

    vgps::RunLoop* loop_;
    EpochSource source_;
    LinkOptions options_;
    std::function<void(LinkEnd)> on_end_;

    DataSocket socket_;
    int data_fd_ = -1;
    vgps::RunLoop::SourceId data_source_ = 0;
    vgps::RunLoop::TimerId pump_timer_ = 0;
    bool finished_ = false;

    std::deque<Write> writes_;
    uint64_t epochs_sent_ = 0;
    Clock::duration interval_{};
    Clock::time_point next_due_{};
    std::chrono::milliseconds retry_{1};
};

}  // namespace vexod
