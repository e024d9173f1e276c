// The GPS inspector on screen as the application shows it, for the
// benchmarks: the application on its screens with no daemon, and a data
// link that comes up on a socket of the benchmark's own, so the main
// screen opens the inspector; RMC sentences with a new position each.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "link/DaemonManager.h"
#include "platform/fd.h"
#include "platform/log.h"
#include "platform/notification_center.h"
#include "platform/run_loop.h"
#include "ui/GPSInspector.h"
#include "ui/MapViewCell.h"
#include "ui/vexod_gps_trialAppDelegate.h"
#include "uikit/UIApplication.h"

namespace {

[[maybe_unused]] std::string sentence(const std::string& body) {
    unsigned crc = 0;
    for (unsigned char c : body) crc ^= c;
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", crc);
    return "$" + body + tail;
}

// An RMC sentence at 48 degrees 7.xxxx minutes north: a new position for
// each `i` (up to 10,000 apart).
[[maybe_unused]] std::string rmc(uint64_t i, double* minutes) {
    *minutes = 7.0 + static_cast<double>(i % 10000) * 0.0001;
    char body[128];
    std::snprintf(body, sizeof body, "GPRMC,120800.00,A,48%07.4f,N,01131.0000,E,022.4,084.4,150911,003.1,W", *minutes);
    return sentence(body);
}

// The application on its screens, with no daemon; a data link comes up on
// a socket of the benchmark's own, so the main screen opens the inspector.
struct Shown {
    Shown() {
        vgps::set_log_sink([](std::string_view) {});
        char dir[] = "/tmp/vgps-bench.XXXXXX";
        folder = ::mkdtemp(dir);
        path = folder + "/rfcomm";
        manager.setDaemonSocketPath(folder + "/nobody");
        app.setDelegate(&delegate);
        app.launch();
        listen_fd = vgps::listen_local(path, 1);
        manager.connectWithSocketPath_status(path.c_str(), 0);
        peer = ::accept(listen_fd, nullptr, nullptr);
        inspector = dynamic_cast<vgps::GPSInspector*>(delegate.navigationController()->topViewController());
        app.displayIfNeeded();
    }
    ~Shown() {
        manager.disconnectFromDevice();
        if (peer >= 0) ::close(peer);
        ::close(listen_fd);
        ::unlink(path.c_str());
        ::rmdir(folder.c_str());
        vgps::set_log_sink({});
    }
    vgps::MapViewCell* map() const {
        return dynamic_cast<vgps::MapViewCell*>(inspector->tableView()->cellForRowAtIndexPath({1, 0}));
    }
    bool ok() const { return peer >= 0 && inspector != nullptr && map() != nullptr; }

    std::string folder, path;
    vgps::RunLoop loop;
    vgps::UIApplication app{&loop};
    vgps::BTDeviceCache devices;
    vgps::NotificationCenter center;
    vgps::DaemonManager manager{&devices, &center, &loop};
    vgps::vexod_gps_trialAppDelegate delegate{&manager, &center};
    int listen_fd = -1;
    int peer = -1;
    vgps::GPSInspector* inspector = nullptr;
};

}  // namespace
