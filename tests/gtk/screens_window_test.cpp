// The application's own screens in the GTK window, in this process, against
// the real vexod: what a person does in the window reaches the screens, but
// not while an alert's dialog is up.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "app/screens_fixture.h"
#include "frontend/gtk/GtkFrontEnd.h"
#include "uikit/UISwitch.h"

namespace vgps::test {
namespace {

using namespace std::chrono_literals;

UISwitch* find_switch(UIView* view) {
    if (auto* s = dynamic_cast<UISwitch*>(view)) return s;
    for (const auto& sub : view->subviews()) {
        if (UISwitch* s = find_switch(sub.get())) return s;
    }
    return nullptr;
}

class ScreensInWindowTest : public ScreensTest {
protected:
    void SetUp() override {
        ScreensTest::SetUp();
        std::string error;
        if (!gtk_front_end_init(&error)) {
            if (std::getenv("CI") != nullptr) FAIL() << error;
            GTEST_SKIP() << error;
        }
    }
    void TearDown() override {
        front.reset();
        ScreensTest::TearDown();
    }
    void openWindow() {
        GtkFrontEndOptions options;
        options.offline = true;
        std::string error;
        front = GtkFrontEnd::open(&app, options, &error);
        ASSERT_TRUE(front) << error;
        ASSERT_TRUE(front->settle(10s));
    }
    // A click at the middle of a view, in the window's pixels.
    void clickOn(UIView* view) {
        ASSERT_TRUE(front->settle(10s));
        const CGRect f = view->windowFrame();
        front->click(CGRectGetMidX(f), CGRectGetMidY(f) - UIScreen::kStatusBarHeight);
    }

    std::unique_ptr<GtkFrontEnd> front;
};

TEST_F(ScreensInWindowTest, TheSwitchToggledInTheWindowReachesTheMainScreen) {
    startDaemon("{}");
    launch();
    openWindow();
    UISwitch* sw = find_switch(delegate.window());
    ASSERT_NE(sw, nullptr);
    GtkWidget* widget = front->widgetForView(sw->viewId());
    ASSERT_TRUE(GTK_IS_SWITCH(widget));
    ASSERT_TRUE(gtk_switch_get_active(GTK_SWITCH(widget)));

    // Under the notice's dialog the toolkit takes no tap: the switch stays.
    GtkWindow* dialog = front->alertDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(front->dumpWidgets()["alert"]["texts"][0], "Skyvane GPS Demo");
    gtk_switch_set_active(GTK_SWITCH(widget), FALSE);
    ASSERT_TRUE(front->settle(10s));
    EXPECT_TRUE(sw->isOn());
    EXPECT_TRUE(gtk_switch_get_active(GTK_SWITCH(widget)));
    // The dialog's own button, clicked in GTK, lets the main screen go on.
    GtkWidget* buttons = gtk_widget_get_last_child(gtk_window_get_child(dialog));
    g_signal_emit_by_name(gtk_widget_get_first_child(buttons), "clicked");
    ASSERT_TRUE(front->settle(10s));
    EXPECT_TRUE(app.alerts().empty());
    EXPECT_EQ(front->alertDialog(), nullptr);
    ASSERT_TRUE(loop.run_until([&] { return manager->isConnected(); }, 10s));

    // Off: the main screen drops the daemon connection.
    clickOn(sw);
    ASSERT_TRUE(loop.run_until([&] { return !manager->isConnected(); }, 10s));
    ASSERT_TRUE(front->settle(10s));
    EXPECT_FALSE(sw->isOn());
    EXPECT_FALSE(gtk_switch_get_state(GTK_SWITCH(front->widgetForView(sw->viewId()))));
    // Only the switch's section is left, in the window too.
    EXPECT_EQ(sections_of(dumpNow()).size(), 1u);
    const JSON dump = front->dumpWidgets();
    for (const auto& w : dump["widgets"]) {
        if (w["class"] == "UITableView") {
            EXPECT_EQ(w["sections"].size(), 1u);
        }
    }

    // On again, the keyboard's way (the switch slides over, then toggles):
    // it connects again.
    widget = front->widgetForView(find_switch(delegate.window())->viewId());
    gtk_widget_activate(widget);
    ASSERT_TRUE(loop.run_until([&] { return manager->isConnected(); }, 10s));
    ASSERT_TRUE(front->settle(10s));
    EXPECT_TRUE(gtk_switch_get_state(GTK_SWITCH(front->widgetForView(find_switch(delegate.window())->viewId()))));
}

}  // namespace
}  // namespace vgps::test
