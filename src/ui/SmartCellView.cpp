#include "ui/SmartCellView.h"

#include <typeinfo>

#include "uikit/UISegmentedControl.h"

namespace vgps {

void SmartCellView::layoutSubviews() {
    UITableViewCell::layoutSubviews();
    UIView* content = contentView();
    const CGRect b = content->bounds();
    const double w = content->frame().size.width;
    for (const auto& v : std::vector<std::shared_ptr<UIView>>(content->subviews())) {
        if (v.get() == textLabelIfMade()) continue;
        // Exactly the segmented control, not a class made from it.
        if (typeid(*v) == typeid(UISegmentedControl)) {
            v->setFrame(CGRectMake(b.origin.x - 1, b.origin.y - 1, b.size.width + 2, b.size.height + 3));
        } else {
            const CGRect f = v->frame();
            v->setFrame(CGRectMake(w - f.size.width - 10, f.origin.y, f.size.width, f.size.height));
        }
    }
}

}  // namespace vgps
