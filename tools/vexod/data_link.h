// One RFCOMM data link of the simulated radio: a local socket in a private
// folder that the application connects to, and the receiver's NMEA stream
// written to it one epoch (the sentences of one fix) at a time, paced by the
// run loop so the daemon keeps serving its client meanwhile.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "platform/run_loop.h"
#include "scenario.h"

namespace vexod {

// Why a link ended; travels as the 32-bit value of notification 31.
enum class LinkEnd : uint32_t {
    StreamEnded = 0,   // the recorded file is over
    Dropped = 1,       // a scenario fault dropped the link
    NotConnected = 2,  // the application did not connect in time
    AppClosed = 3,     // the application closed its end of the data socket
};

const char* link_end_text(LinkEnd why);

// Removes the private folders (in $TMPDIR, or /tmp) that links of a daemon
// of this user left behind when it was killed: those that hold nothing but
// a link socket of this user that no live process has bound. Folders of
// live daemons, of other users, or holding anything else are left alone.
void remove_stale_link_folders();

// Fills `epoch` with the next epoch's bytes; false when the stream is over.
using EpochSource = std::function<bool(std::string* epoch)>;

struct LinkOptions {
    double speed = 1.0;  // epochs per second; 0: as fast as the socket takes them
    uint32_t accept_timeout_ms = 5000;
    LinkFaults faults;
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
    const std::string& path() const { return path_; }
    uint64_t epochs_sent() const { return epochs_sent_; }

private:
    using Clock = std::chrono::steady_clock;

    struct Write {
        std::string bytes;
        size_t offset = 0;
        uint32_t pause_before_ms = 0;
    };

    void on_accept();
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

    std::string dir_;
    std::string path_;
    std::string socket_file_;  // the file to remove at the end, if one was made
    int listen_fd_ = -1;
    int data_fd_ = -1;
    vgps::RunLoop::SourceId listen_source_ = 0;
    vgps::RunLoop::SourceId data_source_ = 0;
    vgps::RunLoop::TimerId accept_timer_ = 0;
    vgps::RunLoop::TimerId pump_timer_ = 0;
    bool finished_ = false;

    std::deque<Write> writes_;
    uint64_t epochs_sent_ = 0;
    Clock::duration interval_{};
    Clock::time_point next_due_{};
    std::chrono::milliseconds retry_{1};
};

}  // namespace vexod
