#include "app/finger.h"

#include <array>

#include "uikit/UIAlertView.h"
#include "uikit/UIButton.h"
#include "uikit/UINavigationBar.h"
#include "uikit/UINavigationController.h"
#include "uikit/UISwitch.h"
#include "uikit/UIWindow.h"

namespace vgps::finger {
namespace {

// Lays out what asked for it, as a turn of the run loop would before a
// finger comes down.
UIWindow* laid_out_window(UIApplication* app) {
    UIWindow* window = app->keyWindow();
    if (window != nullptr) window->layoutIfNeeded();
    return window;
}

// The part of `view` (window coordinates) where touches can reach it: its
// frame cut by the bounds of every view above it; empty when it or one of
// them is hidden.
CGRect visible_frame(UIView* view) {
    CGRect shown = view->windowFrame();
    for (UIView* v = view; v != nullptr; v = v->superview()) {
        if (v->isHidden() || v->alpha() <= 0.01 || !v->isUserInteractionEnabled()) return CGRect{};
        if (v != view) shown = CGRectIntersection(shown, v->windowFrame());
    }
    return shown;
}

// What a touch at `point` goes to: the first enabled control or table cell
// from the view hit upwards.
const UIView* touched(UIWindow* window, CGPoint point) {
    for (const UIView* v = window->hitTest(point); v != nullptr; v = v->superview()) {
        if (const auto* control = dynamic_cast<const UIControl*>(v); control != nullptr && control->isEnabled()) {
            return v;
        }
        if (const auto* cell = dynamic_cast<const UITableViewCell*>(v); cell != nullptr && cell->tableView() != nullptr) {
            return v;
        }
    }
    return nullptr;
}

template <class T>
T* find_first(UIView* view) {
    if (view == nullptr || view->isHidden()) return nullptr;
    if (auto* found = dynamic_cast<T*>(view)) return found;
    for (const auto& child : view->subviews()) {
        if (T* found = find_first<T>(child.get())) return found;
    }
    return nullptr;
}

Tap tap_at(UIApplication* app, UIView* target, CGRect area) {
    // While an alert is up, it covers everything else.
    if (app->visibleAlert() != nullptr) return Tap::NotOnScreen;
    const std::optional<CGPoint> point = touch_point(app, target, area);
    if (!point) return Tap::NotOnScreen;
    app->tapAtPoint(*point);
    return Tap::Done;
}

UITableViewCell* visible_cell(UIApplication* app, NSIndexPath row) {
    laid_out_window(app);
    UITableView* table = top_table(app);
    return table != nullptr ? table->cellForRowAtIndexPath(row) : nullptr;
}

void collect_texts(const JSON& node, const std::string& text, bool* found) {
    static constexpr std::array<const char*, 7> kTextKeys = {"text",    "title",   "header",  "footer",
                                                             "message", "back",    "subtitle"};
    if (*found) return;
    if (node.is_object()) {
        for (const char* key : kTextKeys) {
            const auto it = node.find(key);
            if (it != node.end() && it->is_string() && it->get_ref<const std::string&>().find(text) != std::string::npos) {
                *found = true;
                return;
            }
        }
        if (const auto buttons = node.find("buttons"); buttons != node.end() && buttons->is_array()) {
            for (const auto& b : *buttons) {
                if (b.is_string() && b.get_ref<const std::string&>().find(text) != std::string::npos) {
                    *found = true;
                    return;
                }
            }
        }
        for (const auto& [key, value] : node.items()) {
            if (value.is_structured()) collect_texts(value, text, found);
        }
    } else if (node.is_array()) {
        for (const auto& value : node) collect_texts(value, text, found);
    }
}

}  // namespace

UITableView* top_table(UIApplication* app) {
    UIWindow* window = app->keyWindow();
    if (window == nullptr) return nullptr;
    // The last screen in drawing order is the one on top.
    const auto& views = window->subviews();
    for (auto it = views.rbegin(); it != views.rend(); ++it) {
        UIViewController* controller = (*it)->viewController();
        if (controller == nullptr) continue;
        if (auto* nav = dynamic_cast<UINavigationController*>(controller)) controller = nav->topViewController();
        if (controller != nullptr && controller->isViewLoaded()) {
            if (auto* table = dynamic_cast<UITableView*>(controller->view())) return table;
        }
    }
    return nullptr;
}

std::optional<CGPoint> touch_point(UIApplication* app, UIView* target, CGRect area) {
    UIWindow* window = laid_out_window(app);
    if (window == nullptr || target == nullptr) return std::nullopt;
    area = CGRectIntersection(area, CGRectIntersection(visible_frame(target), window->bounds()));
    if (CGRectIsEmpty(area)) return std::nullopt;
    const CGPoint centre{CGRectGetMidX(area), CGRectGetMidY(area)};
    if (touched(window, centre) == target) return centre;
    // Covered in the middle: look for a spot that shows, row by row.
    const double left = area.origin.x, width = area.size.width;
    const std::array<double, 5> xs = {centre.x, left + width / 4, left + width * 3 / 4, left + 1, left + width - 1};
    for (double y = area.origin.y + 1; y < CGRectGetMaxY(area); y += 2) {
        for (double x : xs) {
            if (touched(window, {x, y}) == target) return CGPoint{x, y};
        }
    }
    return std::nullopt;
}

Tap tap_row(UIApplication* app, NSIndexPath row) {
    UITableViewCell* cell = visible_cell(app, row);
    if (cell == nullptr) return Tap::NotOnScreen;
    // The row itself: its content, not the detail button beside it.
    return tap_at(app, cell, visible_frame(cell->contentView()));
}

Tap tap_detail(UIApplication* app, NSIndexPath row) {
    UITableViewCell* cell = visible_cell(app, row);
    if (cell == nullptr) return Tap::NotOnScreen;
    if (cell->accessoryType() != UITableViewCellAccessoryDetailDisclosureButton) return Tap::Missing;
    return tap_at(app, cell, cell->convertRect_toView(cell->accessoryFrame(), nullptr));
}

Tap tap_button_in_row(UIApplication* app, NSIndexPath row) {
    UITableViewCell* cell = visible_cell(app, row);
    if (cell == nullptr) return Tap::NotOnScreen;
    UIButton* button = find_first<UIButton>(cell->contentView());
    if (button == nullptr) return Tap::Missing;
    return tap_at(app, button, visible_frame(button));
}

Tap tap_switch(UIApplication* app) {
    UISwitch* toggle = find_first<UISwitch>(laid_out_window(app));
    if (toggle == nullptr) return Tap::Missing;
    return tap_at(app, toggle, visible_frame(toggle));
}

Tap tap_back(UIApplication* app) {
    UINavigationBar* bar = find_first<UINavigationBar>(laid_out_window(app));
    UIButton* back = bar != nullptr ? bar->backButton() : nullptr;
    if (back == nullptr || back->isHidden()) return Tap::Missing;
    return tap_at(app, back, visible_frame(back));
}

Tap dismiss_alert(UIApplication* app) {
    const UIAlertView* alert = app->visibleAlert();
    if (alert == nullptr || alert->numberOfButtons() == 0) return Tap::Missing;
    const CGRect button = alert->layoutInScreen(app->mainScreen()->bounds().size).buttons.front();
    app->tapAtPoint({CGRectGetMidX(button), CGRectGetMidY(button)});
    return Tap::Done;
}

bool scroll_to_row(UIApplication* app, NSIndexPath row) {
    laid_out_window(app);
    UITableView* table = top_table(app);
    if (table == nullptr || row.section < 0 || row.section >= table->numberOfSections() || row.row < 0 ||
        row.row >= table->numberOfRowsInSection(row.section)) {
        return false;
    }
    const double top = table->rectForRowAtIndexPath(row).origin.y;
    table->scrollBy({0, top - table->contentOffset().y});
    table->layoutIfNeeded();
    return true;
}

bool shows_text(UIApplication* app, const std::string& text) {
    laid_out_window(app);
    return dump_shows_text(app->dumpJSON(), text);
}

bool dump_shows_text(const JSON& dump, const std::string& text) {
    bool found = false;
    collect_texts(dump, text, &found);
    return found;
}

}  // namespace vgps::finger
