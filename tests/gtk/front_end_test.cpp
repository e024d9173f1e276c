// The GTK front-end on a real (virtual) display: each toolkit view has its
// widget at its frame with what it shows, changes reach the widgets on the
// next turn, GTK's switch toggles go back to the screen as taps, clicks
// and drags act as a finger, alerts are modal dialogs, the map follows the
// position, and screenshots are the window as GTK draws it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "frontend/gtk/GtkFrontEnd.h"
#include "frontend/gtk/dev/gallery_screens.h"
#include "frontend/gtk/map_view.h"
#include "platform/run_loop.h"
#include "support/temp_dir.h"
#include "tile_server.h"
#include "uikit/MKMapView.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIButton.h"
#include "uikit/UILabel.h"
#include "uikit/UINavigationBar.h"
#include "uikit/UISwitch.h"
#include "uikit/UITableView.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;

void walk(UIView* view, const std::function<void(UIView*)>& visit) {
    visit(view);
    for (const auto& sub : view->subviews()) walk(sub.get(), visit);
}

template <class T>
T* find_view(UIView* root, const std::function<bool(T*)>& match = [](T*) { return true; }) {
    T* found = nullptr;
    walk(root, [&](UIView* v) {
        auto* t = dynamic_cast<T*>(v);
        if (found == nullptr && t != nullptr && match(t)) found = t;
    });
    return found;
}

class GtkFrontEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        if (!gtk_front_end_init(&error)) {
            if (std::getenv("CI") != nullptr) FAIL() << error;
            GTEST_SKIP() << error;
        }
    }

    void open(double scale = 1, GtkFrontEndOptions options = offline()) {
        options.scale = scale;
        std::string error;
        front = GtkFrontEnd::open(&app, options, &error);
        ASSERT_TRUE(front) << error;
        settle();
    }
    void settle() { ASSERT_TRUE(front->settle(10s)); }
    static GtkFrontEndOptions offline() {
        GtkFrontEndOptions options;
        options.offline = true;
        return options;
    }

    std::map<uint64_t, JSON> widgets() {
        std::map<uint64_t, JSON> out;
        const JSON dump = front->dumpWidgets();
        for (const JSON& w : dump["widgets"]) out[w["id"].get<uint64_t>()] = w;
        return out;
    }

    // The centre of a view, in the window's pixels.
    std::pair<double, double> pixelCentre(UIView* view, double scale = 1) {
        const CGRect f = view->windowFrame();
        return {CGRectGetMidX(f) * scale, (CGRectGetMidY(f) - UIScreen::kStatusBarHeight) * scale};
    }
    void click(UIView* view) {
        auto [x, y] = pixelCentre(view);
        front->pointerPressed(x, y);
        front->pointerReleased(x, y);
        settle();
    }

    RunLoop loop;
    UIApplication app{&loop};
    gallery::Gallery gallery{&app};
    std::unique_ptr<GtkFrontEnd> front;
};

// Every view in the window has a widget, placed where the toolkit says,
// showing the view's text, at any scale.
void expect_widgets_match_views(UIWindow* window, const std::map<uint64_t, JSON>& widgets, double scale) {
    size_t views = 0;
    walk(window, [&](UIView* v) {
        ++views;
        auto it = widgets.find(v->viewId());
        ASSERT_NE(it, widgets.end()) << v->className() << " " << v->viewId();
        const JSON& w = it->second;
        EXPECT_EQ(w["class"], v->className());
        bool shown = true;
        for (UIView* up = v; up != nullptr; up = up->superview()) shown = shown && !up->isHidden();
        EXPECT_EQ(w["mapped"].get<bool>(), shown) << v->className() << " " << v->viewId();
        if (!shown) return;
        const CGRect f = v->windowFrame();
        const double expected[4] = {f.origin.x, f.origin.y, f.size.width, f.size.height};
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(w["frame"][i].get<double>(), expected[i], 1.0 / scale + 1e-9)
                << v->className() << " " << v->viewId() << " " << w.dump();
        }
        if (auto* label = dynamic_cast<UILabel*>(v)) {
            EXPECT_EQ(w["gtk"], "GtkLabel");
            EXPECT_EQ(w["text"], label->text().value_or(""));
        } else if (auto* sw = dynamic_cast<UISwitch*>(v)) {
            EXPECT_EQ(w["gtk"], "GtkSwitch");
            EXPECT_EQ(w["on"], sw->isOn());
        } else if (auto* button = dynamic_cast<UIButton*>(v)) {
            EXPECT_EQ(w["gtk"], "GtkButton");
            EXPECT_EQ(w["text"], button->currentTitle() ? JSON(*button->currentTitle()) : JSON(nullptr));
            EXPECT_EQ(w["image"], button->currentImage() != nullptr);
        } else if (auto* table = dynamic_cast<UITableView*>(v)) {
            const auto sections = table->sectionLayouts();
            ASSERT_EQ(w["sections"].size(), sections.size());
            for (size_t s = 0; s < sections.size(); ++s) {
                EXPECT_EQ(w["sections"][s]["header"], sections[s].header ? JSON(*sections[s].header) : JSON(nullptr));
                EXPECT_EQ(w["sections"][s]["footer"], sections[s].footer ? JSON(*sections[s].footer) : JSON(nullptr));
            }
        }
    });
    EXPECT_EQ(widgets.size(), views);
}

TEST_F(GtkFrontEndTest, EveryViewHasItsWidgetAtItsScaledFrameShowingWhatItShows) {
    open(1.5);
    const JSON dump = front->dumpWidgets();
    EXPECT_EQ(dump["window"]["width"], 480);
    EXPECT_EQ(dump["window"]["height"], 690);  // the screen below the status bar
    EXPECT_EQ(app.mainScreen()->bounds().size, CGSizeMake(320, 480));
    expect_widgets_match_views(gallery.window(), widgets(), 1.5);

    gallery.pushInspector();
    gallery.showPosition(48.117302, 11.516666, 3, "2024-05-01 10:00:00");
    settle();
    expect_widgets_match_views(gallery.window(), widgets(), 1.5);
}

TEST_F(GtkFrontEndTest, ResizingTheWindowResizesTheScreen) {
    open();
    // The window's size counts its header bar and the theme's borders: the
    // screen is what is left of it below them.
    const int w = gtk_widget_get_width(GTK_WIDGET(front->window()));
    const int h = gtk_widget_get_height(GTK_WIDGET(front->window()));
    gtk_window_set_default_size(front->window(), w + 80, h + 120);
    EXPECT_TRUE(loop.run_until([&] { return app.mainScreen()->bounds().size.width > 380; }, 10s));
    settle();
    const JSON window = front->dumpWidgets()["window"];
    EXPECT_EQ(app.mainScreen()->bounds().size,
              CGSizeMake(window["width"].get<double>(), window["height"].get<double>() + 20));
    EXPECT_GT(window["height"].get<double>(), 560);
    expect_widgets_match_views(gallery.window(), widgets(), 1);
}

TEST_F(GtkFrontEndTest, ChangesReachTheirWidgetsAndGoneViewsTakeTheirWidgetsWith) {
    open();
    // The widget of every view, as made at the start.
    std::map<uint64_t, GtkWidget*> before;
    for (const auto& [id, w] : widgets()) before[id] = front->widgetForView(id);
    UILabel* title = gallery.navigation()->navigationBar()->titleLabel();
    title->setText(std::string("Renamed"));
    settle();
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(front->widgetForView(title->viewId()))), "Renamed");
    for (const auto& [id, widget] : before) EXPECT_EQ(front->widgetForView(id), widget) << id;

    gallery.pushInspector();
    settle();
    std::set<uint64_t> inspectorViews;
    walk(gallery.inspector()->view(), [&](UIView* v) { inspectorViews.insert(v->viewId()); });
    for (uint64_t id : inspectorViews) EXPECT_NE(front->widgetForView(id), nullptr);
    gallery.navigation()->popViewControllerAnimated(true);
    settle();
    settle();  // the popped screen goes on the turn after
    for (uint64_t id : inspectorViews) EXPECT_EQ(front->widgetForView(id), nullptr) << id;
    EXPECT_EQ(widgets().size(), before.size());
}

TEST_F(GtkFrontEndTest, AlertsAreModalDialogsThatGoWithTheirButton) {
    open();
    EXPECT_EQ(front->alertDialog(), nullptr);
    gallery.showNotice();
    UIAlertView::initWithTitle_message_delegate_cancelButtonTitle_otherButtonTitles("Second", std::nullopt, nullptr,
                                                                                    "OK", {"Again"})
        ->show();
    settle();
    GtkWindow* dialog = front->alertDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(gtk_window_get_modal(dialog));
    EXPECT_EQ(gtk_window_get_transient_for(dialog), front->window());
    JSON alert = front->dumpWidgets()["alert"];
    EXPECT_EQ(alert["texts"], JSON::array({"Notice", "This demonstration only checks that the receiver works with "
                                                     "the application."}));
    EXPECT_EQ(alert["buttons"], JSON::array({"Dismiss"}));
    EXPECT_TRUE(alert["mapped"].get<bool>());

    // Its button: the next alert comes, with two buttons side by side.
    GtkWidget* box = gtk_window_get_child(dialog);
    GtkWidget* buttons = gtk_widget_get_last_child(box);
    g_signal_emit_by_name(gtk_widget_get_first_child(buttons), "clicked");
    settle();
    ASSERT_NE(front->alertDialog(), nullptr);
    alert = front->dumpWidgets()["alert"];
    EXPECT_EQ(alert["texts"], JSON::array({"Second"}));
    EXPECT_EQ(alert["buttons"], JSON::array({"OK", "Again"}));
    ASSERT_EQ(app.alerts().size(), 1u);

    // Closing the dialog is its cancel button; then no dialog is left.
    gtk_window_close(front->alertDialog());
    settle();
    EXPECT_EQ(front->alertDialog(), nullptr);
    EXPECT_TRUE(app.alerts().empty());
    EXPECT_TRUE(front->dumpWidgets()["alert"].is_null());
}

TEST_F(GtkFrontEndTest, ClicksAreTapsAndDragsScroll) {
    open();
    auto* table = find_view<UITableView>(gallery.window());
    UITableViewCell* device = table->cellForRowAtIndexPath({1, 0});
    ASSERT_NE(device, nullptr);
    // A press highlights the row; the release selects it.
    auto [x, y] = pixelCentre(device);
    front->pointerPressed(x, y);
    settle();
    EXPECT_TRUE(device->isHighlighted());
    EXPECT_TRUE(widgets()[device->viewId()]["highlighted"].get<bool>());
    front->pointerReleased(x, y);
    settle();
    ASSERT_NE(gallery.inspector(), nullptr);

    // The inspector's table is taller than the screen: a drag scrolls it
    // and selects nothing.
    UITableView* inspectorTable = gallery.inspector()->tableView();
    UITableViewCell* row = inspectorTable->cellForRowAtIndexPath({0, 1});
    std::tie(x, y) = pixelCentre(row);
    front->pointerPressed(x, y);
    front->pointerMoved(0, -20);
    front->pointerMoved(0, -100);
    front->pointerReleased(x, y - 100);
    settle();
    EXPECT_EQ(inspectorTable->contentOffset().y, inspectorTable->maximumContentOffset().y);
    EXPECT_GT(inspectorTable->contentOffset().y, 0);
    EXPECT_FALSE(inspectorTable->indexPathForSelectedRow().has_value());
    EXPECT_FALSE(row->isHighlighted());
    // The widgets moved with the content.
    const JSON w = widgets()[row->viewId()];
    EXPECT_NEAR(w["frame"][1].get<double>(), row->windowFrame().origin.y, 1);

    // The back button pops the inspector.
    click(gallery.navigation()->navigationBar()->backButton());
    EXPECT_EQ(gallery.inspector(), nullptr);
}

TEST_F(GtkFrontEndTest, TheMapFollowsThePositionWithAPurplePinAndItsCallout) {
    open();
    gallery.pushInspector();
    settle();
    auto* map = find_view<MKMapView>(gallery.window());
    ASSERT_NE(map, nullptr);
    for (auto [lat, lon, subtitle] : {std::tuple{48.117302, 11.516666, "48.117302 - 11.516666"},
                                      std::tuple{-33.868800, 151.209300, "-33.868800 - 151.209300"}}) {
        gallery.showPosition(lat, lon, 3, "12:00:00");
        settle();
        const JSON m = widgets()[map->viewId()]["map"];
        EXPECT_NEAR(m["center"][0].get<double>(), lat, 1e-6);
        EXPECT_NEAR(m["center"][1].get<double>(), lon, 1e-6);
        const CGSize size = map->bounds().size;
        EXPECT_NEAR(m["zoom"].get<double>(), gtkfe::zoom_for_region(map->region(), size.width, size.height), 1e-9);
        EXPECT_EQ(m["tiles"], "offline");
        EXPECT_TRUE(m["attribution"].is_null());
        ASSERT_EQ(m["pins"].size(), 1u);
        EXPECT_EQ(m["pins"][0]["color"], "purple");
        EXPECT_EQ(m["pins"][0]["title"], "Current Location");
        EXPECT_EQ(m["pins"][0]["subtitle"], subtitle);
        EXPECT_TRUE(m["pins"][0]["callout"].get<bool>());
        EXPECT_NEAR(m["pins"][0]["coordinate"][0].get<double>(), lat, 1e-9);
    }
}

// A PNG's pixels, each 0xAARRGGBB.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
    size_t colours() const { return std::set<uint32_t>(pixels.begin(), pixels.end()).size(); }
};

Picture load_png(const std::string& path) {
    Picture p;
    GError* error = nullptr;
    GdkTexture* texture = gdk_texture_new_from_filename(path.c_str(), &error);
    if (texture == nullptr) {
        ADD_FAILURE() << error->message;
        g_error_free(error);
        return p;
    }
    p.width = gdk_texture_get_width(texture);
    p.height = gdk_texture_get_height(texture);
    p.pixels.resize(size_t(p.width) * size_t(p.height));
    gdk_texture_download(texture, reinterpret_cast<guchar*>(p.pixels.data()), size_t(p.width) * 4);
    g_object_unref(texture);
    return p;
}

TEST_F(GtkFrontEndTest, OnlineTheMapShowsTheServersTilesAndItsAttribution) {
    test::TempDir dir;
    test::TileServer server;
    GtkFrontEndOptions options;
    options.tileUrl = server.urlTemplate();
    options.cacheDir = dir.file("tiles");
    open(1, options);
    gallery.pushInspector();
    gallery.showPosition(48.117302, 11.516666, 3, "12:00:00");
    settle();
    auto* map = find_view<MKMapView>(gallery.window());
    const JSON m = widgets()[map->viewId()]["map"];
    EXPECT_EQ(m["tiles"], "online");
    EXPECT_EQ(m["attribution"], "© OpenStreetMap contributors");
    // A corner of the map, clear of the pin and the banner, turns the
    // tiles' red once they came.
    const CGRect f = map->windowFrame();
    const int x = int(f.origin.x) + 20, y = int(f.origin.y - UIScreen::kStatusBarHeight) + 100;
    std::string error;
    bool red = false;
    for (int attempt = 0; attempt < 50 && !red; ++attempt) {
        settle();
        ASSERT_TRUE(front->screenshot(dir.file("map.png"), &error)) << error;
        const uint32_t pixel = load_png(dir.file("map.png")).at(x, y);
        red = ((pixel >> 16) & 0xff) > 200 && ((pixel >> 8) & 0xff) < 60 && (pixel & 0xff) < 60;
        if (!red) loop.run_until([] { return false; }, 100ms);
    }
    EXPECT_TRUE(red);
    EXPECT_FALSE(server.requests().empty());
}

TEST_F(GtkFrontEndTest, AScreenshotIsTheWindowAsGtkDrawsIt) {
    open(2);
    test::TempDir dir;
    std::string error;
    ASSERT_TRUE(front->screenshot(dir.file("main.png"), &error)) << error;
    const Picture shot = load_png(dir.file("main.png"));
    EXPECT_EQ(shot.width, 640);
    EXPECT_EQ(shot.height, 920);
    EXPECT_GT(shot.colours(), 50u);  // text, the switch, the banner: not a blank

    // With an alert up, its dialog is in the picture, over a dimmed window.
    const uint32_t corner = shot.at(2, 2);
    gallery.showNotice();
    settle();
    ASSERT_TRUE(front->screenshot(dir.file("alert.png"), &error)) << error;
    const Picture alert = load_png(dir.file("alert.png"));
    EXPECT_LT(alert.at(2, 2) & 0xff, corner & 0xff);

    // A folder that is not there: an error, and no file.
    EXPECT_FALSE(front->screenshot(dir.file("missing/main.png"), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(g_file_test(dir.file("missing").c_str(), G_FILE_TEST_EXISTS));
}

}  // namespace
}  // namespace vgps
