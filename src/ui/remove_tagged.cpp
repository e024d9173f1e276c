#include "ui/remove_tagged.h"

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

}  // namespace vgps
