// What the terminal shows, cell by cell, before it goes to the terminal:
// each cell a glyph with its ink (colour, bold, dim, underline) over its
// fill (background colour, reverse video). Box lines that meet in a cell
// merge into one glyph. Texts are made safe on the way in: control
// characters and bytes that are not UTF-8 never reach the terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/terminal/cell_geometry.h"
#include "frontend/terminal/glyphs.h"

namespace vgps::term {

enum Attr : uint8_t { kBold = 1, kDim = 2, kUnderline = 4, kReverse = 8 };

// The terminal's eight colours; Default leaves the terminal's own.
enum class Color : int8_t { Default = -1, Black, Red, Green, Yellow, Blue, Magenta, Cyan, White };

struct Ink {
    Color fg = Color::Default;
    uint8_t attrs = 0;
};

struct Cell {
    static constexpr uint8_t kWideTail = 1;  // right half of a two-column glyph
    static constexpr uint8_t kRounded = 2;   // its box corner is rounded

    char32_t glyph = U' ';
    Color fg = Color::Default;
    Color bg = Color::Default;
    uint8_t ink = 0;    // attributes of the glyph
    uint8_t fill = 0;   // attributes of the background (reverse video)
    uint8_t lines = 0;  // box-line directions through the cell
    uint8_t flags = 0;

    uint8_t attrs() const { return ink | fill; }
    bool operator==(const Cell&) const = default;
};

// Columns a character takes: 1 or 2 (what cannot be shown was replaced).
int glyph_width(char32_t c);
// A text as it may be shown: UTF-8 decoded (bad bytes and control
// characters replaced, zero-width characters dropped, tabs as spaces);
// in ASCII whatever is not ASCII is replaced.
std::u32string display_text(std::string_view utf8, const Glyphs& glyphs);
int text_width(std::u32string_view text);
// The text cut to `cols` columns, ending in an ellipsis when it was cut.
std::u32string fit_text(std::u32string_view text, int cols, const Glyphs& glyphs);
// The text in lines of at most `cols` columns, broken between words where
// it can be, at most `max_lines` (the last one ellipsised when text is left).
std::vector<std::u32string> wrap_text(std::u32string_view text, int cols, int max_lines, const Glyphs& glyphs);
std::string to_utf8(std::u32string_view text);

class ScreenBuffer {
public:
    explicit ScreenBuffer(int cols = 0, int lines = 0) { resize(cols, lines); }

    void resize(int cols, int lines);
    void clear();
    int cols() const { return cols_; }
    int lines() const { return lines_; }
    CellRect bounds() const { return {0, 0, cols_, lines_}; }
    const Cell& at(int col, int line) const { return cells_[index(col, line)]; }
    bool operator==(const ScreenBuffer&) const = default;

    // Paints the background of the cells (and blanks them).
    void fill(const CellRect& rect, Color bg, uint8_t attrs);
    // Adds attributes to what the cells show (dimming, emphasis).
    void addInk(const CellRect& rect, uint8_t attrs);
    // Turns reverse video on where it is off and off where it is on.
    void toggleReverse(const CellRect& rect);
    // Keeps only the glyphs: every colour and attribute goes.
    void stripStyle(const CellRect& rect);

    // One character at a cell, inside `clip`; a wide one that does not fit
    // leaves a blank. Returns the columns it took.
    int putGlyph(int col, int line, char32_t glyph, Ink ink, const CellRect& clip);
    // A text from a cell rightwards, inside `clip`. Returns its width.
    int putText(int col, int line, std::u32string_view text, Ink ink, const CellRect& clip);
    // A text aligned in `span` (its line and columns): 0 left, 1 centre,
    // 2 right; cut with an ellipsis when wider. Returns where it went.
    CellRect putAligned(const CellRect& span, std::u32string_view text, int alignment, Ink ink, const CellRect& clip,
                        const Glyphs& glyphs);
    // Box lines through a cell: directions merge with those already there.
    void addLines(int col, int line, unsigned mask, bool rounded, Ink ink, const CellRect& clip, const Glyphs& glyphs);
    // A box along the edges of `rect`, corners rounded or square.
    void drawBox(const CellRect& rect, bool rounded, Ink ink, const CellRect& clip, const Glyphs& glyphs);
    // A horizontal line across a box's line, joining its sides (├───┤).
    void drawRule(int line, int left, int right, Ink ink, const CellRect& clip, const Glyphs& glyphs);

    // A line as UTF-8 text, without its styles.
    std::string lineText(int line) const;
    // Every line, each ending in a newline.
    std::string text() const;

private:
    size_t index(int col, int line) const { return static_cast<size_t>(line) * static_cast<size_t>(cols_) + col; }
    bool inside(int col, int line, const CellRect& clip) const;
    // Clears a cell for new content, also the other half of a wide glyph
    // it overwrites.
    Cell& take(int col, int line);

    int cols_ = 0, lines_ = 0;
    std::vector<Cell> cells_;
};

}  // namespace vgps::term
