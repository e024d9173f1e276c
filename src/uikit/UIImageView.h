// Shows one image (or nothing) in its frame. Takes no touches.
#pragma once

#include <functional>
#include <memory>

#include "uikit/UIImage.h"
#include "uikit/UIView.h"

namespace vgps {

class UIImageView : public UIView {
public:
    explicit UIImageView(CGRect frame = {});
    // initWithImage: a frame of the image's size at (0, 0).
    explicit UIImageView(std::shared_ptr<UIImage> image);
    const char* className() const override { return "UIImageView"; }

    const std::shared_ptr<UIImage>& image() const { return image_; }
    void setImage(std::shared_ptr<UIImage> image);

protected:
    void dumpProperties(JSON& out) const override;
    // Called after the image changed (a table cell places its image view).
    virtual void imageChanged() {}

private:
    std::shared_ptr<UIImage> image_;
};

}  // namespace vgps
