// Keys and clicks on the gallery's screens, without a terminal: where the
// highlight goes and what gets tapped.
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
    void click(int col, int line) {
        controller.handle({K::MousePress, 0, col, line, 0});
        controller.handle({K::MouseRelease, 0, col, line, 0});
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
    size_t screens() { return gallery->navigation()->viewControllers().size(); }

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

TEST_F(TerminalControllerTest, PushingAndGoingBackKeepsEachScreensHighlight) {
    launch(false);
    // The connecting device's spinner turns, a frame at each tick.
    ASSERT_TRUE(controller.spinnersTurning());
    const char32_t spinner = controller.buffer().at(4, 19).glyph;
    controller.advanceSpinner();
    ASSERT_TRUE(controller.needsRender());
    controller.render();
    EXPECT_NE(controller.buffer().at(4, 19).glyph, spinner);

    press(K::Home);
    press(K::Down);
    press(K::Down);
    press(K::Down);
    ASSERT_EQ(controller.focused()->kind, UITappable::AccessoryButton);
    press(K::Enter);
    ASSERT_EQ(screens(), 2u);
    EXPECT_EQ(focusedClass(), "SmartCellView");  // the first thing on the new screen
    press(K::Backspace);
    ASSERT_EQ(screens(), 1u);
    EXPECT_EQ(controller.focused()->kind, UITappable::AccessoryButton);
    // q asks to quit.
    int quits = 0;
    controller.setQuitHandler([&] { ++quits; });
    controller.handle({K::Character, U'q', 0, 0, 0});
    controller.handle({K::Control, 3, 0, 0, 0});
    EXPECT_EQ(quits, 2);
}

TEST_F(TerminalControllerTest, AClickTapsWhatItLandsOnAndSlidingOffTapsNothing) {
    launch(false);
    // The switch is drawn at columns 27 to 34 of line 8.
    click(30, 8);
    EXPECT_FALSE(mainSwitch()->isOn());
    EXPECT_EQ(focusedClass(), "UISwitch");
    click(30, 8);
    EXPECT_TRUE(mainSwitch()->isOn());
    // Down on the switch, up elsewhere: nothing.
    controller.handle({K::MousePress, 0, 30, 8, 0});
    controller.handle({K::MouseRelease, 0, 10, 8, 0});
    EXPECT_TRUE(mainSwitch()->isOn());
    // The ribbon of the first device (line 15, column 31), not its row.
    click(31, 15);
    EXPECT_EQ(focusedClass(), "UIButton");
    EXPECT_EQ(screens(), 1u);
    // A row's separator line is not drawn as the row, but the kit finds the
    // row under the point.
    click(10, 18);
    ASSERT_TRUE(mainTable()->indexPathForSelectedRow().has_value());
    EXPECT_EQ(mainTable()->indexPathForSelectedRow()->row, 1);  // drawn from line 19
}

TEST_F(TerminalControllerTest, PastTheLastThingTheListScrolls) {
    launch(false, 40, 16);
    UITableView* table = mainTable();
    ASSERT_GT(table->contentSize().height, table->bounds().size.height);
    press(K::End);
    press(K::Down);
    EXPECT_GT(table->contentOffset().y, 0);
    // The wheel scrolls back up.
    controller.handle({K::WheelUp, 0, 10, 10, 0});
    controller.handle({K::WheelUp, 0, 10, 10, 0});
    controller.handle({K::WheelUp, 0, 10, 10, 0});
    EXPECT_EQ(table->contentOffset().y, 0);
}

TEST_F(TerminalControllerTest, AStatusTextTakesTheBottomLineWithTheKeysThatStillFit) {
    const std::string verdict = "receiving GN sentences: this build decodes GP only";
    const struct {
        int cols;
        std::string line;
    } cases[] = {
        {120, " " + verdict + "         Tab/Shift-Tab/↑↓ move   Enter/Space tap   Esc back   q quit "},
        {80, " " + verdict + "            Esc back  q quit "},
        {60, " " + verdict + "         "},  // no keys fit beside it
        {30, " receiving GN sentences: this…"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cols);
        launch(false, c.cols, 20);
        controller.setStatusText("");
        controller.render();
        controller.setStatusText(verdict);
        EXPECT_TRUE(controller.needsRender());
        controller.render();
        EXPECT_EQ(controller.buffer().lineText(19), c.line);
        EXPECT_NE(controller.buffer().at(1, 19).attrs() & kBold, 0);
    }
    // Without one, the help line is back.
    controller.setStatusText("");
    controller.render();
    EXPECT_EQ(controller.buffer().lineText(19), "Tab/↑↓ Enter Esc q            ");
}

}  // namespace
}  // namespace vgps::term
