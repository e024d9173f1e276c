#include "uikit/UISwitch.h"

namespace vgps {

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
