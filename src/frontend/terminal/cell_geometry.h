// How the toolkit's points meet a terminal's character cells: every column
// is 8 points wide and every line 16 points high, so a 40 by 30 terminal is
// a 320 by 480 screen. Edges of frames round to the nearest cell boundary;
// a line of text sits on the line that holds the middle of its frame.
#pragma once

#include <algorithm>
#include <cmath>

#include "uikit/CGGeometry.h"

namespace vgps::term {

constexpr double kPointsPerColumn = 8;
constexpr double kPointsPerLine = 16;

// A block of cells: columns [col, col + cols), lines [line, line + lines).
struct CellRect {
    int col = 0, line = 0, cols = 0, lines = 0;

    int right() const { return col + cols; }
    int bottom() const { return line + lines; }
    bool empty() const { return cols <= 0 || lines <= 0; }
    bool contains(int c, int l) const { return c >= col && c < right() && l >= line && l < bottom(); }
    bool operator==(const CellRect&) const = default;

    static CellRect fromEdges(int left, int top, int right, int bottom) {
        return {left, top, std::max(0, right - left), std::max(0, bottom - top)};
    }
    CellRect intersect(const CellRect& o) const {
        return fromEdges(std::max(col, o.col), std::max(line, o.line), std::min(right(), o.right()),
                         std::min(bottom(), o.bottom()));
    }
};

// The cell boundary nearest to a coordinate in points.
inline int column_at(double x) { return static_cast<int>(std::lround(x / kPointsPerColumn)); }
inline int line_at(double y) { return static_cast<int>(std::lround(y / kPointsPerLine)); }

// The cells a frame covers, its edges rounded to the nearest boundaries.
inline CellRect cells_of(const CGRect& r) {
    return CellRect::fromEdges(column_at(CGRectGetMinX(r)), line_at(CGRectGetMinY(r)), column_at(CGRectGetMaxX(r)),
                               line_at(CGRectGetMaxY(r)));
}

// The line holding the middle of a frame: where its one line of text goes.
inline int text_line_of(const CGRect& r) { return static_cast<int>(std::floor(CGRectGetMidY(r) / kPointsPerLine)); }

// The point in the middle of a cell (where a click on it lands).
inline CGPoint point_at_cell(int col, int line) {
    return {(col + 0.5) * kPointsPerColumn, (line + 0.5) * kPointsPerLine};
}

// The screen, in points, of a terminal of that many columns and lines.
inline CGSize screen_size_for(int cols, int lines) {
    return {std::max(0, cols) * kPointsPerColumn, std::max(0, lines) * kPointsPerLine};
}

}  // namespace vgps::term
