// The renderer on the gallery's screens (a device list and an inspector made
// of every kind of toolkit view): what each line of the terminal holds.
#include "frontend/terminal/view_renderer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <ostream>

#include "frontend/gtk/dev/gallery_screens.h"
#include "ui/BTDeviceView.h"
#include "ui/MapViewCell.h"

namespace vgps::term {
namespace {

}  // namespace

void PrintTo(const CellRect& r, std::ostream* os) {
    *os << "{" << r.col << ", " << r.line << ", " << r.cols << ", " << r.lines << "}";
}

namespace {

class ViewRendererTest : public ::testing::Test {
protected:
    void launch(bool alert, int cols = 40, int lines = 30) {
        std::setlocale(LC_CTYPE, "C.UTF-8");
        app.setScreenSize(screen_size_for(cols, lines));
        gallery = std::make_unique<gallery::Gallery>(&app);
        if (alert) gallery->showNotice();
        settle();
        buffer.resize(cols, lines);
    }
    // One turn of the loop: the banner arrives, layout is done.
    void settle() {
        loop.run_until([] { return false; }, std::chrono::milliseconds(5));
        app.displayIfNeeded();
    }
    std::string render() {
        settle();
        renderer.render(app, buffer, buffer.bounds());
        return buffer.text();
    }

    RunLoop loop;
    UIApplication app{&loop};
    std::unique_ptr<gallery::Gallery> gallery;
    ViewRenderer renderer{Glyphs::unicodeSet()};
    ScreenBuffer buffer;
};

TEST_F(ViewRendererTest, TheMainScreenAtFortyByThirty) {
    launch(false);
    EXPECT_EQ(render(),
              "                                        \n"
              "                                        \n"
              "               vexod GPS                \n"
              "                                        \n"
              "                                        \n"
              "                                        \n"
              "  vexod daemon                          \n"
              " ╭────────────────────────────────────╮ \n"
              " │ vexod                   [ ON ● ]   │ \n"
              " │                                    │ \n"
              " ╰────────────────────────────────────╯ \n"
              "       Connected to vexod daemon.       \n"
              "                                        \n"
              "  Devices                               \n"
              " ╭────────────────────────────────────╮ \n"
              " │ ✓   Holux GPSlim 236        ★  (>) │ \n"
              " │     00:0b:0d:88:a1:3c              │ \n"
              " │                                    │ \n"
              " ├────────────────────────────────────┤ \n"
              " │  ⠋  BT-Q1000X                      │ \n"
              " │     00:1c:88:20:51:07              │ \n"
              " ├────────────────────────────────────┤ \n"
              " │ iBlue 747                       ☆  │ \n"
              " │ 00:02:78:11:3e:9a                  │ \n"
              " │                                    │ \n"
              " ├────────────────────────────────────┤ \n"
              " │ Discover more ...                  │ \n"
              " ╰────────────────────────────────────╯ \n"
              "vexod-gps: your Bluetooth GPS receiver,…\n"
              "                                        \n");
    // The bar is painted, titles are bold, descriptions dim, the switch green.
    EXPECT_EQ(buffer.at(0, 1).bg, Color::Blue);
    EXPECT_EQ(buffer.at(15, 2).fg, Color::White);
    EXPECT_EQ(buffer.at(3, 26).ink, kBold);
    EXPECT_EQ(buffer.at(7, 16).ink, kDim);
    EXPECT_EQ(buffer.at(27, 8).fg, Color::Green);
    EXPECT_EQ(buffer.at(3, 15).fg, Color::Green);  // the check mark
    EXPECT_EQ(buffer.at(7, 11).ink, kDim);         // the footer
    EXPECT_EQ(buffer.at(0, 28).bg, Color::Cyan);   // the banner
    EXPECT_TRUE(renderer.spinnersTurning());

    // Where the things to tap were drawn.
    const auto tappables = app.tappables();
    std::vector<CellRect> rects;
    for (const auto& t : tappables) rects.push_back(renderer.drawnRect(t));
    ASSERT_EQ(rects.size(), 9u);  // switch row, switch, three rows, two ribbons, detail, search row
    EXPECT_EQ(rects[0], (CellRect{2, 8, 36, 2}));
    EXPECT_EQ(rects[1], (CellRect{27, 8, 8, 1}));
    EXPECT_EQ(rects[2], (CellRect{2, 15, 36, 3}));
    EXPECT_EQ(tappables[3].kind, UITappable::AccessoryButton);
    EXPECT_EQ(rects[3], (CellRect{34, 15, 3, 1}));
    EXPECT_EQ(rects[4], (CellRect{31, 15, 1, 1}));  // the ribbon
}

TEST_F(ViewRendererTest, NamesFromTheRadioNeverReachTheTerminalAsControlsAndWideOnesAreCutWhole) {
    launch(false);
    render();
    UITableView* table =
        static_cast<UITableViewController*>(gallery->navigation()->viewControllers().front().get())->tableView();
    static_cast<BTDeviceView*>(table->cellForRowAtIndexPath({1, 0}))->setTitle("Evil\x1b]0;owned\x07\nName\xff");
    static_cast<BTDeviceView*>(table->cellForRowAtIndexPath({1, 1}))->setTitle("受信機テスト受信機テスト受信機テスト受信機");
    render();
    for (int l = 0; l < buffer.lines(); ++l) {
        for (int c = 0; c < buffer.cols(); ++c) {
            const char32_t g = buffer.at(c, l).glyph;
            ASSERT_FALSE(g < 0x20 || (g >= 0x7F && g < 0xA0)) << c << "," << l;
        }
    }
    EXPECT_EQ(buffer.lineText(15), " │ ✓   Evil\uFFFD]0;owned\uFFFD Name\uFFFD    ★  (>) │ ");
    // Two columns a character; cut before the column that would split one.
    EXPECT_EQ(buffer.lineText(19), " │  ⠋  受信機テスト受信機テスト受信…  │ ");
    EXPECT_EQ(buffer.at(7, 19).glyph, U'受');
    EXPECT_NE(buffer.at(8, 19).flags & Cell::kWideTail, 0);
}

}  // namespace
}  // namespace vgps::term
