// vexod-gps --gtk as a process against the real vexod, on a virtual display
// with the map offline: a script walks the road of a position and the
// window's widget dumps are checked against the toolkit's dumps of the same
// moments (every view's widget at its frame with its text, the alert's
// dialog coming and going, the map's centre on the position), screenshots
// are the window's size and not blank; the choice of the window, and the
// application installed into a prefix.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "frontend/gtk/GtkFrontEnd.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "uikit/json_line.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::exited_with;
using test::output_lines;
using test::read_file;
using test::TempDir;
using test::VexodProcess;
using test::write_file;

// One receiver, found by the search, moving from Munich at the daemon's
// fastest pace.
const char* kReceiver = R"({"inquiry": {"end_after_ms": 20}, "link": {"speed": 20}, "devices": [
    {"address": "00:0b:0d:88:a2:3c", "class": "0x001f00", "name": "GPSlim236",
     "services": [{"name": "SPP", "rfcomm_channel": 1}]}]})";

struct AppRun {
    int status = -1;
    std::vector<JSON> out;
    std::string err;
};

AppRun run_app(const TempDir& dir, std::vector<std::string> args, const std::string& script) {
    write_file(dir.file("script"), script);
    ::setenv("VEXOD_GPS_PREFS_DIR", dir.path().c_str(), 1);
    args.push_back("--script");
    args.push_back(dir.file("script"));
    ChildProcess gps(args, dir.file("out"), dir.file("err"));
    AppRun run;
    run.status = gps.wait(60s);
    for (const std::string& line : output_lines(dir.file("out"))) run.out.push_back(JSON::parse(line));
    run.err = read_file(dir.file("err"));
    return run;
}

// Each view of a toolkit dump with its frame in window coordinates, in
// drawing order (depth first), and whether it is shown.
struct KitView {
    JSON view;
    double frame[4];
    bool shown;
};

void flatten(const JSON& view, double x, double y, bool shown, std::vector<KitView>& out) {
    const JSON& f = view["frame"];
    KitView k{view, {x + f[0].get<double>(), y + f[1].get<double>(), f[2].get<double>(), f[3].get<double>()},
              shown && !view["hidden"].get<bool>()};
    out.push_back(k);
    double ox = 0, oy = 0;
    if (view.contains("offset")) {
        ox = view["offset"][0].get<double>();
        oy = view["offset"][1].get<double>();
    }
    for (const auto& sub : view["subviews"]) flatten(sub, k.frame[0] - ox, k.frame[1] - oy, k.shown, out);
}

// The widgets of a "widgets" line stand for the toolkit's views of the same
// moment, one for one: class, frame and text.
void expect_widgets_match_toolkit(const JSON& line) {
    std::vector<KitView> kit;
    flatten(line["toolkit"]["window"], 0, 0, true, kit);
    const JSON& widgets = line["gtk"]["widgets"];
    ASSERT_EQ(widgets.size(), kit.size());
    for (size_t i = 0; i < kit.size(); ++i) {
        const JSON& w = widgets[i];
        const KitView& k = kit[i];
        ASSERT_EQ(w["class"], k.view["class"]) << i;
        EXPECT_EQ(w["mapped"].get<bool>(), k.shown) << w.dump();
        if (!k.shown) continue;
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(w["frame"][j].get<double>(), k.frame[j], 1.0) << w.dump();
        if (k.view["class"] == "UILabel") {
            EXPECT_EQ(w["text"], k.view["text"].is_null() ? JSON("") : k.view["text"]);
        }
        if (k.view["class"] == "UISwitch") {
            EXPECT_EQ(w["on"], k.view["on"]);
        }
        if (k.view["class"] == "MKMapView") {
            EXPECT_NEAR(w["map"]["center"][0].get<double>(), k.view["center"][0].get<double>(), 1e-6);
            EXPECT_NEAR(w["map"]["center"][1].get<double>(), k.view["center"][1].get<double>(), 1e-6);
        }
    }
}

JSON widget_of(const JSON& line, const std::string& cls) {
    for (const auto& w : line["gtk"]["widgets"]) {
        if (w["class"] == cls) return w;
    }
    return JSON();
}

class WindowAppTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
            if (std::getenv("CI") != nullptr) FAIL() << "no display";
            GTEST_SKIP() << "no display";
        }
    }
    TempDir dir;
};

TEST_F(WindowAppTest, TheRoadOfAPositionInTheWindow) {
    VexodProcess vexod(VEXOD_BINARY, dir.path(), kReceiver);
    const std::string shots = dir.path();
    // The device row stands at 164 to 218 points of the window; the click
    // is at its middle, 20 points of status bar above the window's pixels.
    const AppRun run = run_app(dir, {VEXOD_GPS_BINARY, "--gtk", "--offline", "--socket", vexod.socket_path()},
                            "wait-for \"Skyvane GPS Demo\"\n"
                            "widgets\n"
                            "screenshot " + shots + "/notice.png\n"
                            "dismiss\n"
                            "widgets\n"
                            "tap-row 1 0\n"
                            "wait-for \"Tap on one device to connect.\" 15\n"
                            "widgets\n"
                            "click 160 171\n"
                            "wait-for \"GPS Inspector\" 15\n"
                            "wait-for 3D 15\n"
                            "widgets\n"
                            "wait 1\n"
                            "widgets\n"
                            "screenshot " + shots + "/inspector.png\n");
    ASSERT_TRUE(exited_with(run.status, 0)) << run.err;
    ASSERT_EQ(run.out.size(), 5u) << run.err;
    for (const JSON& line : run.out) expect_widgets_match_toolkit(line);

    // The notice is a modal dialog, gone once dismissed.
    const JSON& notice = run.out[0]["gtk"]["alert"];
    ASSERT_TRUE(notice.is_object());
    EXPECT_EQ(notice["texts"][0], "Skyvane GPS Demo");
    EXPECT_EQ(notice["buttons"], JSON::array({"Dismiss"}));
    EXPECT_TRUE(notice["modal"].get<bool>());
    EXPECT_TRUE(run.out[1]["gtk"]["alert"].is_null());

    // The map follows the receiver: a purple pin with its callout on the
    // position, the map centred there, and later somewhere else.
    const JSON first = widget_of(run.out[3], "MKMapView")["map"];
    const JSON later = widget_of(run.out[4], "MKMapView")["map"];
    ASSERT_EQ(first["pins"].size(), 1u);
    EXPECT_EQ(first["pins"][0]["color"], "purple");
    EXPECT_EQ(first["pins"][0]["title"], "Current Location");
    EXPECT_EQ(first["pins"][0]["coordinate"], first["center"]);
    EXPECT_NE(later["center"], first["center"]);
    EXPECT_EQ(first["tiles"], "offline");

    // The header's subtitle tells of the link only while the inspector is
    // up; this receiver speaks GP, which is decoded.
    EXPECT_EQ(run.out[0]["gtk"]["window"]["subtitle"], "");
    EXPECT_EQ(run.out[4]["gtk"]["window"]["subtitle"].get<std::string>().rfind("receiving GP sentences", 0), 0u)
        << run.out[4]["gtk"]["window"];

    for (const char* name : {"notice.png", "inspector.png"}) {
        GError* error = nullptr;
        GdkTexture* texture = gdk_texture_new_from_filename((shots + "/" + name).c_str(), &error);
        ASSERT_NE(texture, nullptr) << error->message;
        EXPECT_EQ(gdk_texture_get_width(texture), 320);
        EXPECT_EQ(gdk_texture_get_height(texture), 460);
        std::vector<uint32_t> pixels(320 * 460);
        gdk_texture_download(texture, reinterpret_cast<guchar*>(pixels.data()), 320 * 4);
        g_object_unref(texture);
        EXPECT_GT(std::set<uint32_t>(pixels.begin(), pixels.end()).size(), 50u) << name;
    }
}

TEST_F(WindowAppTest, TheHeaderSaysWhyTheInspectorShowsNoFix) {
    // A GPS/GLONASS receiver that reports its fix under the GN and GL
    // talkers only (a real capture, an epoch every two seconds).
    VexodProcess vexod(VEXOD_BINARY, dir.path(), R"({"link": {"speed": 0.5}, "devices": [
        {"address": "00:1b:c1:47:11:06", "class": "0x001f00", "name": "GNSS Mouse", "inquiry_delay_ms": 50,
         "services": [{"name": "Serial Port", "rfcomm_channel": 1}],
         "nmea_file": ")" + std::string(VGPS_TEST_DATA_DIR) + R"(/nmea/ch-4711.log"}]})");
    const AppRun run = run_app(dir, {VEXOD_GPS_BINARY, "--gtk", "--offline", "--socket", vexod.socket_path()},
                               "wait-for \"Skyvane GPS Demo\"\n"
                               "dismiss\n"
                               "tap-row 1 0\n"
                               "wait-for \"GNSS Mouse\" 15\n"
                               "tap-row 1 0\n"
                               "wait-for \"GPS Inspector\" 15\n"
                               "wait 2.5\n"
                               "widgets\n"
                               "back\n"
                               "wait 1.5\n"
                               "widgets\n");
    ASSERT_TRUE(exited_with(run.status, 0)) << run.err;
    ASSERT_EQ(run.out.size(), 2u) << run.err;
    const std::string subtitle = run.out[0]["gtk"]["window"]["subtitle"];
    EXPECT_EQ(subtitle.rfind("receiving GN", 0), 0u) << subtitle;
    EXPECT_NE(subtitle.find("sentences: this build decodes GP only"), std::string::npos) << subtitle;
    EXPECT_NE(run.out[0]["toolkit"].dump().find("Fix not available"), std::string::npos);
    // Back on the main screen the subtitle is gone while the link goes on;
    // the screen keeps its size all along.
    EXPECT_EQ(run.out[1]["gtk"]["window"]["subtitle"], "");
    for (const JSON& line : run.out) {
        EXPECT_EQ(line["gtk"]["window"]["width"], 320);
        EXPECT_EQ(line["gtk"]["window"]["height"], 460);
    }
}

TEST_F(WindowAppTest, WithoutATerminalADisplayMeansTheWindow) {
    // ctest gives the program no terminal: with a display it opens the
    // window (whose own commands the script may then use)...
    AppRun run = run_app(dir, {VEXOD_GPS_BINARY, "--socket", dir.file("none")}, "widgets\nscreenshot " + dir.file("s.png"));
    EXPECT_TRUE(exited_with(run.status, 0)) << run.err;
    ASSERT_EQ(run.out.size(), 1u);
    EXPECT_EQ(run.out[0]["gtk"]["window"]["width"], 320);
    EXPECT_TRUE(g_file_test(dir.file("s.png").c_str(), G_FILE_TEST_EXISTS));

    // ... and without one there is none to choose, and --gtk cannot open.
    const std::string display = std::getenv("DISPLAY") != nullptr ? std::getenv("DISPLAY") : "";
    const std::string wayland = std::getenv("WAYLAND_DISPLAY") != nullptr ? std::getenv("WAYLAND_DISPLAY") : "";
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    const AppRun none = run_app(dir, {VEXOD_GPS_BINARY, "--socket", dir.file("none")}, "dump\n");
    const AppRun forced = run_app(dir, {VEXOD_GPS_BINARY, "--gtk", "--socket", dir.file("none")}, "dump\n");
    if (!display.empty()) ::setenv("DISPLAY", display.c_str(), 1);
    if (!wayland.empty()) ::setenv("WAYLAND_DISPLAY", wayland.c_str(), 1);
    EXPECT_TRUE(exited_with(none.status, 2)) << none.err;
    EXPECT_NE(none.err.find("no display is named"), std::string::npos) << none.err;
    EXPECT_TRUE(exited_with(forced.status, 1)) << forced.err;
    EXPECT_NE(forced.err.find("vexod-gps: GTK cannot open a display"), std::string::npos) << forced.err;
    EXPECT_TRUE(forced.out.empty());

    // The window's commands are checked with the script, before anything.
    const AppRun bad = run_app(dir, {VEXOD_GPS_BINARY, "--gtk", "--socket", dir.file("none")}, "click 10\n");
    EXPECT_TRUE(exited_with(bad.status, 2)) << bad.err;
    const AppRun headless = run_app(dir, {VEXOD_GPS_BINARY, "--headless", "--socket", dir.file("none")}, "widgets\n");
    EXPECT_TRUE(exited_with(headless.status, 2)) << headless.err;
}

TEST_F(WindowAppTest, InstalledIntoAPrefixItRunsAndDesktopsFindIt) {
    const std::string prefix = dir.file("prefix");
    ChildProcess install({VGPS_CMAKE_COMMAND, "--install", VGPS_BINARY_DIR, "--prefix", prefix}, dir.file("install.out"),
                         dir.file("install.err"));
    ASSERT_TRUE(exited_with(install.wait(120s), 0)) << read_file(dir.file("install.err"));

    const std::string desktop = read_file(prefix + "/share/applications/vexod-gps.desktop");
    EXPECT_NE(desktop.find("\nExec=vexod-gps --gtk\n"), std::string::npos);
    EXPECT_NE(desktop.find("\nIcon=vexod-gps\n"), std::string::npos);
    EXPECT_NE(desktop.find("\nType=Application\n"), std::string::npos);
    EXPECT_TRUE(g_file_test((prefix + "/share/icons/hicolor/scalable/apps/vexod-gps.svg").c_str(), G_FILE_TEST_EXISTS));
    GError* error = nullptr;
    GdkTexture* icon =
        gdk_texture_new_from_filename((prefix + "/share/icons/hicolor/scalable/apps/vexod-gps.svg").c_str(), &error);
    EXPECT_NE(icon, nullptr) << (error != nullptr ? error->message : "");
    if (icon != nullptr) g_object_unref(icon);
    if (error != nullptr) g_error_free(error);

    // The installed program finds its images and texts beside it.
    ::unsetenv("VEXOD_GPS_RESOURCES");
    const AppRun run = run_app(dir, {prefix + "/bin/vexod-gps", "--gtk", "--offline", "--socket", dir.file("none")},
                            "wait-for vexod-gps 5\nwidgets\n");
    EXPECT_TRUE(exited_with(run.status, 0)) << run.err;
    ASSERT_EQ(run.out.size(), 1u);
    bool banner = false;
    for (const auto& w : run.out[0]["gtk"]["widgets"]) {
        if (w["class"] == "UILabel" && w["text"].get<std::string>().rfind("vexod-gps:", 0) == 0) banner = true;
    }
    EXPECT_TRUE(banner);
}

}  // namespace
}  // namespace vgps
