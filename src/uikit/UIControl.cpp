#include "uikit/UIControl.h"

#include <algorithm>

namespace vgps {

void UIControl::addTarget_action_forControlEvents(const void* target, Action action, uint32_t events) {
    targets_.push_back({target, std::move(action), events});
}

void UIControl::removeTarget_forControlEvents(const void* target, uint32_t events) {
    for (auto& t : targets_) {
        if (t.target == target) t.events &= ~events;
    }
    std::erase_if(targets_, [](const Target& t) { return t.events == 0; });
}

void UIControl::sendActionsForControlEvents(uint32_t events) {
    // Copies: an action may add or remove targets, or let go of the control.
    const auto targets = targets_;
    for (const auto& t : targets) {
        if ((t.events & events) != 0 && t.action) t.action(this);
    }
}

uint32_t UIControl::state() const {
    uint32_t state = UIControlStateNormal;
    if (highlighted_) state |= UIControlStateHighlighted;
    if (!enabled_) state |= UIControlStateDisabled;
    if (selected_) state |= UIControlStateSelected;
    return state;
}

void UIControl::touchDown(CGPoint /*point*/) {
    setHighlighted(true);
    sendActionsForControlEvents(UIControlEventTouchDown);
}

void UIControl::touchUp(CGPoint point) {
    setHighlighted(false);
    sendActionsForControlEvents(pointInside(point) ? UIControlEventTouchUpInside : UIControlEventTouchUpOutside);
}

void UIControl::dumpProperties(JSON& out) const {
    if (!enabled_) out["enabled"] = false;
}

}  // namespace vgps
