#include "frontend/terminal/view_renderer.h"

#include <algorithm>
#include <cmath>

#include "uikit/GADBannerView.h"
#include "uikit/MKMapView.h"
#include "uikit/UIActivityIndicatorView.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIButton.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UINavigationBar.h"
#include "uikit/UISegmentedControl.h"
#include "uikit/UISwitch.h"
#include "uikit/UITableView.h"
#include "uikit/UITableViewCell.h"
#include "uikit/UIWindow.h"

namespace vgps::term {

// The lines and columns of a table row's content.
struct ViewRenderer::Row {
    double top = 0;           // the cell's top edge, window points
    int line0 = 0;            // the line of that edge
    int first = 0, last = 0;  // content lines, both included
    int left = 0, right = 0;  // content columns [left, right)
    int textRight = 0;        // where texts and controls end (a column short of a group's side)
    bool selected = false;
    CellRect content() const { return CellRect::fromEdges(left, first, right, last + 1); }
};

namespace {

constexpr Color kBarColor = Color::Blue;
constexpr Color kSelectionColor = Color::Blue;
constexpr Color kBannerColor = Color::Cyan;

Color nearest_hue(const UIColor& c) {
    const double mx = std::max({c.red, c.green, c.blue});
    const double r = c.red / mx, g = c.green / mx, b = c.blue / mx;
    // The primaries and their mixes, by which components are strong.
    const bool R = r > 0.6, G = g > 0.6, B = b > 0.6;
    if (R && G && !B) return Color::Yellow;
    if (R && B && !G) return Color::Magenta;
    if (G && B && !R) return Color::Cyan;
    if (R && !G && !B) return Color::Red;
    if (G && !R && !B) return Color::Green;
    if (B && !R && !G) return Color::Blue;
    return Color::Default;
}

Color image_color(const std::string& name) {
    if (name == "checked.png") return Color::Green;
    if (name == "bookmark-ribbon-small.png") return Color::Yellow;
    return Color::Default;
}

}  // namespace

// --- text colours: the kit's colours as the terminal's eight, on the
// terminal's own background. Black, gray and white text keep the
// terminal's own colour (gray is dimmed) unless the text stands on a
// painted background, where light text is white.
Ink ViewRenderer::inkFor(const UIColor& color, int col, int line, const Row* row) const {
    Ink ink;
    const bool onFill = buffer_->bounds().contains(col, line) && buffer_->at(col, line).bg != Color::Default;
    if (row != nullptr && row->selected) return {Color::White, 0};
    if (color.alpha < 0.1) return ink;
    const double mx = std::max({color.red, color.green, color.blue});
    const double mn = std::min({color.red, color.green, color.blue});
    const double light = (color.red + color.green + color.blue) / 3;
    if (mx - mn < 0.25) {
        if (onFill) {
            ink.fg = light > 0.5 ? Color::White : Color::Black;
        } else if (light >= 0.25 && light < 0.8) {
            ink.attrs = kDim;
        }
        return ink;
    }
    ink.fg = nearest_hue(color);
    return ink;
}

CellRect ViewRenderer::spanOf(const CGRect& frame, const Row* row) const {
    int left = column_at(CGRectGetMinX(frame)), right = column_at(CGRectGetMaxX(frame));
    if (right <= left) {
        left = static_cast<int>(std::floor(CGRectGetMidX(frame) / kPointsPerColumn));
        right = left + 1;
    }
    int line = text_line_of(frame);
    if (row != nullptr) {
        line = row->line0 + static_cast<int>(std::floor((CGRectGetMidY(frame) - row->top) / kPointsPerLine));
        line = std::clamp(line, row->first, row->last);
        left = std::max(left, row->left);
        right = std::min(right, row->textRight);
    }
    return CellRect::fromEdges(left, line, right, line + 1);
}

void ViewRenderer::putCentredGlyph(const CellRect& span, char32_t glyph, Ink ink, const CellRect& clip,
                                   const UIView* view) {
    const CellRect visible = span.intersect(clip);
    if (visible.empty()) return;
    const int w = glyph_width(glyph);
    const int col = visible.col + std::max(0, (visible.cols - w) / 2);
    buffer_->putGlyph(col, visible.line, glyph, ink, clip);
    if (view != nullptr) drawn_[view->viewId()] = {col, visible.line, w, 1};
}

void ViewRenderer::render(UIApplication& app, ScreenBuffer& buffer, const CellRect& viewport) {
    buffer_ = &buffer;
    turning_ = false;
    drawn_.clear();
    accessories_.clear();
    alertButtons_.clear();
    maps_.clear();
    const CellRect clip = viewport.intersect(buffer.bounds());
    buffer.fill(clip, Color::Default, 0);
    if (UIWindow* window = app.keyWindow()) {
        const CGPoint origin{-window->frame().origin.x, -window->frame().origin.y};
        drawView(window, origin, clip, nullptr);
    }
    if (const UIAlertView* alert = app.visibleAlert()) drawAlert(*alert, app.mainScreen()->bounds().size, clip);
    buffer_ = nullptr;
}

void ViewRenderer::drawView(const UIView* view, CGPoint origin, const CellRect& clip, const Row* row) {
    if (view->isHidden() || view->alpha() < 0.01) return;
    const CGRect frame{{origin.x + view->frame().origin.x, origin.y + view->frame().origin.y}, view->frame().size};
    const CGPoint contentOrigin{frame.origin.x - view->bounds().origin.x, frame.origin.y - view->bounds().origin.y};
    CellRect inner = view->clipsToBounds() ? clip.intersect(cells_of(frame)) : clip;
    if (view->clipsToBounds() && inner.empty()) return;
    std::optional<Row> ownRow;

    if (dynamic_cast<const UINavigationBar*>(view) != nullptr) {
        buffer_->fill(cells_of(frame).intersect(clip), kBarColor, 0);
    } else if (const auto* table = dynamic_cast<const UITableView*>(view)) {
        drawTable(table, frame, inner);
    } else if (const auto* cell = dynamic_cast<const UITableViewCell*>(view); cell != nullptr && cell->tableView()) {
        ownRow = rowOf(cell, frame);
        row = &*ownRow;
        inner = clip.intersect(ownRow->content());
        drawn_[cell->viewId()] = ownRow->content();
        if (ownRow->selected) buffer_->fill(inner, kSelectionColor, 0);
    } else if (const auto* banner = dynamic_cast<const GADBannerView*>(view)) {
        // One line: the banner's text on its own background.
        const auto& text = banner->text();
        if (text && !text->empty()) {
            const CellRect span = spanOf(frame, row);
            buffer_->fill(span.intersect(clip), kBannerColor, 0);
            buffer_->putAligned(span, display_text(*text, *glyphs_), 1, {Color::Black, 0}, clip, *glyphs_);
        }
        return;
    } else if (const auto* map = dynamic_cast<const MKMapView*>(view)) {
        drawMap(map, frame, clip, row);
        return;
    } else if (const auto* label = dynamic_cast<const UILabel*>(view)) {
        if (label->text() && !label->text()->empty()) {
            const CellRect span = spanOf(frame, row);
            Ink ink = inkFor(label->textColor(), span.col, span.line, row);
            if (label->font().bold) ink.attrs |= kBold;
            buffer_->putAligned(span, display_text(*label->text(), *glyphs_), label->textAlignment(), ink, clip,
                                *glyphs_);
        }
    } else if (const auto* toggle = dynamic_cast<const UISwitch*>(view)) {
        const CellRect span = spanOf(frame, row).intersect(clip);
        const std::u32string& text = toggle->isOn() ? glyphs_->switchOn : glyphs_->switchOff;
        Ink ink = toggle->isOn() ? Ink{Color::Green, kBold} : Ink{};
        if (!toggle->isEnabled()) ink.attrs |= kDim;
        const CellRect put = buffer_->putAligned(span, text, 1, ink, clip, *glyphs_);
        if (!put.empty()) drawn_[view->viewId()] = put;
    } else if (const auto* spinner = dynamic_cast<const UIActivityIndicatorView*>(view)) {
        if (spinner->isAnimating() && !glyphs_->spinner.empty()) {
            const CellRect span = spanOf(frame, row);
            const char32_t glyph = glyphs_->spinner[spinnerFrame_ % glyphs_->spinner.size()];
            const size_t before = drawn_.size();
            putCentredGlyph(span, glyph, {Color::Default, kBold}, clip, view);
            if (drawn_.size() != before) turning_ = true;
        }
    } else if (const auto* button = dynamic_cast<const UIButton*>(view)) {
        const CellRect span = spanOf(frame, row);
        Ink ink{Color::Default, kBold};
        if (button->isHighlighted()) ink.attrs |= kReverse;
        if (!button->isEnabled()) ink.attrs |= kDim;
        if (const auto image = button->currentImage()) {
            ink.fg = image_color(image->name());
            putCentredGlyph(span, glyphs_->imageGlyph(image->name()), ink, clip, view);
        } else if (const auto title = button->currentTitle()) {
            std::u32string text = display_text(*title, *glyphs_);
            const auto* bar = dynamic_cast<const UINavigationBar*>(button->superview());
            if (bar != nullptr && bar->backButton() == button) text = glyphs_->backPrefix + text;
            const Ink onBar = inkFor(UIColor::whiteColor(), span.col, span.line, row);
            ink.fg = onBar.fg;
            const CellRect put = buffer_->putAligned(span, text, 1, ink, clip, *glyphs_);
            if (!put.empty()) drawn_[view->viewId()] = put;
        }
    } else if (const auto* imageView = dynamic_cast<const UIImageView*>(view)) {
        if (const auto& image = imageView->image()) {
            putCentredGlyph(spanOf(frame, row), glyphs_->imageGlyph(image->name()), {image_color(image->name()), kBold},
                            clip, nullptr);
        }
    } else if (const auto* segments = dynamic_cast<const UISegmentedControl*>(view)) {
        const CellRect span = spanOf(frame, row).intersect(clip);
        std::u32string text;
        std::vector<std::pair<int, int>> ranges;
        for (int i = 0; i < segments->numberOfSegments(); ++i) {
            if (i > 0) text += U" | ";
            const int start = text_width(text);
            text += display_text(segments->titleForSegmentAtIndex(i), *glyphs_);
            ranges.emplace_back(start, text_width(text) - start);
        }
        const CellRect put = buffer_->putAligned(span, text, 1, {}, clip, *glyphs_);
        const int selected = segments->selectedSegmentIndex();
        if (!put.empty() && selected >= 0 && selected < static_cast<int>(ranges.size())) {
            const auto [start, width] = ranges[static_cast<size_t>(selected)];
            buffer_->toggleReverse(CellRect{put.col + start, put.line, width, 1}.intersect(put));
        }
        if (!put.empty()) drawn_[view->viewId()] = put;
    }

    for (const auto& child : view->subviews()) drawView(child.get(), contentOrigin, inner, row);

    if (const auto* cell = dynamic_cast<const UITableViewCell*>(view); cell != nullptr && ownRow) {
        drawAccessory(cell, frame, *ownRow, inner);
    }
}

ViewRenderer::Row ViewRenderer::rowOf(const UITableViewCell* cell, const CGRect& frame) const {
    Row row;
    const bool grouped = cell->tableView()->style() == UITableViewStyleGrouped;
    row.top = CGRectGetMinY(frame);
    row.line0 = line_at(CGRectGetMinY(frame));
    const int next = line_at(CGRectGetMaxY(frame));
    // In a group the first line is the separator (or the group's top
    // edge) and the next row's first line closes this one.
    row.first = grouped ? row.line0 + 1 : row.line0;
    row.last = std::max(row.first, next - 1);
    row.left = column_at(CGRectGetMinX(frame)) + (grouped ? 1 : 0);
    row.right = column_at(CGRectGetMaxX(frame)) - (grouped ? 1 : 0);
    row.textRight = grouped ? row.right - 1 : row.right;
    row.selected = cell->isSelected() || cell->isHighlighted();
    return row;
}

void ViewRenderer::drawTable(const UITableView* table, const CGRect& frame, const CellRect& clip) {
    const bool grouped = table->style() == UITableViewStyleGrouped;
    const CGPoint content{frame.origin.x - table->contentOffset().x, frame.origin.y - table->contentOffset().y};
    const Ink lineInk{Color::Default, 0};
    const auto sections = table->sectionLayouts();
    for (size_t i = 0; i < sections.size(); ++i) {
        const UITableViewSectionLayout& s = sections[i];
        const CGRect group = CGRectOffset(s.groupFrame, content.x, content.y);
        const int left = column_at(CGRectGetMinX(group)), right = column_at(CGRectGetMaxX(group));
        const int top = line_at(CGRectGetMinY(group)), bottom = line_at(CGRectGetMaxY(group));
        if (grouped && s.rows > 0) {
            buffer_->drawBox(CellRect::fromEdges(left, top, right, bottom + 1), true, lineInk, clip, *glyphs_);
            for (int r = 1; r < s.rows; ++r) {
                const CGRect rowRect = table->rectForRowAtIndexPath({static_cast<int>(i), r});
                buffer_->drawRule(line_at(rowRect.origin.y + content.y), left, right - 1, lineInk, clip, *glyphs_);
            }
        }
        const int textLeft = grouped ? left + 1 : left;
        const int textRight = grouped ? right - 1 : right;
        if (s.header && !CGRectIsEmpty(s.headerFrame)) {
            const int line =
                grouped && s.rows > 0 ? top - 1 : text_line_of(CGRectOffset(s.headerFrame, content.x, content.y));
            buffer_->putAligned(CellRect::fromEdges(textLeft, line, textRight, line + 1),
                                display_text(*s.header, *glyphs_), 0, {Color::Default, kBold}, clip, *glyphs_);
        }
        if (s.footer && !CGRectIsEmpty(s.footerFrame)) {
            const CGRect footer = CGRectOffset(s.footerFrame, content.x, content.y);
            const int first = grouped && s.rows > 0 ? bottom + 1 : text_line_of(footer);
            const int lines = std::max(1, line_at(CGRectGetMaxY(footer)) - first);
            const auto wrapped = wrap_text(display_text(*s.footer, *glyphs_), textRight - textLeft, lines, *glyphs_);
            for (size_t k = 0; k < wrapped.size(); ++k) {
                const int line = first + static_cast<int>(k);
                buffer_->putAligned(CellRect::fromEdges(textLeft, line, textRight, line + 1), wrapped[k], 1,
                                    {Color::Default, kDim}, clip, *glyphs_);
            }
        }
    }
}

void ViewRenderer::drawAccessory(const UITableViewCell* cell, const CGRect& frame, const Row& row,
                                 const CellRect& clip) {
    const int type = cell->accessoryType();
    if (type == UITableViewCellAccessoryNone) return;
    const CGRect accessory = CGRectOffset(cell->accessoryFrame(), frame.origin.x, frame.origin.y);
    const CellRect span = spanOf(accessory, &row);
    if (type == UITableViewCellAccessoryDetailDisclosureButton) {
        const std::u32string& text = glyphs_->detailButton;
        const int w = text_width(text);
        const CellRect at{row.textRight - w, span.line, w, 1};
        buffer_->putText(at.col, at.line, text, {Color::Blue, kBold}, clip);
        accessories_[cell->viewId()] = at.intersect(clip);
    } else if (type == UITableViewCellAccessoryDisclosureIndicator) {
        buffer_->putGlyph(row.textRight - 1, span.line, glyphs_->disclosure, {Color::Default, kDim}, clip);
    } else if (type == UITableViewCellAccessoryCheckmark) {
        buffer_->putGlyph(row.textRight - 1, span.line, glyphs_->checkMark, {Color::Blue, kBold}, clip);
    }
}

void ViewRenderer::drawMap(const MKMapView* map, const CGRect& frame, const CellRect& clip, const Row* row) {
    CellRect area = cells_of(frame);
    if (row != nullptr) area = area.intersect(row->content());
    area = area.intersect(clip);
    // The pin's positions, for the track.
    auto& track = tracks_[map->viewId()];
    for (const auto& annotation : map->annotations()) {
        const CLLocationCoordinate2D c = annotation->coordinate();
        if (!CLLocationCoordinate2DIsValid(c)) continue;
        if (track.empty() || !(track.back() == c)) {
            track.push_back(c);
            if (track.size() > kTrackLength) track.erase(track.begin());
        }
        break;
    }
    const std::vector<CLLocationCoordinate2D> earlier(track.begin(), track.empty() ? track.end() : track.end() - 1);
    maps_[map->viewId()] = draw_map(*buffer_, *map, frame, area, earlier, *glyphs_);
}

void ViewRenderer::drawAlert(const UIAlertView& alert, CGSize screen, const CellRect& viewport) {
    // The window beneath, dimmed.
    buffer_->stripStyle(viewport);
    buffer_->addInk(viewport, kDim);

    const UIAlertViewLayout layout = alert.layoutInScreen(screen);
    CellRect box = CellRect::fromEdges(column_at(CGRectGetMinX(layout.box)), line_at(CGRectGetMinY(layout.box)),
                                       column_at(CGRectGetMaxX(layout.box)), line_at(CGRectGetMaxY(layout.box)));
    box = box.intersect(viewport);
    if (box.cols < 4 || box.lines < 3) return;
    // A blank margin keeps the box clear of the lines of the window beneath.
    buffer_->fill(CellRect::fromEdges(box.col - 1, box.line, box.right() + 1, box.bottom()).intersect(viewport),
                  Color::Default, 0);
    buffer_->drawBox(box, true, {Color::Default, kBold}, viewport, *glyphs_);
    const CellRect inside = CellRect::fromEdges(box.col + 2, box.line + 1, box.right() - 2, box.bottom() - 1);

    // Buttons on the lines the kit puts them (taps use the kit's layout).
    int firstButtonLine = inside.bottom();
    for (size_t i = 0; i < layout.buttons.size(); ++i) {
        const CGRect b = layout.buttons[i];
        const int line = std::clamp(text_line_of(b), inside.line, inside.bottom() - 1);
        firstButtonLine = std::min(firstButtonLine, line);
        const CellRect span = CellRect::fromEdges(std::max(inside.col, column_at(CGRectGetMinX(b))), line,
                                                  std::min(inside.right(), column_at(CGRectGetMaxX(b))), line + 1);
        const std::u32string text =
            U"[ " + display_text(alert.buttonTitleAtIndex(static_cast<int>(i)), *glyphs_) + U" ]";
        alertButtons_.push_back(buffer_->putAligned(span, text, 1, {Color::Default, kBold}, viewport, *glyphs_));
    }

    // Title and message above them, centred, leaving a blank line.
    const int textBottom = layout.buttons.empty() ? inside.bottom() : std::max(inside.line, firstButtonLine - 1);
    const int room = textBottom - inside.line;
    std::vector<std::pair<std::u32string, Ink>> lines;
    auto add_lines = [&](const std::string& text, Ink ink) {
        size_t start = 0;
        while (start <= text.size() && static_cast<int>(lines.size()) < room) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            const int left = room - static_cast<int>(lines.size());
            for (auto& l :
                 wrap_text(display_text(text.substr(start, end - start), *glyphs_), inside.cols, left, *glyphs_)) {
                lines.emplace_back(std::move(l), ink);
            }
            start = end + 1;
        }
    };
    if (alert.title()) add_lines(*alert.title(), {Color::Default, kBold});
    if (alert.title() && alert.message() && static_cast<int>(lines.size()) < room - 1) lines.emplace_back(U"", Ink{});
    if (alert.message()) add_lines(*alert.message(), {});
    int line = inside.line + (room - static_cast<int>(lines.size())) / 2;
    for (const auto& [text, ink] : lines) {
        buffer_->putAligned({inside.col, line++, inside.cols, 1}, text, 1, ink, viewport, *glyphs_);
    }
}

CellRect ViewRenderer::drawnRect(const UITappable& t) const {
    if (t.kind == UITappable::AlertButton) {
        if (t.alertButton >= 0 && static_cast<size_t>(t.alertButton) < alertButtons_.size() &&
            !alertButtons_[static_cast<size_t>(t.alertButton)].empty()) {
            return alertButtons_[static_cast<size_t>(t.alertButton)];
        }
        return cells_of(t.frame);
    }
    if (t.view != nullptr) {
        const auto& map = t.kind == UITappable::AccessoryButton ? accessories_ : drawn_;
        if (auto it = map.find(t.view->viewId()); it != map.end() && !it->second.empty()) return it->second;
    }
    return cells_of(t.frame);
}

const std::vector<CLLocationCoordinate2D>* ViewRenderer::track(UIView::Id map) const {
    auto it = tracks_.find(map);
    return it == tracks_.end() ? nullptr : &it->second;
}

void ViewRenderer::forgetViews(const std::set<UIView::Id>& destroyed) {
    for (UIView::Id id : destroyed) tracks_.erase(id);
}

}  // namespace vgps::term
