// One RFCOMM link of the real radio: the connected RFCOMM socket of a
// device on one side, on the other a local socket in a private folder
// (mode 0700) that the application connects to, and the bytes pumped both
// ways between them on the run loop. Each direction has a bounded buffer;
// while one is full the bridge stops reading its source, so a reader that
// stalls holds up only its own stream (and, through RFCOMM's flow control,
// the device), never the daemon.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "bluez/io_watch.h"
#include "data_socket.h"
#include "platform/run_loop.h"

namespace vexod::bluez {

struct BridgeOptions {
    size_t buffer_bytes = 64 * 1024;  // held at most, each way
    std::chrono::milliseconds accept_timeout{5000};
    // How long the bytes of a device that closed the link may take to
    // reach the application (once it is connected) before the link is
    // closed anyway.
    std::chrono::milliseconds drain_timeout{2000};
    std::optional<gid_t> group{};  // shares the data socket (DataSocketOptions)
};

class RfcommBridge {
public:
    // Called once with why the link ended (NotConnected, AppClosed or
    // DeviceClosed) and, when it broke, the errno; after the socket file and
    // its folder are gone. The bridge may be destroyed from inside it.
    using OnEnd = std::function<void(LinkEnd why, int error)>;

    // Takes `device_fd`, the connected RFCOMM socket (any stream socket).
    RfcommBridge(vgps::RunLoop* loop, int device_fd, BridgeOptions options, OnEnd on_end);
    // Closes both sides and removes the socket file and folder, without
    // calling `on_end`.
    ~RfcommBridge();
    RfcommBridge(const RfcommBridge&) = delete;
    RfcommBridge& operator=(const RfcommBridge&) = delete;

    // Makes the folder and the data socket, and starts waiting for the
    // application (the device's bytes are held meanwhile). False, with the
    // reason, when it cannot.
    bool open(std::string* error);
    // The path to report in notification 30.
    const std::string& path() const { return socket_.path(); }

private:
    // One direction: bytes read from one side, not yet written to the
    // other, at [head, tail) of a fixed block.
    struct Buffer {
        std::unique_ptr<uint8_t[]> data;
        size_t head = 0;
        size_t tail = 0;
        size_t size() const { return tail - head; }
    };
    enum class Io { Progress, Idle, End, Error };

    void on_connected(int fd);
    void pump();
    Io fill(int fd, Buffer& buffer, bool discard);
    Io drain(int fd, Buffer& buffer);
    void watch();
    void finish(LinkEnd why, int error);
    void teardown();

    vgps::RunLoop* loop_;
    int device_fd_;
    BridgeOptions options_;
    OnEnd on_end_;

    DataSocket socket_;
    int app_fd_ = -1;
    std::unique_ptr<IoWatch> device_watch_;
    std::unique_ptr<IoWatch> app_watch_;
    vgps::RunLoop::TimerId drain_timer_ = 0;

    Buffer to_app_;
    Buffer to_device_;
    bool device_done_ = false;  // read to its end, or broken
    bool device_hung_up_ = false;  // closed, maybe with bytes still unread
    int device_error_ = 0;
    bool finished_ = false;
};

}  // namespace vexod::bluez
