// A view that shows part of a larger content: the content offset is the
// bounds origin, the content size how far it reaches. Clips to its bounds.
#pragma once

#include "uikit/UIView.h"

namespace vgps {

class UIScrollView : public UIView {
public:
    explicit UIScrollView(CGRect frame = {});
    const char* className() const override { return "UIScrollView"; }

    CGSize contentSize() const { return contentSize_; }
    void setContentSize(CGSize size) { changeProperty(contentSize_, size); }
    CGPoint contentOffset() const { return bounds().origin; }
    // Any offset, as asked (the toolkit does not hold it inside the content).
    void setContentOffset(CGPoint offset) { setBounds({offset, bounds().size}); }
    void setContentOffset_animated(CGPoint offset, bool /*animated*/) { setContentOffset(offset); }
    // The largest offset that still shows content at the bottom/right edge.
    CGPoint maximumContentOffset() const;
    // Scrolls by a finger's drag: the offset moves by `delta`, held between
    // zero and maximumContentOffset().
    void scrollBy(CGPoint delta);

protected:
    void dumpProperties(JSON& out) const override;

private:
    CGSize contentSize_;
};

}  // namespace vgps
