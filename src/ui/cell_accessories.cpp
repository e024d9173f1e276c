#include "ui/cell_accessories.h"

namespace vgps {

void remove_tagged_views(UIView* container, int tag, int limit) {
    for (int removed = 0; limit < 0 || removed < limit; ++removed) {
        UIView* found = nullptr;
        for (const auto& child : container->subviews()) {
            if ((found = child->viewWithTag(tag)) != nullptr) break;
        }
        if (found == nullptr) return;
        found->removeFromSuperview();
    }
}

std::shared_ptr<UIActivityIndicatorView> make_cell_spinner(int tag) {
    auto spinner = std::make_shared<UIActivityIndicatorView>(UIActivityIndicatorViewStyleGray);
    spinner->setFrame(CGRectMake(10, 13, 25, 25));
    spinner->setTag(tag);
    return spinner;
}

}  // namespace vgps
