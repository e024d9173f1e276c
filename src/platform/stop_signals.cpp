#include "platform/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

namespace vgps {
namespace {

int g_pipe[2] = {-1, -1};
volatile sig_atomic_t g_received = 0;

void on_stop_signal(int sig) {
    const int saved = errno;
    if (g_received == 0) g_received = sig;
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

void handle(int sig) {
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(sig, &sa, nullptr);
}

}  // namespace

bool watch_stop_signals(RunLoop* loop, std::function<void(int sig)> on_signal) {
    if (g_pipe[0] < 0) {
        if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
        handle(SIGINT);
        handle(SIGTERM);
    }
    loop->add_source(g_pipe[0], [callback = std::move(on_signal)] {
        unsigned char byte = 0;
        while (::read(g_pipe[0], &byte, 1) == 1) callback(byte);
    });
    return true;
}

bool stop_after(std::chrono::milliseconds delay) {
    if (g_pipe[0] < 0 || delay.count() <= 0) return false;
    handle(SIGALRM);
    itimerval timer{};
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(delay);
    timer.it_value.tv_sec = static_cast<time_t>(seconds.count());
    timer.it_value.tv_usec = static_cast<suseconds_t>((delay - seconds).count() * 1000);
    return ::setitimer(ITIMER_REAL, &timer, nullptr) == 0;
}

int stop_signal_received() { return g_received; }

int stop_signal_descriptor() { return g_pipe[0]; }

}  // namespace vgps
