// An sd-bus connection served by the run loop. Its socket is watched for
// what sd-bus asks for (sd_bus_get_events), its next time-out (method call
// replies that do not come) is a run-loop timer (sd_bus_get_timeout), and
// sd_bus_process runs until it has nothing left to do. Nothing here blocks:
// every call to a remote object is made with the asynchronous forms and
// answered through a callback on the run loop.
#pragma once

#include <systemd/sd-bus.h>

#include <functional>
#include <memory>
#include <string>

#include "bluez/io_watch.h"
#include "platform/run_loop.h"

namespace vexod::bluez {

class BusLoop {
public:
    explicit BusLoop(vgps::RunLoop* loop);
    // Closes the connection without flushing what is still queued.
    ~BusLoop();
    BusLoop(const BusLoop&) = delete;
    BusLoop& operator=(const BusLoop&) = delete;

    // Connects to the system bus: DBUS_SYSTEM_BUS_ADDRESS when it is set,
    // else the system's own. The connection completes on the run loop.
    bool open_system(std::string* error);
    sd_bus* bus() const { return bus_; }

    // Makes the watch and the timer follow what sd-bus wants now. To be
    // called after queuing a message outside of a bus callback (inside one,
    // the processing that runs the callback does it afterwards).
    void update();

    // Handles a reply (a method return or an error) or a signal.
    using Handler = std::function<void(sd_bus_message* message)>;

    // Calls a method of a remote object, its arguments as sd_bus_message_append
    // takes them; `reply` gets the answer on the run loop (an error reply
    // when none comes within sd-bus's time-out), never after this loop is
    // destroyed. False, with nothing called, when the call cannot be queued.
    bool call(const char* destination, const char* path, const char* interface, const char* member, Handler reply,
              const char* types, ...);
    // Asks the bus for the signals that match `rule` and hands each to
    // `handler`. False when the rule cannot be queued.
    bool add_match(const std::string& rule, Handler handler);

    // Called once when the connection is lost (the bus daemon went away).
    void set_on_lost(std::function<void()> on_lost) { on_lost_ = std::move(on_lost); }
    bool connected() const { return bus_ != nullptr && !lost_; }

private:
    void process();
    void lose(int error);

    vgps::RunLoop* loop_;
    sd_bus* bus_ = nullptr;
    std::unique_ptr<IoWatch> watch_;
    vgps::RunLoop::TimerId timer_ = 0;
    uint64_t timer_due_ = 0;  // the sd-bus time-out the timer stands for
    bool processing_ = false;
    bool lost_ = false;
    std::function<void()> on_lost_;
};

// The "<name>: <message>" of a failed method call, for log lines.
std::string bus_error_text(sd_bus_message* reply);

}  // namespace vexod::bluez
