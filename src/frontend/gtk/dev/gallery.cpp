// vgps-gtk-gallery: the gallery screens in the GTK front-end.
//
//   vgps-gtk-gallery [--inspector] [--notice] [--offline] [--scale S]
//                    [--positions] [--seconds N] [--screenshot PATH] [--dump]
//
// --positions moves the inspector's position once a second; --seconds runs
// that long and then writes the screenshot and the widget dump (else it
// runs until the window is closed).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "frontend/gtk/GtkFrontEnd.h"
#include "frontend/gtk/dev/gallery_screens.h"
#include "platform/run_loop.h"

int main(int argc, char** argv) {
    bool inspector = false, notice = false, positions = false, dump = false;
    double seconds = 0;
    std::string shot;
    vgps::GtkFrontEndOptions options = vgps::GtkFrontEndOptions::fromEnvironment();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--inspector") inspector = true;
        else if (a == "--notice") notice = true;
        else if (a == "--offline") options.offline = true;
        else if (a == "--positions") positions = true;
        else if (a == "--dump") dump = true;
        else if (a == "--scale" && more) options.scale = std::atof(argv[++i]);
        else if (a == "--seconds" && more) seconds = std::atof(argv[++i]);
        else if (a == "--screenshot" && more) shot = argv[++i];
        else {
            std::fprintf(stderr, "vgps-gtk-gallery: unknown argument %s\n", a.c_str());
            return 2;
        }
    }

    vgps::RunLoop* loop = vgps::RunLoop::main();
    vgps::UIApplication app(loop);
    vgps::gallery::Gallery gallery(&app);
    std::string error;
    auto front = vgps::GtkFrontEnd::open(&app, options, &error);
    if (!front) {
        std::fprintf(stderr, "vgps-gtk-gallery: %s\n", error.c_str());
        return 1;
    }
    if (inspector) gallery.pushInspector();
    if (notice) gallery.showNotice();

    // A receiver walking north-east through Munich, one fix a second.
    int step = 0;
    std::function<void()> move = [&] {
        const double lat = 48.117302 + step * 0.00004, lon = 11.516666 + step * 0.00006;
        char utc[32];
        const std::time_t now = std::time(nullptr);
        std::strftime(utc, sizeof utc, "%Y-%m-%d %H:%M:%S", std::gmtime(&now));
        gallery.showPosition(lat, lon, 3, utc);
        ++step;
        if (positions) loop->add_timer(std::chrono::milliseconds(1000), move);
    };
    if (inspector) move();

    front->setCloseHandler([&] { loop->stop(); });
    if (seconds > 0) loop->add_timer(std::chrono::milliseconds(int64_t(seconds * 1000)), [&] { loop->stop(); });
    loop->run();
    front->settle(std::chrono::seconds(5));
    if (!shot.empty() && !front->screenshot(shot, &error)) {
        std::fprintf(stderr, "vgps-gtk-gallery: %s\n", error.c_str());
        return 1;
    }
    if (dump) std::printf("%s\n", vgps::json_line(front->dumpWidgets()).c_str());
    return 0;
}
