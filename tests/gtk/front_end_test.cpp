// The GTK front-end on a real (virtual) display: each toolkit view has its
// widget at its frame with what it shows, alerts are modal dialogs, and
// screenshots are the window as GTK draws it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "frontend/gtk/GtkFrontEnd.h"
#include "frontend/gtk/dev/gallery_screens.h"
#include "platform/run_loop.h"
#include "support/temp_dir.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIButton.h"
#include "uikit/UILabel.h"
#include "uikit/UISwitch.h"
#include "uikit/UITableView.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;

void walk(UIView* view, const std::function<void(UIView*)>& visit) {
    visit(view);
    for (const auto& sub : view->subviews()) walk(sub.get(), visit);
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
