#include "uikit/UITableViewCell.h"

#include <algorithm>
#include <cmath>

namespace vgps {

// The cell's own image view: a new image moves it, and the text label
// beside it, at once.
class UITableViewCell::CellImageView : public UIImageView {
public:
    explicit CellImageView(UITableViewCell* cell) : cell_(cell) {}
    void imageChanged() override {
        if (cell_ != nullptr) cell_->placeStandardViews();
    }
    UITableViewCell* cell_;
};

UITableViewCell::UITableViewCell(int style, std::optional<std::string> reuseIdentifier)
    : UIView(CGRectMake(0, 0, 320, 44)), style_(style), reuseIdentifier_(std::move(reuseIdentifier)) {
    contentView_ = std::make_shared<UIView>(bounds());
    addSubview(contentView_);
}

UITableViewCell::~UITableViewCell() {
    if (auto* image = dynamic_cast<CellImageView*>(imageView_.get())) image->cell_ = nullptr;
}

UILabel* UITableViewCell::textLabel() {
    if (!textLabel_) {
        textLabel_ = std::make_shared<UILabel>();
        textLabel_->setFont(UIFont::boldSystemFontOfSize(20));
        contentView_->addSubview(textLabel_);
        placeStandardViews();
    }
    return textLabel_.get();
}

UIImageView* UITableViewCell::imageView() {
    if (!imageView_) {
        imageView_ = std::make_shared<CellImageView>(this);
        contentView_->addSubview(imageView_);
        placeStandardViews();
    }
    return imageView_.get();
}

void UITableViewCell::setAccessoryType(int type) {
    if (changeProperty(accessoryType_, type)) setNeedsLayout();
}

CGRect UITableViewCell::accessoryFrame() const {
    if (accessoryType_ == UITableViewCellAccessoryNone) return {};
    const CGRect b = bounds();
    return CGRectMake(b.size.width - kAccessoryWidth, 0, kAccessoryWidth, b.size.height);
}

void UITableViewCell::setSelected_animated(bool selected, bool /*animated*/) { changeProperty(selected_, selected); }

void UITableViewCell::setHighlighted_animated(bool highlighted, bool /*animated*/) {
    changeProperty(highlighted_, highlighted);
}

void UITableViewCell::layoutSubviews() {
    const CGRect b = bounds();
    const double accessory = accessoryType_ == UITableViewCellAccessoryNone ? 0 : kAccessoryWidth;
    contentView_->setFrame(CGRectMake(0, 0, std::max(0.0, b.size.width - accessory), b.size.height));
    placeStandardViews();
}

void UITableViewCell::placeStandardViews() {
    const CGRect cb = contentView_->bounds();
    double textX = kMargin;
    if (imageView_) {
        if (const auto& image = imageView_->image()) {
            const CGSize s = image->size();
            imageView_->setFrame(CGRectMake(kMargin, std::round((cb.size.height - s.height) / 2), s.width, s.height));
            textX = kMargin + s.width + kMargin;
        } else {
            imageView_->setFrame({});
        }
    }
    if (textLabel_) {
        textLabel_->setFrame(CGRectMake(textX, 0, std::max(0.0, cb.size.width - textX - kMargin), cb.size.height));
    }
}

void UITableViewCell::dumpProperties(JSON& out) const {
    out["reuse"] = dump_optional(reuseIdentifier_);
    out["accessory"] = accessoryType_;
    out["selected"] = selected_;
    out["indexPath"] = indexPath_ ? JSON::array({indexPath_->section, indexPath_->row}) : JSON(nullptr);
}

}  // namespace vgps
