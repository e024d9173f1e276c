// Keys on the gallery's screens, without a terminal: where the highlight
// goes and what gets tapped.
#include "frontend/terminal/terminal_controller.h"

#include <gtest/gtest.h>

#include <clocale>

#include "frontend/gtk/dev/gallery_screens.h"
#include "uikit/UISwitch.h"

namespace vgps::term {
namespace {

using K = InputEvent::Kind;

class TerminalControllerTest : public ::testing::Test {
protected:
    void launch(bool alert, int cols = 40, int lines = 30) {
        std::setlocale(LC_CTYPE, "C.UTF-8");
        controller.setSize(cols, lines);
        gallery = std::make_unique<gallery::Gallery>(&app);
        if (alert) gallery->showNotice();
        app.displayIfNeeded();
        controller.render();
    }
    void press(K kind) {
        InputEvent e;
        e.kind = kind;
        controller.handle(e);
        app.displayIfNeeded();
        controller.render();
    }
    std::string focusedClass() {
        const auto f = controller.focused();
        if (!f) return "none";
        return f->kind == UITappable::AlertButton ? "alert" : f->view->className();
    }
    UITableView* mainTable() {
        return static_cast<UITableViewController*>(gallery->navigation()->viewControllers().front().get())->tableView();
    }
    UISwitch* mainSwitch() {
        UIView* row = mainTable()->cellForRowAtIndexPath({0, 0})->contentView();
        return dynamic_cast<UISwitch*>(row->subviews().back().get());
    }

    RunLoop loop;
    UIApplication app{&loop};
    std::unique_ptr<gallery::Gallery> gallery;
    TerminalController controller{&app, Glyphs::unicodeSet()};
};

TEST_F(TerminalControllerTest, TheHighlightGoesToTheAlertThenComesBackToTheScreenAndWrapsAround) {
    launch(true);
    EXPECT_EQ(focusedClass(), "alert");
    press(K::Escape);  // the alert's cancel button
    EXPECT_EQ(app.visibleAlert(), nullptr);
    EXPECT_EQ(focusedClass(), "SmartCellView");
    // The highlight is drawn in reverse video over the row's content.
    EXPECT_NE(controller.buffer().at(5, 8).attrs() & kReverse, 0);
    EXPECT_EQ(controller.buffer().at(5, 7).attrs() & kReverse, 0);
    press(K::Down);
    EXPECT_EQ(focusedClass(), "UISwitch");
    press(K::Enter);
    EXPECT_FALSE(mainSwitch()->isOn());
    // Round and round: past the search row is the switch's row again.
    press(K::End);
    EXPECT_EQ(focusedClass(), "FindMoreView");
    press(K::Tab);
    EXPECT_EQ(focusedClass(), "SmartCellView");
    press(K::BackTab);
    EXPECT_EQ(focusedClass(), "FindMoreView");
}

}  // namespace
}  // namespace vgps::term
