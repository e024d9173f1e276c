// Touches: a finger's tap at a point of the key window (or on a view) goes
// to the control or table row under it; while an alert is on screen only
// its buttons take taps.
#include <algorithm>

#include "uikit/UIAlertView.h"
#include "uikit/UIApplication.h"
#include "uikit/UIControl.h"
#include "uikit/UITableView.h"
#include "uikit/UIWindow.h"

namespace vgps {

UIApplication::TouchTarget UIApplication::targetFrom(UIView* view, CGPoint windowPoint) {
    for (UIView* v = view; v != nullptr; v = v->superview()) {
        if (auto* control = dynamic_cast<UIControl*>(v); control != nullptr && control->isEnabled()) {
            return {control, nullptr, control->convertPoint_fromView(windowPoint, nullptr)};
        }
        if (auto* cell = dynamic_cast<UITableViewCell*>(v); cell != nullptr && cell->tableView() != nullptr) {
            return {nullptr, cell, cell->convertPoint_fromView(windowPoint, nullptr)};
        }
    }
    return {};
}

UIApplication::TouchTarget UIApplication::targetAt(CGPoint point) const {
    if (keyWindow_ == nullptr) return {};
    return targetFrom(keyWindow_->hitTest(point), point);
}

bool UIApplication::alertButtonAt(CGPoint point, int* index) const {
    const UIAlertView* alert = visibleAlert();
    if (alert == nullptr) return false;
    const UIAlertViewLayout layout = alert->layoutInScreen(screen_.bounds().size);
    for (size_t i = 0; i < layout.buttons.size(); ++i) {
        if (CGRectContainsPoint(layout.buttons[i], point)) {
            *index = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

bool UIApplication::inKeyWindow(const UIView* view) const {
    return view != nullptr && keyWindow_ != nullptr && view->window() == keyWindow_;
}

void UIApplication::tapCell(UITableViewCell* cell, CGPoint pointInCell) {
    UITableView* table = cell->tableView();
    const std::optional<NSIndexPath> path = table != nullptr ? table->indexPathForCell(cell) : std::nullopt;
    if (!path) return;
    if (cell->accessoryType() == UITableViewCellAccessoryDetailDisclosureButton &&
        CGRectContainsPoint(cell->accessoryFrame(), pointInCell)) {
        table->userTappedAccessoryForRowAtIndexPath(*path);
    } else {
        table->userSelectRowAtIndexPath(*path);
    }
}

void UIApplication::layoutBeforeTouch() {
    // A finger acts on what is on screen: the layout a turn would make.
    if (keyWindow_ != nullptr) keyWindow_->layoutIfNeeded();
}

bool UIApplication::touchDownAtPoint(CGPoint point) {
    trackingId_ = 0;
    layoutBeforeTouch();
    if (visibleAlert() != nullptr) {
        int index;
        return alertButtonAt(point, &index);
    }
    const TouchTarget target = targetAt(point);
    if (target.control != nullptr) {
        tracking_ = target;
        trackingId_ = target.control->viewId();
        target.control->touchDown(target.pointInView);
        return true;
    }
    if (target.cell != nullptr) {
        tracking_ = target;
        trackingId_ = target.cell->viewId();
        target.cell->setHighlighted_animated(true, false);
        return true;
    }
    return false;
}

bool UIApplication::touchUpAtPoint(CGPoint point) {
    if (visibleAlert() != nullptr) {
        trackingId_ = 0;
        int index;
        if (!alertButtonAt(point, &index)) return false;
        visibleAlert()->dismissWithClickedButtonIndex_animated(index, true);
        return true;
    }
    if (trackingId_ == 0) return false;  // nothing under the finger, or it is gone
    trackingId_ = 0;
    const TouchTarget target = tracking_;
    tracking_ = {};
    if (target.control != nullptr) {
        if (!inKeyWindow(target.control)) {
            target.control->setHighlighted(false);  // taken away under the finger
        } else {
            target.control->touchUp(target.control->convertPoint_fromView(point, nullptr));
        }
        return true;
    }
    UITableViewCell* cell = target.cell;
    cell->setHighlighted_animated(false, false);
    if (!inKeyWindow(cell)) return true;
    const CGPoint inCell = cell->convertPoint_fromView(point, nullptr);
    if (cell->pointInside(inCell)) tapCell(cell, inCell);
    return true;
}

bool UIApplication::tapAtPoint(CGPoint point) {
    const bool down = touchDownAtPoint(point);
    return touchUpAtPoint(point) || down;
}

bool UIApplication::tapView(UIView* view) {
    if (visibleAlert() != nullptr || !inKeyWindow(view)) return false;
    layoutBeforeTouch();
    const CGRect frame = CGRectIntersection(view->windowFrame(), keyWindow_->bounds());
    const CGPoint centre{CGRectGetMidX(frame), CGRectGetMidY(frame)};
    const TouchTarget target = targetFrom(view, centre);
    if (target.control != nullptr) {
        target.control->touchDown(target.pointInView);
        target.control->touchUp(target.pointInView);
        return true;
    }
    if (target.cell != nullptr) {
        tapCell(target.cell, target.pointInView);
        return true;
    }
    return false;
}

void UIApplication::collectTappables(UIView* view, CGRect clip, std::vector<UITappable>& out) const {
    if (view->isHidden() || view->alpha() <= 0.01 || !view->isUserInteractionEnabled()) return;
    // Touches reach a view only inside the bounds of all its superviews.
    const CGRect shown = CGRectIntersection(view->windowFrame(), clip);
    if (CGRectIsEmpty(shown)) return;
    if (auto* control = dynamic_cast<UIControl*>(view)) {
        if (control->isEnabled()) out.push_back({UITappable::Control, view, -1, shown});
        return;
    }
    if (auto* cell = dynamic_cast<UITableViewCell*>(view); cell != nullptr && cell->tableView() != nullptr) {
        out.push_back({UITappable::Row, view, -1, shown});
        if (cell->accessoryType() == UITableViewCellAccessoryDetailDisclosureButton) {
            const CGRect accessory = CGRectIntersection(cell->convertRect_toView(cell->accessoryFrame(), nullptr), clip);
            if (!CGRectIsEmpty(accessory)) out.push_back({UITappable::AccessoryButton, view, -1, accessory});
        }
    }
    for (const auto& child : std::vector<std::shared_ptr<UIView>>(view->subviews())) {
        collectTappables(child.get(), shown, out);
    }
}

std::vector<UITappable> UIApplication::tappables() {
    layoutBeforeTouch();
    std::vector<UITappable> out;
    if (const UIAlertView* alert = visibleAlert()) {
        const UIAlertViewLayout layout = alert->layoutInScreen(screen_.bounds().size);
        for (size_t i = 0; i < layout.buttons.size(); ++i) {
            out.push_back({UITappable::AlertButton, nullptr, static_cast<int>(i), layout.buttons[i]});
        }
        return out;
    }
    if (keyWindow_ != nullptr) collectTappables(keyWindow_, keyWindow_->bounds(), out);
    return out;
}

bool UIApplication::activate(const UITappable& tappable) {
    if (tappable.kind == UITappable::AlertButton) {
        UIAlertView* alert = visibleAlert();
        if (alert == nullptr || tappable.alertButton < 0 || tappable.alertButton >= alert->numberOfButtons()) {
            return false;
        }
        alert->dismissWithClickedButtonIndex_animated(tappable.alertButton, true);
        return true;
    }
    // The thing may have gone since the list was made.
    if (visibleAlert() != nullptr || !inKeyWindow(tappable.view)) return false;
    if (tappable.kind == UITappable::Control) return tapView(tappable.view);
    auto* cell = dynamic_cast<UITableViewCell*>(tappable.view);
    UITableView* table = cell != nullptr ? cell->tableView() : nullptr;
    const auto path = table != nullptr ? table->indexPathForCell(cell) : std::nullopt;
    if (!path) return false;
    if (tappable.kind == UITappable::AccessoryButton) {
        table->userTappedAccessoryForRowAtIndexPath(*path);
    } else {
        table->userSelectRowAtIndexPath(*path);
    }
    return true;
}

}  // namespace vgps
