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

TEST_F(ViewRendererTest, AnAlertIsABoxOverTheDimmedWindowWithItsButtonWhereTapsGo) {
    launch(true);
    render();
    // The kit's box (284 points, centred) on lines 9 to 20, a blank column
    // either side; its texts wrapped inside, centred; the button on the
    // line of the kit's button.
    EXPECT_EQ(buffer.lineText(9), "  ╭──────────────────────────────────╮  ");
    EXPECT_EQ(buffer.lineText(11), "  │              Notice              │  ");
    EXPECT_EQ(buffer.lineText(13), "  │  This demonstration only checks  │  ");
    EXPECT_EQ(buffer.lineText(14), "  │ that the receiver works with the │  ");
    EXPECT_EQ(buffer.lineText(15), "  │           application.           │  ");
    EXPECT_EQ(buffer.lineText(18), "  │           [ Dismiss ]            │  ");
    EXPECT_EQ(buffer.lineText(20), "  ╰──────────────────────────────────╯  ");
    EXPECT_EQ(buffer.at(17, 11).ink, kBold);
    const auto tappables = app.tappables();
    ASSERT_EQ(tappables.size(), 1u);
    const CellRect button = renderer.drawnRect(tappables[0]);
    EXPECT_EQ(button, (CellRect{14, 18, 11, 1}));
    // A tap in the middle of the drawn button lands on the kit's button.
    EXPECT_TRUE(CGRectContainsPoint(tappables[0].frame, point_at_cell(button.col + 5, button.line)));
    // Outside the box everything is dimmed and has lost its colours.
    for (int l = 0; l < 30; ++l) {
        for (int c = 0; c < 40; ++c) {
            if (c >= 1 && c < 39 && l >= 9 && l <= 20) continue;  // the box and its margin
            const Cell& cell = buffer.at(c, l);
            ASSERT_TRUE((cell.attrs() & kDim) != 0 && cell.bg == Color::Default && cell.fg == Color::Default)
                << c << "," << l;
        }
    }
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

TEST_F(ViewRendererTest, TheInspectorsValuesAndItsMapInsideTheGroups) {
    launch(false);
    ASSERT_TRUE(app.activate(app.tappables().at(2)));  // the first device row
    render();
    gallery->showPosition(48.117302, 11.518666, 3, "12:34:56");
    render();
    EXPECT_EQ(buffer.lineText(2), " < back      GPS Inspector              ");
    EXPECT_EQ(buffer.lineText(5), " ╭────────────────────────────────────╮ ");
    EXPECT_EQ(buffer.lineText(6), " │ UTC                       12:34:56 │ ");
    EXPECT_EQ(buffer.lineText(7), " ├────────────────────────────────────┤ ");
    EXPECT_EQ(buffer.lineText(11), " │ LON                      11.518666 │ ");
    EXPECT_EQ(buffer.lineText(14), " │ LAT                      48.117302 │ ");
    // The map's group shares its top edge with the values' bottom edge.
    EXPECT_EQ(buffer.lineText(16), " ├────────────────────────────────────┤ ");
    // The region is centred on the position: the pin in the middle of the
    // map row, the callout above it.
    EXPECT_EQ(buffer.at(20, 24).glyph, U'●');
    EXPECT_NE(buffer.lineText(22).find("Current Location"), std::string::npos);
    EXPECT_NE(buffer.lineText(23).find(" 48.117302 - 11.518666 "), std::string::npos);
    EXPECT_EQ(buffer.at(1, 23).glyph, U'│');
    EXPECT_EQ(buffer.at(38, 23).glyph, U'│');
    // The banner's line crosses the map, as the screen places it.
    EXPECT_EQ(buffer.lineText(28), "vexod-gps: your Bluetooth GPS receiver,…");

    // The pin moves: its earlier places make the track.
    auto* map = dynamic_cast<MapViewCell*>(gallery->inspector()->tableView()->cellForRowAtIndexPath({1, 0}));
    ASSERT_NE(map, nullptr);
    map->didLocatedTo({48.1175, 11.5187});
    render();
    const auto* track = renderer.track(map->mapView()->viewId());
    ASSERT_NE(track, nullptr);
    EXPECT_EQ(track->size(), 2u);
    EXPECT_EQ(buffer.at(20, 24).glyph, U'●');
    EXPECT_NE(buffer.lineText(23).find("48.117500 - 11.518700"), std::string::npos);
}

}  // namespace
}  // namespace vgps::term
