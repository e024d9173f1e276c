#include "uikit/UIScrollView.h"

#include <algorithm>

namespace vgps {

UIScrollView::UIScrollView(CGRect frame) : UIView(frame) { setClipsToBounds(true); }

CGPoint UIScrollView::maximumContentOffset() const {
    return {std::max(0.0, contentSize_.width - bounds().size.width),
            std::max(0.0, contentSize_.height - bounds().size.height)};
}

void UIScrollView::scrollBy(CGPoint delta) {
    const CGPoint max = maximumContentOffset();
    const CGPoint now = contentOffset();
    setContentOffset({std::clamp(now.x + delta.x, 0.0, max.x), std::clamp(now.y + delta.y, 0.0, max.y)});
}

void UIScrollView::dumpProperties(JSON& out) const {
    out["offset"] = JSON::array({contentOffset().x, contentOffset().y});
    out["contentSize"] = JSON::array({contentSize_.width, contentSize_.height});
}

}  // namespace vgps
