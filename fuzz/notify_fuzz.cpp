// Feeds arbitrary bytes, as if sent by a hostile daemon, to the notification
// reader until the stream ends: no input may make it read out of bounds.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "link/utility.h"
#include "link/vexod_notify.h"
#include "platform/log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool once = [] {
        vgps::set_log_sink([](std::string_view) {});
        vgps::set_read_timeout_ms(0);
        return true;
    }();
    (void)once;
    if (size > 65536) return 0;  // stays within one socket buffer
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
    if (size && ::write(fds[1], data, size) != static_cast<ssize_t>(size)) {
        ::close(fds[0]);
        ::close(fds[1]);
        return 0;
    }
    ::close(fds[1]);
    while (vgps::vexod_rpc_serve(fds[0]) == 0) {
    }
    ::close(fds[0]);
    return 0;
}
