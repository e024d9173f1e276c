#include "frontend/terminal/screen_buffer.h"

#include <cwchar>

#include "platform/text.h"

namespace vgps::term {

int glyph_width(char32_t c) {
    if (c < 0x80) return 1;
    return ::wcwidth(static_cast<wchar_t>(c)) == 2 ? 2 : 1;
}

std::u32string display_text(std::string_view utf8, const Glyphs& glyphs) {
    std::u32string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t c;
        if (!utf8_next(utf8.data(), utf8.size(), &i, &c)) {
            c = 0xFFFD;  // one byte that starts no character
            ++i;
        }
        if (c == U'\t' || c == U'\n' || c == U'\r') {
            c = U' ';
        } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
            c = glyphs.replacement;
        } else if (c >= 0x80) {
            if (!glyphs.unicode) {
                c = glyphs.replacement;
            } else if (c != 0xFFFD) {
                const int w = ::wcwidth(static_cast<wchar_t>(c));
                if (w == 0) continue;  // combining marks and the like
                if (w < 0) c = glyphs.replacement;
            }
        }
        out.push_back(c);
    }
    return out;
}

int text_width(std::u32string_view text) {
    int w = 0;
    for (char32_t c : text) w += glyph_width(c);
    return w;
}

std::u32string fit_text(std::u32string_view text, int cols, const Glyphs& glyphs) {
    if (cols <= 0) return {};
    if (text_width(text) <= cols) return std::u32string(text);
    const int ellipsis = text_width(glyphs.ellipsis);
    if (ellipsis > cols) return std::u32string(glyphs.ellipsis.substr(0, static_cast<size_t>(cols)));
    std::u32string out;
    int w = 0;
    for (char32_t c : text) {
        const int cw = glyph_width(c);
        if (w + cw + ellipsis > cols) break;
        out.push_back(c);
        w += cw;
    }
    while (!out.empty() && out.back() == U' ') out.pop_back();
    return out + glyphs.ellipsis;
}

std::vector<std::u32string> wrap_text(std::u32string_view text, int cols, int max_lines, const Glyphs& glyphs) {
    std::vector<std::u32string> lines;
    if (cols <= 0 || max_lines <= 0) return lines;
    size_t pos = 0;
    while (pos < text.size() && text[pos] == U' ') ++pos;
    while (pos < text.size()) {
        if (static_cast<int>(lines.size()) == max_lines - 1) {
            lines.push_back(fit_text(text.substr(pos), cols, glyphs));
            return lines;
        }
        // As many whole words as fit; a word longer than the line is cut.
        size_t end = pos, last_break = std::u32string_view::npos;
        int w = 0;
        while (end < text.size()) {
            const int cw = glyph_width(text[end]);
            if (w + cw > cols) break;
            if (text[end] == U' ') last_break = end;
            w += cw;
            ++end;
        }
        if (end < text.size() && text[end] != U' ' && last_break != std::u32string_view::npos) end = last_break;
        if (end == pos) end = pos + 1;  // not even one character fits
        std::u32string line(text.substr(pos, end - pos));
        while (!line.empty() && line.back() == U' ') line.pop_back();
        lines.push_back(std::move(line));
        pos = end;
        while (pos < text.size() && text[pos] == U' ') ++pos;
    }
    return lines;
}

std::string to_utf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// --- the buffer

void ScreenBuffer::resize(int cols, int lines) {
    cols_ = std::max(0, cols);
    lines_ = std::max(0, lines);
    cells_.assign(static_cast<size_t>(cols_) * static_cast<size_t>(lines_), Cell{});
}

void ScreenBuffer::clear() { std::fill(cells_.begin(), cells_.end(), Cell{}); }

bool ScreenBuffer::inside(int col, int line, const CellRect& clip) const {
    return clip.contains(col, line) && col >= 0 && line >= 0 && col < cols_ && line < lines_;
}

Cell& ScreenBuffer::take(int col, int line) {
    Cell& cell = cells_[index(col, line)];
    if ((cell.flags & Cell::kWideTail) != 0 && col > 0) {
        Cell& head = cells_[index(col - 1, line)];
        head.glyph = U' ';
    } else if (col + 1 < cols_ && (cells_[index(col + 1, line)].flags & Cell::kWideTail) != 0) {
        Cell& tail = cells_[index(col + 1, line)];
        tail.flags = 0;
        tail.glyph = U' ';
    }
    cell.glyph = U' ';
    cell.lines = 0;
    cell.flags = 0;
    return cell;
}

void ScreenBuffer::fill(const CellRect& rect, Color bg, uint8_t attrs) {
    const CellRect r = rect.intersect(bounds());
    for (int l = r.line; l < r.bottom(); ++l) {
        for (int c = r.col; c < r.right(); ++c) {
            Cell& cell = take(c, l);
            cell.bg = bg;
            cell.fill = attrs;
            cell.fg = Color::Default;
            cell.ink = 0;
        }
    }
}

void ScreenBuffer::addInk(const CellRect& rect, uint8_t attrs) {
    const CellRect r = rect.intersect(bounds());
    for (int l = r.line; l < r.bottom(); ++l) {
        for (int c = r.col; c < r.right(); ++c) cells_[index(c, l)].ink |= attrs;
    }
}

void ScreenBuffer::toggleReverse(const CellRect& rect) {
    const CellRect r = rect.intersect(bounds());
    for (int l = r.line; l < r.bottom(); ++l) {
        for (int c = r.col; c < r.right(); ++c) cells_[index(c, l)].fill ^= kReverse;
    }
}

void ScreenBuffer::stripStyle(const CellRect& rect) {
    const CellRect r = rect.intersect(bounds());
    for (int l = r.line; l < r.bottom(); ++l) {
        for (int c = r.col; c < r.right(); ++c) {
            Cell& cell = cells_[index(c, l)];
            cell.fg = cell.bg = Color::Default;
            cell.ink = cell.fill = 0;
        }
    }
}

int ScreenBuffer::putGlyph(int col, int line, char32_t glyph, Ink ink, const CellRect& clip) {
    if (!inside(col, line, clip)) return 0;
    const int w = glyph_width(glyph);
    if (w == 2 && !inside(col + 1, line, clip)) glyph = U' ';
    Cell& cell = take(col, line);
    cell.glyph = glyph;
    cell.fg = ink.fg;
    cell.ink = ink.attrs;
    if (glyph_width(glyph) == 2) {
        Cell& tail = take(col + 1, line);
        tail.flags = Cell::kWideTail;
        tail.fg = ink.fg;
        tail.ink = ink.attrs;
        return 2;
    }
    return 1;
}

int ScreenBuffer::putText(int col, int line, std::u32string_view text, Ink ink, const CellRect& clip) {
    int x = col;
    for (char32_t c : text) {
        const int w = glyph_width(c);
        if (x + w > clip.right()) break;
        if (x >= clip.col) putGlyph(x, line, c, ink, clip);
        x += w;
    }
    return x - col;
}

CellRect ScreenBuffer::putAligned(const CellRect& span, std::u32string_view text, int alignment, Ink ink,
                                  const CellRect& clip, const Glyphs& glyphs) {
    const CellRect visible = span.intersect(clip);
    if (visible.empty() || text.empty()) return {};
    const std::u32string fitted = fit_text(text, visible.cols, glyphs);
    const int w = text_width(fitted);
    int x = visible.col;
    if (alignment == 1) x += (visible.cols - w) / 2;
    if (alignment == 2) x += visible.cols - w;
    putText(x, visible.line, fitted, ink, clip);
    return {x, visible.line, w, 1};
}

void ScreenBuffer::addLines(int col, int line, unsigned mask, bool rounded, Ink ink, const CellRect& clip,
                            const Glyphs& glyphs) {
    if (!inside(col, line, clip)) return;
    Cell* cell = &cells_[index(col, line)];
    bool round = false;
    if (cell->lines == 0) {
        cell = &take(col, line);
        round = rounded;
    }
    cell->lines = static_cast<uint8_t>(cell->lines | mask);
    cell->flags = round ? Cell::kRounded : 0;
    cell->glyph = glyphs.lineGlyph(cell->lines, round);
    cell->fg = ink.fg;
    cell->ink = ink.attrs;
}

void ScreenBuffer::drawBox(const CellRect& rect, bool rounded, Ink ink, const CellRect& clip, const Glyphs& glyphs) {
    if (rect.cols < 2 || rect.lines < 2) return;
    const int l = rect.col, r = rect.right() - 1, t = rect.line, b = rect.bottom() - 1;
    addLines(l, t, kLineDown | kLineRight, rounded, ink, clip, glyphs);
    addLines(r, t, kLineDown | kLineLeft, rounded, ink, clip, glyphs);
    addLines(l, b, kLineUp | kLineRight, rounded, ink, clip, glyphs);
    addLines(r, b, kLineUp | kLineLeft, rounded, ink, clip, glyphs);
    for (int x = l + 1; x < r; ++x) {
        addLines(x, t, kLineLeft | kLineRight, false, ink, clip, glyphs);
        addLines(x, b, kLineLeft | kLineRight, false, ink, clip, glyphs);
    }
    for (int y = t + 1; y < b; ++y) {
        addLines(l, y, kLineUp | kLineDown, false, ink, clip, glyphs);
        addLines(r, y, kLineUp | kLineDown, false, ink, clip, glyphs);
    }
}

void ScreenBuffer::drawRule(int line, int left, int right, Ink ink, const CellRect& clip, const Glyphs& glyphs) {
    if (right <= left) return;
    addLines(left, line, kLineUp | kLineDown | kLineRight, false, ink, clip, glyphs);
    addLines(right, line, kLineUp | kLineDown | kLineLeft, false, ink, clip, glyphs);
    for (int x = left + 1; x < right; ++x) addLines(x, line, kLineLeft | kLineRight, false, ink, clip, glyphs);
}

std::string ScreenBuffer::lineText(int line) const {
    std::u32string text;
    if (line < 0 || line >= lines_) return {};
    for (int c = 0; c < cols_; ++c) {
        const Cell& cell = at(c, line);
        if ((cell.flags & Cell::kWideTail) == 0) text.push_back(cell.glyph);
    }
    return to_utf8(text);
}

std::string ScreenBuffer::text() const {
    std::string out;
    for (int l = 0; l < lines_; ++l) out += lineText(l) + "\n";
    return out;
}

}  // namespace vgps::term
