// Keys and clicks on the demo screens, without a terminal: where the
// highlight goes and what gets tapped.
#include "frontend/terminal/terminal_controller.h"

#include <gtest/gtest.h>

#include <clocale>

#include "demo_screens.h"

namespace vgps::term {
namespace {

using K = InputEvent::Kind;

class TerminalControllerTest : public ::testing::Test {
protected:
    void launch(bool alert, int cols = 40, int lines = 30) {
        std::setlocale(LC_CTYPE, "C.UTF-8");
        delegate = std::make_unique<demo::Delegate>(alert);
        app.setDelegate(delegate.get());
        controller.setSize(cols, lines);
        ASSERT_TRUE(app.launch());
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

    RunLoop loop;
    UIApplication app{&loop};
    std::unique_ptr<demo::Delegate> delegate;
    TerminalController controller{&app, Glyphs::unicodeSet()};
};

TEST_F(TerminalControllerTest, TheHighlightGoesToTheAlertThenComesBackToTheScreenAndWrapsAround) {
    launch(true);
    EXPECT_EQ(focusedClass(), "alert");
    press(K::Escape);  // the alert's cancel button
    EXPECT_EQ(app.visibleAlert(), nullptr);
    EXPECT_EQ(focusedClass(), "SmartCellView");
    // The highlight is drawn in reverse video over the row's content.
    EXPECT_NE(controller.buffer().at(5, 6).attrs() & kReverse, 0);
    EXPECT_EQ(controller.buffer().at(5, 5).attrs() & kReverse, 0);
    press(K::Down);
    EXPECT_EQ(focusedClass(), "UISwitch");
    press(K::Enter);
    EXPECT_FALSE(delegate->root()->globalSwitch()->isOn());
    // One section left: the switch row and the switch; round and round.
    press(K::Tab);
    EXPECT_EQ(focusedClass(), "SmartCellView");
    press(K::BackTab);
    EXPECT_EQ(focusedClass(), "UISwitch");
    press(K::Enter);
    EXPECT_TRUE(delegate->root()->globalSwitch()->isOn());
}

TEST_F(TerminalControllerTest, PushingAndGoingBackKeepsEachScreensHighlight) {
    launch(false);
    // The connecting device's spinner turns, a frame at each tick.
    ASSERT_TRUE(controller.spinnersTurning());
    const char32_t spinner = controller.buffer().at(4, 15).glyph;
    controller.advanceSpinner();
    ASSERT_TRUE(controller.needsRender());
    controller.render();
    EXPECT_NE(controller.buffer().at(4, 15).glyph, spinner);

    press(K::End);
    press(K::Up);
    press(K::Up);
    ASSERT_EQ(controller.focused()->kind, UITappable::AccessoryButton);
    press(K::Enter);
    ASSERT_EQ(delegate->navigation()->viewControllers().size(), 2u);
    EXPECT_EQ(focusedClass(), "SmartCellView");  // the first thing on the new screen
    press(K::Backspace);
    ASSERT_EQ(delegate->navigation()->viewControllers().size(), 1u);
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
    // The switch is drawn at columns 28 to 35 of line 6.
    click(30, 6);
    EXPECT_FALSE(delegate->root()->globalSwitch()->isOn());
    EXPECT_EQ(focusedClass(), "UISwitch");
    click(30, 6);
    EXPECT_TRUE(delegate->root()->globalSwitch()->isOn());
    // Down on the switch, up elsewhere: nothing.
    controller.handle({K::MousePress, 0, 30, 6, 0});
    controller.handle({K::MouseRelease, 0, 10, 6, 0});
    EXPECT_TRUE(delegate->root()->globalSwitch()->isOn());
    // The ribbon of the first device (line 11, column 35).
    click(35, 11);
    EXPECT_FALSE(delegate->root()->device(0).bookmarked);
    // A row's separator line is not drawn as the row, but the kit finds the
    // row under the point.
    click(10, 17);
    EXPECT_EQ(delegate->navigation()->viewControllers().size(), 2u);
}

TEST_F(TerminalControllerTest, PastTheLastThingTheListScrolls) {
    launch(false, 40, 16);
    auto* table = delegate->root()->tableView();
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
