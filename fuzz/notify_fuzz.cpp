// Feeds arbitrary bytes, as if sent by a hostile daemon, to the daemon
// socket's readers until the stream ends: no input may make them read out
// of bounds. The first byte chooses the reader: even, the notification
// path alone; odd, responses to requests first (notifications met on the
// way are held, then served as the daemon manager serves them), then the
// notification path on what is left.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "link/utility.h"
#include "link/vexod_notify.h"
#include "link/vexod_rpc1.h"
#include "platform/log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool once = [] {
        vgps::set_log_sink([](std::string_view) {});
        vgps::set_read_timeout_ms(0);
        return true;
    }();
    (void)once;
    if (size == 0 || size > 65536) return 0;  // stays within one socket buffer
    const bool responses = data[0] & 1;
    ++data;
    --size;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
    if (size && ::write(fds[1], data, size) != static_cast<ssize_t>(size)) {
        ::close(fds[0]);
        ::close(fds[1]);
        return 0;
    }
    ::close(fds[1]);
    if (responses) {
        vgps::vexod_rpc_ctx ctx;
        ctx.fd = fds[0];
        // Codes 1 to 5: the stream cannot be read on as responses.
        for (int rc = 0; rc == 0 || rc > 5;) {
            rc = vgps::vexod_xrecv(1, &ctx);
            vgps::vexod_serve_held(fds[0]);
        }
    }
    while (vgps::vexod_rpc_serve(fds[0]) == 0) {
    }
    vgps::vexod_drop_held(fds[0]);
    ::close(fds[0]);
    return 0;
}
