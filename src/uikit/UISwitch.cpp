#include "uikit/UISwitch.h"

namespace vgps {

void UISwitch::setOn(bool on) {
    if (on_ == on) return;
    on_ = on;
    setNeedsDisplay();
}

void UISwitch::setAlternateColors(bool alternate) {
    if (alternate_ == alternate) return;
    alternate_ = alternate;
    setNeedsDisplay();
}

void UISwitch::touchUp(CGPoint point) {
    setHighlighted(false);
    if (!pointInside(point)) return;
    setOn(!on_);
    sendActionsForControlEvents(UIControlEventValueChanged);
}

void UISwitch::dumpProperties(JSON& out) const {
    UIControl::dumpProperties(out);
    out["on"] = on_;
}

}  // namespace vgps
