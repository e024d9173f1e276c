#include "uikit/UISegmentedControl.h"

#include <algorithm>

namespace vgps {

std::string UISegmentedControl::titleForSegmentAtIndex(int index) const {
    return index >= 0 && index < numberOfSegments() ? items_[static_cast<size_t>(index)] : std::string();
}

void UISegmentedControl::setSelectedSegmentIndex(int index) {
    if (index >= kNoSegment && index < numberOfSegments()) changeProperty(selected_, index);
}

void UISegmentedControl::touchUp(CGPoint point) {
    setHighlighted(false);
    if (!pointInside(point) || items_.empty()) return;
    const double width = bounds().size.width / numberOfSegments();
    int index = width > 0 ? static_cast<int>((point.x - bounds().origin.x) / width) : 0;
    index = std::min(std::max(index, 0), numberOfSegments() - 1);
    if (index == selected_) return;
    setSelectedSegmentIndex(index);
    sendActionsForControlEvents(UIControlEventValueChanged);
}

void UISegmentedControl::dumpProperties(JSON& out) const {
    UIControl::dumpProperties(out);
    out["items"] = items_;
    out["selected"] = selected_;
}

}  // namespace vgps
