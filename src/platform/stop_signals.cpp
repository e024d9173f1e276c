#include "platform/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace vgps {
namespace {

int g_pipe[2] = {-1, -1};

void on_stop_signal(int sig) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

bool watch_stop_signals(RunLoop* loop, std::function<void(int sig)> on_signal) {
    if (g_pipe[0] < 0) {
        if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
        struct sigaction sa {};
        sa.sa_handler = on_stop_signal;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGINT, &sa, nullptr);
        ::sigaction(SIGTERM, &sa, nullptr);
    }
    loop->add_source(g_pipe[0], [callback = std::move(on_signal)] {
        unsigned char byte = 0;
        while (::read(g_pipe[0], &byte, 1) == 1) callback(byte);
    });
    return true;
}

}  // namespace vgps
