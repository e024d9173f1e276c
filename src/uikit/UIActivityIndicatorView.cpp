#include "uikit/UIActivityIndicatorView.h"

namespace vgps {

UIActivityIndicatorView::UIActivityIndicatorView(int style)
    : UIView(style == UIActivityIndicatorViewStyleWhiteLarge ? CGRectMake(0, 0, 37, 37) : CGRectMake(0, 0, 20, 20)),
      style_(style) {
    setUserInteractionEnabled(false);
    setHidden(true);
}

void UIActivityIndicatorView::startAnimating() {
    if (animating_) return;
    animating_ = true;
    setHidden(false);
    setNeedsDisplay();
}

void UIActivityIndicatorView::stopAnimating() {
    if (!animating_) return;
    animating_ = false;
    if (hidesWhenStopped_) setHidden(true);
    setNeedsDisplay();
}

void UIActivityIndicatorView::setHidesWhenStopped(bool hides) {
    hidesWhenStopped_ = hides;
    if (!animating_) setHidden(hides);
}

void UIActivityIndicatorView::dumpProperties(JSON& out) const {
    out["style"] = style_;
    out["animating"] = animating_;
}

}  // namespace vgps
