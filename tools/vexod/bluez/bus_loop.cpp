#include "bluez/bus_loop.h"

#include <poll.h>
#include <time.h>

#include <cstdarg>
#include <cstring>

#include "vexod_log.h"

namespace vexod::bluez {
namespace {

uint64_t monotonic_usec() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

// The handler of a call or a match lives as long as the sd-bus slot that
// calls it: the slot belongs to the connection and frees it when it goes.
int run_handler(sd_bus_message* m, void* userdata, sd_bus_error*) {
    (*static_cast<BusLoop::Handler*>(userdata))(m);
    return 0;
}

void free_handler(void* userdata) { delete static_cast<BusLoop::Handler*>(userdata); }

// Hands the slot to the connection, which frees it (and its handler) after
// the reply, or when it is closed.
void give_slot(sd_bus_slot* slot) {
    sd_bus_slot_set_destroy_callback(slot, free_handler);
    sd_bus_slot_set_floating(slot, 1);
    sd_bus_slot_unref(slot);
}

}  // namespace

BusLoop::BusLoop(vgps::RunLoop* loop) : loop_(loop) {}

BusLoop::~BusLoop() {
    if (timer_) loop_->cancel_timer(timer_);
    watch_.reset();
    if (bus_) sd_bus_close_unref(bus_);
}

bool BusLoop::open_system(std::string* error) {
    const int r = sd_bus_open_system(&bus_);
    if (r < 0) {
        bus_ = nullptr;
        *error = std::string("cannot connect to the system bus: ") + std::strerror(-r);
        return false;
    }
    watch_ = std::make_unique<IoWatch>(loop_, sd_bus_get_fd(bus_), [this](uint32_t) { process(); });
    if (!watch_->valid()) {
        *error = std::string("epoll: ") + std::strerror(errno);
        return false;
    }
    update();
    return true;
}

void BusLoop::process() {
    if (!bus_ || lost_) return;
    processing_ = true;
    int r;
    do {
        r = sd_bus_process(bus_, nullptr);
    } while (r > 0 && !lost_);
    processing_ = false;
    if (r < 0 || !sd_bus_is_open(bus_)) {
        lose(r < 0 ? -r : ECONNRESET);
        return;
    }
    update();
}

void BusLoop::update() {
    if (!bus_ || lost_ || processing_) return;
    const int events = sd_bus_get_events(bus_);
    if (events < 0) {
        lose(-events);
        return;
    }
    watch_->set_events((events & POLLIN ? EPOLLIN : 0u) | (events & POLLOUT ? EPOLLOUT : 0u));

    uint64_t due = UINT64_MAX;
    if (sd_bus_get_timeout(bus_, &due) < 0) due = UINT64_MAX;
    if (due == timer_due_ && (timer_ != 0 || due == UINT64_MAX)) return;
    if (timer_) loop_->cancel_timer(timer_);
    timer_ = 0;
    timer_due_ = due;
    if (due == UINT64_MAX) return;
    const uint64_t now = monotonic_usec();
    const auto delay = std::chrono::milliseconds(due > now ? (due - now + 999) / 1000 : 0);
    timer_ = loop_->add_timer(delay, [this] {
        timer_ = 0;
        timer_due_ = 0;
        process();
    });
}

void BusLoop::lose(int error) {
    if (lost_) return;
    lost_ = true;
    if (timer_) loop_->cancel_timer(timer_);
    timer_ = 0;
    if (watch_) watch_->set_events(0);
    VLOG("system bus connection lost: %s", std::strerror(error));
    auto on_lost = on_lost_;
    if (on_lost) on_lost();
}

bool BusLoop::call(const char* destination, const char* path, const char* interface, const char* member,
                   Handler reply, const char* types, ...) {
    if (!connected()) return false;
    sd_bus_message* m = nullptr;
    int r = sd_bus_message_new_method_call(bus_, &m, destination, path, interface, member);
    if (r >= 0 && types != nullptr) {
        va_list ap;
        va_start(ap, types);
        r = sd_bus_message_appendv(m, types, ap);
        va_end(ap);
    }
    auto* handler = new Handler(std::move(reply));
    sd_bus_slot* slot = nullptr;
    if (r >= 0) r = sd_bus_call_async(bus_, &slot, m, run_handler, handler, 0);
    sd_bus_message_unref(m);
    if (r < 0) {
        delete handler;
        VLOG("cannot call %s.%s on %s: %s", interface, member, path, std::strerror(-r));
        return false;
    }
    give_slot(slot);
    update();
    return true;
}

bool BusLoop::add_match(const std::string& rule, Handler handler) {
    if (!connected()) return false;
    auto* h = new Handler(std::move(handler));
    sd_bus_slot* slot = nullptr;
    const int r = sd_bus_add_match_async(bus_, &slot, rule.c_str(), run_handler, nullptr, h);
    if (r < 0) {
        delete h;
        VLOG("cannot watch %s: %s", rule.c_str(), std::strerror(-r));
        return false;
    }
    give_slot(slot);
    update();
    return true;
}

std::string bus_error_text(sd_bus_message* reply) {
    const sd_bus_error* e = sd_bus_message_get_error(reply);
    if (e == nullptr) return "no error";
    std::string text = e->name ? e->name : "unknown error";
    if (e->message && *e->message) text += std::string(": ") + e->message;
    return text;
}

}  // namespace vexod::bluez
