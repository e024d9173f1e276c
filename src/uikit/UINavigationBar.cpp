#include "uikit/UINavigationBar.h"

#include <algorithm>

namespace vgps {
namespace {

constexpr double kBackX = 5, kBackY = 7, kBackHeight = 30, kBackPadding = 12;

}  // namespace

UINavigationBar::UINavigationBar(CGRect frame) : UIView(frame) {
    setBackgroundColor(UIColor::colorWithRed_green_blue_alpha(0.427, 0.518, 0.635, 1));
    setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    backButton_ = UIButton::buttonWithType(UIButtonTypeCustom);
    backButton_->setTitleFont(UIFont::boldSystemFontOfSize(12));
    backButton_->setHidden(true);
    backButton_->addTarget_action_forControlEvents(
        this,
        [this](UIControl*) {
            if (backAction_) backAction_();
        },
        UIControlEventTouchUpInside);
    titleLabel_ = std::make_shared<UILabel>();
    titleLabel_->setFont(UIFont::boldSystemFontOfSize(20));
    titleLabel_->setTextColor(UIColor::whiteColor());
    titleLabel_->setTextAlignment(UITextAlignmentCenter);
    addSubview(backButton_);
    addSubview(titleLabel_);
}

std::optional<std::string> UINavigationBar::backTitle() const {
    if (backButton_->isHidden()) return std::nullopt;
    return backButton_->titleForState(UIControlStateNormal);
}

void UINavigationBar::setTitle_backTitle(std::optional<std::string> title, std::optional<std::string> backTitle) {
    titleLabel_->setText(std::move(title));
    backButton_->setHidden(!backTitle.has_value());
    backButton_->setTitle_forState(std::move(backTitle), UIControlStateNormal);
    setNeedsLayout();
}

void UINavigationBar::layoutSubviews() {
    const double width = bounds().size.width;
    double backWidth = 0;
    if (auto title = backTitle()) {
        backWidth = std::min(backButton_->titleFont().estimatedWidthOfText(*title) + 2 * kBackPadding, width / 3);
    }
    backButton_->setFrame(CGRectMake(kBackX, kBackY, backWidth, kBackHeight));
    // The title stays centred on the bar, clear of the back button.
    const double side = backWidth > 0 ? kBackX + backWidth + 5 : 10;
    titleLabel_->setFrame(CGRectMake(side, 0, std::max(0.0, width - 2 * side), kHeight));
}

void UINavigationBar::dumpProperties(JSON& out) const {
    out["title"] = dump_optional(title());
    out["back"] = dump_optional(backTitle());
}

}  // namespace vgps
