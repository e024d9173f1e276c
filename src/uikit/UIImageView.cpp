#include "uikit/UIImageView.h"

namespace vgps {

UIImageView::UIImageView(CGRect frame) : UIView(frame) { setUserInteractionEnabled(false); }

UIImageView::UIImageView(std::shared_ptr<UIImage> image)
    : UIView(image ? CGRect{{0, 0}, image->size()} : CGRect{}), image_(std::move(image)) {
    setUserInteractionEnabled(false);
}

void UIImageView::setImage(std::shared_ptr<UIImage> image) {
    if (changeProperty(image_, std::move(image))) imageChanged();
}

void UIImageView::dumpProperties(JSON& out) const {
    out["image"] = image_ ? JSON(image_->name()) : JSON(nullptr);
}

}  // namespace vgps
