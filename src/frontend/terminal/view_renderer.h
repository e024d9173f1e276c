// Draws a toolkit window into a ScreenBuffer, from its views and their
// frames: the navigation bar, grouped tables as framed groups with their
// headers and footers (one separator line between rows), labels, buttons,
// switches, spinners, images as glyphs, the detail-disclosure button, the
// banner as one line, maps as Braille canvases, and the alert on screen as
// a box over the dimmed window.
//
// Where text goes: a view's columns are its frame's edges rounded to the
// nearest column; its line is the one holding its middle. Inside a table
// row the lines are counted from the row's top, and the row's first line
// is its separator (or the group's top edge), so every row of a kind looks
// the same wherever it stands.
#pragma once

#include <map>
#include <set>
#include <vector>

#include "frontend/terminal/map_canvas.h"
#include "frontend/terminal/screen_buffer.h"
#include "uikit/UIApplication.h"
#include "uikit/UIColor.h"

namespace vgps {
class MKMapView;
class UIAlertView;
class UITableView;
class UITableViewCell;
}  // namespace vgps

namespace vgps::term {

class ViewRenderer {
public:
    static constexpr size_t kTrackLength = 512;

    explicit ViewRenderer(const Glyphs& glyphs) : glyphs_(&glyphs) {}

    const Glyphs& glyphs() const { return *glyphs_; }
    // Draws the key window, then the alert on screen, inside `viewport`
    // (the rest of the buffer is left as it is).
    void render(UIApplication& app, ScreenBuffer& buffer, const CellRect& viewport);

    // Spinners show frame `frame` of their turn.
    void setSpinnerFrame(unsigned frame) { spinnerFrame_ = frame; }
    // A turning spinner was on screen at the last render.
    bool spinnersTurning() const { return turning_; }
    // Where a tappable was drawn at the last render (its frame's cells
    // when it was not drawn by itself).
    CellRect drawnRect(const UITappable& tappable) const;
    // The maps of the last render, by view.
    const std::map<UIView::Id, MapDrawing>& maps() const { return maps_; }
    // The positions a map's pin has been at, oldest first.
    const std::vector<CLLocationCoordinate2D>* track(UIView::Id map) const;
    // Drops what was kept for views that are gone.
    void forgetViews(const std::set<UIView::Id>& destroyed);

private:
    struct Row;
    void drawView(const UIView* view, CGPoint origin, const CellRect& clip, const Row* row);
    void drawTable(const UITableView* table, const CGRect& frame, const CellRect& clip);
    // Returns the block of lines and columns the cell's content uses.
    Row rowOf(const UITableViewCell* cell, const CGRect& frame) const;
    void drawAccessory(const UITableViewCell* cell, const CGRect& frame, const Row& row, const CellRect& clip);
    void drawMap(const MKMapView* map, const CGRect& frame, const CellRect& clip, const Row* row);
    void drawAlert(const UIAlertView& alert, CGSize screen, const CellRect& viewport);
    CellRect spanOf(const CGRect& frame, const Row* row) const;
    Ink inkFor(const UIColor& color, int col, int line, const Row* row) const;
    void putCentredGlyph(const CellRect& span, char32_t glyph, Ink ink, const CellRect& clip, const UIView* view);

    const Glyphs* glyphs_;
    ScreenBuffer* buffer_ = nullptr;
    unsigned spinnerFrame_ = 0;
    bool turning_ = false;
    std::map<UIView::Id, CellRect> drawn_;
    std::map<UIView::Id, CellRect> accessories_;
    std::vector<CellRect> alertButtons_;
    std::map<UIView::Id, MapDrawing> maps_;
    std::map<UIView::Id, std::vector<CLLocationCoordinate2D>> tracks_;
};

}  // namespace vgps::term
