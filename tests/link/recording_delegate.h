// A DaemonManagerDelegate that records every report as one short text, in
// order ("state 1->3", "initial 1", "show Title|Message", "found <addr>",
// "name <addr> <name> ok|failed", "stopped 1"). With `also_log` each report
// also goes into the log, so log lines and reports can be checked in one list.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/DaemonManager.h"
#include "platform/log.h"

namespace vgps::test {

struct RecordingDelegate : DaemonManagerDelegate {
    std::vector<std::string> events;
    bool also_log = false;

    void add(const std::string& e) {
        events.push_back(e);
        if (also_log) log_error("<%s> %s", "delegate", e.c_str());
    }
    void daemonManager_showTitle_Message(DaemonManager*, const std::string& t, const std::string& m) override {
        add("show " + t + "|" + m);
    }
    void daemonManager_getDeviceName_forDevice_withResult(DaemonManager*, const std::optional<std::string>& name,
                                                          std::shared_ptr<BTDevice> d, bool ok) override {
        add("name " + d->addressString() + " " + (name ? *name : "<none>") + (ok ? " ok" : " failed"));
    }
    void daemonManager_foundNewDevice(DaemonManager*, std::shared_ptr<BTDevice> d) override {
        add("found " + d->addressString());
    }
    void daemonManager_inquiryStopped(DaemonManager*, bool b) override { add(std::string("stopped ") + (b ? "1" : "0")); }
    void daemonManager_stateChangedFrom_To(DaemonManager*, int32_t from, int32_t to) override {
        add("state " + std::to_string(from) + "->" + std::to_string(to));
    }
    void daemonManager_initialStateReterived(DaemonManager*, int32_t s) override { add("initial " + std::to_string(s)); }
};

}  // namespace vgps::test
