// The terminal front-end without the terminal: the screen as a buffer of
// cells and a person's keys and mouse as the toolkit's taps. It keeps a
// highlight on one of the things a finger could tap (Tab, Shift-Tab and
// the arrow keys move it; Enter or space taps it), goes back with Escape
// or Backspace, quits with q or Ctrl-C, taps what a click lands on,
// scrolls with the wheel and the paging keys, and shows the keys on a help
// line at the bottom. TerminalFrontEnd puts it on a real terminal.
#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "frontend/terminal/input_decoder.h"
#include "frontend/terminal/screen_buffer.h"
#include "frontend/terminal/view_renderer.h"
#include "uikit/NSIndexPath.h"
#include "uikit/UIApplication.h"

namespace vgps::term {

class TerminalController {
public:
    // How far a wheel notch or a key past the last tappable scrolls.
    static constexpr double kScrollStep = 3 * kPointsPerLine;

    TerminalController(UIApplication* app, const Glyphs& glyphs);

    // The terminal's size: the application's screen follows it (8 points a
    // column, 16 a line).
    void setSize(int cols, int lines);
    int cols() const { return buffer_.cols(); }
    int lines() const { return buffer_.lines(); }

    // Draws the window, the highlight and the help line.
    const ScreenBuffer& render();
    const ScreenBuffer& buffer() const { return buffer_; }

    // Does what the key or click asks.
    void handle(const InputEvent& event);
    // Called when a person asks to quit (q, Ctrl-C).
    void setQuitHandler(std::function<void()> handler) { onQuit_ = std::move(handler); }
    // Ctrl-L asked for the whole terminal to be painted again; cleared by
    // reading it.
    bool takeRepaintRequest();
    // Something only the front-end knows changed (highlight, spinner).
    bool needsRender() const { return needsRender_; }
    void setNeedsRender() { needsRender_ = true; }

    bool spinnersTurning() const { return renderer_.spinnersTurning(); }
    void advanceSpinner();
    void viewsDestroyed(const std::set<UIView::Id>& ids) { renderer_.forgetViews(ids); }

    // The highlighted tappable now, if any.
    std::optional<UITappable> focused();
    const ViewRenderer& renderer() const { return renderer_; }

private:
    // What the highlight is on, so that it stays there across redraws in
    // which the views are made again (rows by their table and index path,
    // or by their view when rows came or went above them).
    struct FocusKey {
        UITappable::Kind kind = UITappable::Control;
        UIView::Id viewId = 0;
        UIView::Id tableId = 0;
        std::optional<NSIndexPath> path;
        std::string className;
        int alertButton = -1;
        CGPoint centre;
    };
    static FocusKey keyOf(const UITappable& tappable);
    static bool sameThing(const FocusKey& a, const FocusKey& b);
    // The index of the highlighted thing in `list`, choosing one when the
    // old one is gone; -1 when the list is empty.
    int focusIndex(const std::vector<UITappable>& list);
    void moveFocus(int step);
    void focusAt(const std::vector<UITappable>& list, int index);
    void activateFocus();
    void goBack();
    // Scrolls the scroll view holding `view` (or the first one in the
    // window); true when it moved.
    bool scroll(UIView* view, double dy);
    std::optional<UITappable> tappableAt(const std::vector<UITappable>& list, int col, int line) const;
    void drawHelpLine();

    UIApplication* app_;
    const Glyphs* glyphs_;
    ViewRenderer renderer_;
    ScreenBuffer buffer_;
    std::optional<FocusKey> focus_;
    std::set<UIView::Id> lastIds_;      // the views of the last list of tappables
    std::vector<FocusKey> remembered_;  // highlights of screens left, newest last
    std::optional<FocusKey> pressed_;   // what a mouse button went down on
    bool kitTouch_ = false;             // the button went down on nothing of ours
    unsigned spinnerFrame_ = 0;
    bool needsRender_ = true;
    bool repaint_ = false;
    std::function<void()> onQuit_;
};

}  // namespace vgps::term
