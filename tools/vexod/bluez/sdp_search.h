// A service search attribute request to a remote device's SDP server, made
// with libbluetooth's asynchronous SDP client on the run loop: the socket
// (connected or still connecting) is wrapped with sdp_create, the request
// sent with sdp_service_search_attr_async, and sdp_process called each time
// the socket is readable, until libbluetooth hands over the whole answer.
// Its continuation requests are libbluetooth's; what comes back are the
// attribute bytes exactly as the device sent them (its AttributeLists, the
// fragments of a continued answer joined).
#pragma once

#include <bluetooth/bluetooth.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bluez/io_watch.h"
#include "link/vexod_wire.h"
#include "platform/run_loop.h"

namespace vexod::bluez {

// What the application asks for, checked and decoded: the search pattern, a
// data element sequence of 1 to 12 UUIDs (16, 32 or 128 bits), and the
// attribute ID list, a sequence of 16-bit attribute IDs and 32-bit ranges
// (first ID in the high half, last in the low half).
struct SdpQuery {
    std::vector<uuid_t> uuids;
    std::vector<uint32_t> ranges;  // every entry as a range; an ID x is x to x
    bool individual = true;        // only single IDs: sent as 16-bit IDs
};

// False, with the reason, when the bytes are not such sequences.
bool sdp_parse_query(const std::vector<uint8_t>& pattern, const std::vector<uint8_t>& attribute_ids, SdpQuery* out,
                     std::string* error);

class SdpSearch {
public:
    // 0 with the attribute bytes; vgps::kServiceSearchNotPerformed when the
    // device did not answer (it could not be reached, said nothing in time,
    // or the connection broke off: the application asks the user to make
    // sure the device is on); or the error code of the device's SDP error
    // response (1 to 6: its request was refused).
    using Done = std::function<void(uint32_t result, std::vector<uint8_t> attributes)>;

    // Takes `fd`, a non-blocking socket connected or connecting to the
    // device's SDP server (L2CAP, SOCK_SEQPACKET), and starts at once.
    // `done` is called once, from a run-loop callback, at the latest
    // `timeout` from now; the search may be destroyed from inside it.
    SdpSearch(vgps::RunLoop* loop, int fd, SdpQuery query, std::chrono::milliseconds timeout, Done done);
    // Closes the socket; `done` is not called.
    ~SdpSearch();
    SdpSearch(const SdpSearch&) = delete;
    SdpSearch& operator=(const SdpSearch&) = delete;

private:
    static void on_response(uint8_t type, uint16_t status, uint8_t* rsp, size_t size, void* udata);
    void on_connected(int error);
    void on_readable();
    void finish(uint32_t result, std::vector<uint8_t> attributes);
    void close();

    vgps::RunLoop* loop_;
    int fd_;
    SdpQuery query_;
    Done done_;
    sdp_session_t* session_ = nullptr;
    std::unique_ptr<ConnectWait> connect_;
    std::unique_ptr<IoWatch> watch_;
    vgps::RunLoop::TimerId timer_ = 0;
    // Set by on_response from inside sdp_process.
    bool answered_ = false;
    uint32_t result_ = vgps::kServiceSearchNotPerformed;
    std::vector<uint8_t> attributes_;
};

}  // namespace vexod::bluez
