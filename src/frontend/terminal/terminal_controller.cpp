#include "frontend/terminal/terminal_controller.h"

#include <algorithm>
#include <cmath>

#include "uikit/UIAlertView.h"
#include "uikit/UINavigationBar.h"
#include "uikit/UIScrollView.h"
#include "uikit/UITableView.h"
#include "uikit/UITableViewCell.h"
#include "uikit/UIWindow.h"

namespace vgps::term {
namespace {

constexpr size_t kRememberedScreens = 8;

UIScrollView* first_scroll_view(UIView* view) {
    if (view == nullptr || view->isHidden()) return nullptr;
    if (auto* scroll = dynamic_cast<UIScrollView*>(view)) return scroll;
    for (const auto& child : view->subviews()) {
        if (auto* found = first_scroll_view(child.get())) return found;
    }
    return nullptr;
}

UINavigationBar* back_bar(UIView* view) {
    if (view == nullptr || view->isHidden()) return nullptr;
    if (auto* bar = dynamic_cast<UINavigationBar*>(view)) {
        return bar->backButton() != nullptr && !bar->backButton()->isHidden() ? bar : nullptr;
    }
    for (const auto& child : view->subviews()) {
        if (auto* found = back_bar(child.get())) return found;
    }
    return nullptr;
}

CGPoint centre_of(const CGRect& r) { return {CGRectGetMidX(r), CGRectGetMidY(r)}; }

}  // namespace

TerminalController::TerminalController(UIApplication* app, const Glyphs& glyphs)
    : app_(app), glyphs_(&glyphs), renderer_(glyphs) {}

void TerminalController::setSize(int cols, int lines) {
    cols = std::max(1, cols);
    lines = std::max(1, lines);
    if (cols == buffer_.cols() && lines == buffer_.lines()) return;
    buffer_.resize(cols, lines);
    app_->setScreenSize(screen_size_for(cols, lines));
    needsRender_ = true;
}

bool TerminalController::takeRepaintRequest() {
    const bool asked = repaint_;
    repaint_ = false;
    return asked;
}

void TerminalController::advanceSpinner() {
    ++spinnerFrame_;
    needsRender_ = true;
}

// --- the highlight

TerminalController::FocusKey TerminalController::keyOf(const UITappable& t) {
    FocusKey key;
    key.kind = t.kind;
    key.alertButton = t.alertButton;
    key.centre = centre_of(t.frame);
    if (t.view == nullptr) return key;
    key.viewId = t.view->viewId();
    key.className = t.view->className();
    for (UIView* v = t.view; v != nullptr; v = v->superview()) {
        auto* cell = dynamic_cast<UITableViewCell*>(v);
        if (cell != nullptr && cell->tableView() != nullptr && cell->indexPath()) {
            key.tableId = cell->tableView()->viewId();
            key.path = cell->indexPath();
            break;
        }
    }
    return key;
}

bool TerminalController::sameThing(const FocusKey& a, const FocusKey& b) {
    if (a.kind != b.kind) return false;
    if (a.kind == UITappable::AlertButton) return a.alertButton == b.alertButton;
    if (a.path && b.path) return a.tableId == b.tableId && *a.path == *b.path && a.className == b.className;
    return a.viewId == b.viewId;
}

int TerminalController::focusIndex(const std::vector<UITappable>& list) {
    if (list.empty()) return -1;
    std::set<UIView::Id> ids;
    for (const auto& t : list) {
        if (t.view != nullptr) ids.insert(t.view->viewId());
    }
    int found = -1;
    if (focus_) {
        for (size_t i = 0; i < list.size() && found < 0; ++i) {
            if (sameThing(keyOf(list[i]), *focus_)) found = static_cast<int>(i);
        }
    }
    // The same view, moved to another row (rows inserted or deleted above).
    for (size_t i = 0; i < list.size() && found < 0 && focus_ && focus_->path; ++i) {
        if (list[i].kind == focus_->kind && list[i].view != nullptr && list[i].view->viewId() == focus_->viewId) {
            found = static_cast<int>(i);
        }
    }
    if (found < 0 && focus_) {
        const bool sameScreen = std::any_of(ids.begin(), ids.end(), [&](UIView::Id id) { return lastIds_.count(id); });
        if (sameScreen) {
            // The thing went away: the nearest one takes the highlight.
            double best = INFINITY;
            for (size_t i = 0; i < list.size(); ++i) {
                const CGPoint c = centre_of(list[i].frame);
                const double d = std::hypot(c.x - focus_->centre.x, c.y - focus_->centre.y);
                if (d < best) best = d, found = static_cast<int>(i);
            }
        } else {
            // Another screen (or an alert): remember where the highlight was,
            // and go back to where it was on this one, if it was here before.
            remembered_.push_back(*focus_);
            if (remembered_.size() > kRememberedScreens) remembered_.erase(remembered_.begin());
            for (size_t k = remembered_.size(); k-- > 0 && found < 0;) {
                for (size_t i = 0; i < list.size(); ++i) {
                    if (sameThing(keyOf(list[i]), remembered_[k])) {
                        found = static_cast<int>(i);
                        remembered_.erase(remembered_.begin() + static_cast<std::ptrdiff_t>(k));
                        break;
                    }
                }
            }
        }
    }
    if (found < 0) found = 0;
    lastIds_ = std::move(ids);
    focus_ = keyOf(list[static_cast<size_t>(found)]);
    return found;
}

void TerminalController::focusAt(const std::vector<UITappable>& list, int index) {
    if (index < 0 || index >= static_cast<int>(list.size())) return;
    focus_ = keyOf(list[static_cast<size_t>(index)]);
    needsRender_ = true;
}

std::optional<UITappable> TerminalController::focused() {
    const auto list = app_->tappables();
    const int i = focusIndex(list);
    if (i < 0) return std::nullopt;
    return list[static_cast<size_t>(i)];
}

void TerminalController::moveFocus(int step) {
    auto list = app_->tappables();
    if (list.empty()) return;
    int i = focusIndex(list);
    int j = i + step;
    if (j < 0 || j >= static_cast<int>(list.size())) {
        // Past the end: show more of the list first, then wrap around.
        if (scroll(list[static_cast<size_t>(i)].view, step * kScrollStep)) {
            list = app_->tappables();
            if (list.empty()) return;
            i = focusIndex(list);
            j = std::clamp(i + step, 0, static_cast<int>(list.size()) - 1);
        } else {
            j = j < 0 ? static_cast<int>(list.size()) - 1 : 0;
        }
    }
    focusAt(list, j);
}

void TerminalController::activateFocus() {
    const auto list = app_->tappables();
    const int i = focusIndex(list);
    if (i >= 0) app_->activate(list[static_cast<size_t>(i)]);
    needsRender_ = true;
}

void TerminalController::goBack() {
    if (UIAlertView* alert = app_->visibleAlert()) {
        // Escape on an alert is its cancel button.
        UITappable t;
        t.kind = UITappable::AlertButton;
        t.alertButton = std::max(0, alert->cancelButtonIndex());
        app_->activate(t);
        return;
    }
    if (UINavigationBar* bar = back_bar(app_->keyWindow())) app_->tapView(bar->backButton());
}

bool TerminalController::scroll(UIView* view, double dy) {
    UIScrollView* target = nullptr;
    for (UIView* v = view; v != nullptr && target == nullptr; v = v->superview()) {
        target = dynamic_cast<UIScrollView*>(v);
    }
    if (target == nullptr) target = first_scroll_view(app_->keyWindow());
    if (target == nullptr) return false;
    const CGPoint before = target->contentOffset();
    target->scrollBy({0, dy});
    needsRender_ = true;
    return !(target->contentOffset() == before);
}

std::optional<UITappable> TerminalController::tappableAt(const std::vector<UITappable>& list, int col, int line) const {
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        if (renderer_.drawnRect(*it).contains(col, line)) return *it;
    }
    return std::nullopt;
}

// --- input

void TerminalController::handle(const InputEvent& e) {
    needsRender_ = true;
    switch (e.kind) {
        case InputEvent::Tab:
        case InputEvent::Down:
        case InputEvent::Right: moveFocus(+1); return;
        case InputEvent::BackTab:
        case InputEvent::Up:
        case InputEvent::Left: moveFocus(-1); return;
        case InputEvent::Enter: activateFocus(); return;
        case InputEvent::Escape:
        case InputEvent::Backspace: goBack(); return;
        case InputEvent::Home:
        case InputEvent::End: {
            const auto list = app_->tappables();
            focusAt(list, e.kind == InputEvent::Home ? 0 : static_cast<int>(list.size()) - 1);
            return;
        }
        case InputEvent::PageUp:
        case InputEvent::PageDown: {
            const auto f = focused();
            const double page = std::max(1, lines() - 6) * kPointsPerLine;
            scroll(f ? f->view : nullptr, e.kind == InputEvent::PageUp ? -page : page);
            return;
        }
        case InputEvent::WheelUp:
        case InputEvent::WheelDown: {
            UIView* under = nullptr;
            if (UIWindow* window = app_->keyWindow()) under = window->hitTest(point_at_cell(e.col, e.line));
            scroll(under, e.kind == InputEvent::WheelUp ? -kScrollStep : kScrollStep);
            return;
        }
        case InputEvent::MousePress: {
            if (e.button != 0) return;
            const auto list = app_->tappables();
            pressed_.reset();
            kitTouch_ = false;
            if (const auto t = tappableAt(list, e.col, e.line)) {
                pressed_ = keyOf(*t);
                focus_ = *pressed_;
            } else {
                kitTouch_ = app_->touchDownAtPoint(point_at_cell(e.col, e.line));
            }
            return;
        }
        case InputEvent::MouseRelease: {
            if (pressed_) {
                const auto list = app_->tappables();
                const auto t = tappableAt(list, e.col, e.line);
                if (t && sameThing(keyOf(*t), *pressed_)) app_->activate(*t);
                pressed_.reset();
            } else if (kitTouch_) {
                app_->touchUpAtPoint(point_at_cell(e.col, e.line));
                kitTouch_ = false;
            }
            return;
        }
        case InputEvent::Control:
            if (e.character == 0x03 && onQuit_) onQuit_();  // Ctrl-C
            if (e.character == 0x0C) repaint_ = true;       // Ctrl-L
            return;
        case InputEvent::Character:
            if ((e.character == U'q' || e.character == U'Q') && onQuit_) onQuit_();
            if (e.character == U' ') activateFocus();
            return;
    }
}

// --- drawing

void TerminalController::drawHelpLine() {
    const int line = lines() - 1;
    buffer_.fill({0, line, cols(), 1}, Color::Default, kReverse);
    const char* wide = glyphs_->unicode ? " Tab/Shift-Tab/↑↓ move   Enter/Space tap   Esc back   q quit"
                                        : " Tab/Shift-Tab/arrows move   Enter/Space tap   Esc back   q quit";
    const char* narrow =
        glyphs_->unicode ? "Tab/↑↓ move  Enter tap  Esc back  q quit" : "Tab/Up/Dn move Enter tap Esc back q quit";
    const char* tiny = glyphs_->unicode ? "Tab/↑↓ Enter Esc q" : "Tab Enter Esc q";
    std::u32string text = display_text(wide, *glyphs_);
    if (text_width(text) > cols()) text = display_text(narrow, *glyphs_);
    if (text_width(text) > cols()) text = display_text(tiny, *glyphs_);
    buffer_.putText(0, line, fit_text(text, cols(), *glyphs_), {}, buffer_.bounds());
}

const ScreenBuffer& TerminalController::render() {
    const int help = lines() >= 2 ? 1 : 0;
    const CellRect viewport{0, 0, cols(), lines() - help};
    renderer_.setSpinnerFrame(spinnerFrame_);
    renderer_.render(*app_, buffer_, viewport);
    const auto list = app_->tappables();
    const int i = focusIndex(list);
    if (i >= 0) {
        const CellRect r = renderer_.drawnRect(list[static_cast<size_t>(i)]).intersect(viewport);
        buffer_.toggleReverse(r);
        buffer_.addInk(r, kBold);
    }
    if (help != 0) drawHelpLine();
    needsRender_ = false;
    return buffer_;
}

}  // namespace vgps::term
