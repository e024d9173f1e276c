// The application's end of a data link, the same for either radio: a
// private folder in $TMPDIR (or /tmp), "vexod-link-XXXXXX", holding the
// local socket "rfcomm" whose path notification 30 reports. Only the
// daemon's user gets in (folder 0700), or, when the daemon's socket is
// shared with a group, that group too (folder 0710, socket 0660). One
// connection is taken; the socket file and the folder go when the link ends.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/run_loop.h"

namespace vexod {

// Why a link ended; travels as the 32-bit value of notification 31.
enum class LinkEnd : uint32_t {
    StreamEnded = 0,   // the recorded file is over (simulated radio)
    Dropped = 1,       // a scenario fault dropped the link (simulated radio)
    NotConnected = 2,  // the application did not connect in time
    AppClosed = 3,     // the application closed its end of the data socket
    DeviceClosed = 4,  // the device closed the link, or it broke (real radio)
};

const char* link_end_text(LinkEnd why);

// Removes the private folders (in $TMPDIR, or /tmp) that links of a daemon
// of this user left behind when it was killed: those that hold nothing but
// a link socket of this user that no live process has bound. Folders of
// live daemons, of other users, or holding anything else are left alone.
void remove_stale_link_folders();

struct DataSocketOptions {
    std::chrono::milliseconds accept_timeout{5000};
    // The group that may connect besides the daemon's user; none: only the
    // user.
    std::optional<gid_t> group;
};

class DataSocket {
public:
    // What open() puts at the reported path: a listening socket; or, for the
    // simulated radio's faults, a socket bound but never listening, nothing
    // at all, or nothing at a path too long for a local socket address.
    enum class Make { Listening, BoundOnly, Nothing, LongPath };

    // `on_connected` gets the application's connection (non-blocking,
    // close-on-exec, the caller's from then on), or -1 when none came
    // within the accept time-out. It is called once, from the run loop; the
    // socket may be destroyed inside it.
    DataSocket(vgps::RunLoop* loop, DataSocketOptions options, std::function<void(int fd)> on_connected);
    // remove()
    ~DataSocket();
    DataSocket(const DataSocket&) = delete;
    DataSocket& operator=(const DataSocket&) = delete;

    // Makes the folder and the socket, and starts waiting for the
    // application. False, with the reason and nothing left behind, when it
    // cannot.
    bool open(std::string* error, Make make = Make::Listening);
    // The path to report in notification 30.
    const std::string& path() const { return path_; }

    // Stops waiting and removes the socket file and the folder. A
    // connection already handed over is left open.
    void remove();

private:
    void on_accept();
    void fail(std::string* error, const std::string& what, const std::string& path);

    vgps::RunLoop* loop_;
    DataSocketOptions options_;
    std::function<void(int fd)> on_connected_;
    std::string dir_;
    std::string path_;
    std::string socket_file_;  // the file to remove, if one was made
    int listen_fd_ = -1;
    vgps::RunLoop::SourceId listen_source_ = 0;
    vgps::RunLoop::TimerId accept_timer_ = 0;
};

}  // namespace vexod
