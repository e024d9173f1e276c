#include "ui/BTDeviceView.h"

#include "registry/BTDevice.h"
#include "ui/cell_accessories.h"
#include "uikit/UIImage.h"

namespace vgps {

BTDeviceView::BTDeviceView(int style, std::optional<std::string> reuseIdentifier)
    : UITableViewCell(style, std::move(reuseIdentifier)) {
    titleLabel_ = std::make_shared<UILabel>();
    descLabel_ = std::make_shared<UILabel>();
    descLabel_->setAdjustsFontSizeToFitWidth(true);
    descLabel_->setFont(UIFont::fontWithName_size("Arial", 14));
    contentView()->addSubview(titleLabel_);
    contentView()->addSubview(descLabel_);
}

BTDeviceView::~BTDeviceView() {
    // The button may outlive the cell; its action must not reach it.
    if (bookmarkButton_) bookmarkButton_->removeTarget_forControlEvents(this, UIControlEventTouchUpInside);
}

void BTDeviceView::setState(int32_t state) {
    state_ = state;
    layoutSubviews();
}

UIActivityIndicatorView* BTDeviceView::activityView() {
    if (!activityView_) activityView_ = make_cell_spinner(kAccessoryTag);
    return activityView_.get();
}

UIButton* BTDeviceView::bookmarkButton() {
    if (!bookmarkButton_) {
        auto button = UIButton::buttonWithType(UIButtonTypeCustom);
        button->setFrame(CGRectMake(0, 0, 26, 34));
        button->setTag(kAccessoryTag);
        button->setImage_forState(UIImage::imageNamed("bookmark-PDF.png"), UIControlStateNormal);
        setBookmarkButton(std::move(button));
    }
    return bookmarkButton_.get();
}

void BTDeviceView::setBookmarkButton(std::shared_ptr<UIButton> button) {
    if (bookmarkButton_) bookmarkButton_->removeTarget_forControlEvents(this, UIControlEventTouchUpInside);
    bookmarkButton_ = std::move(button);
    if (bookmarkButton_) {
        bookmarkButton_->addTarget_action_forControlEvents(
            this, [this](UIControl*) { bookmarkButtonPressed(); }, UIControlEventTouchUpInside);
    }
}

void BTDeviceView::bookmarkButtonPressed() {
    if (delegate_ != nullptr) delegate_->bookmarkButtonPressedInBTDeviceView(this);
}

void BTDeviceView::layoutSubviews() {
    UITableViewCell::layoutSubviews();
    UIView* content = contentView();
    remove_tagged_views(content, kAccessoryTag);
    imageView()->setImage(nullptr);
    descLabel_->setTextColor(UIColor::darkGrayColor());

    const double w = content->frame().size.width;
    // Any other state keeps the frames and fonts of the previous layout.
    if (state_ == BTDeviceStateIdle || state_ == BTDeviceStateConnecting || state_ == BTDeviceStateConnected) {
        // Idle rows start at the left; the others leave room for the spinner
        // or the check mark.
        const double x = state_ == BTDeviceStateIdle ? 16 : 45;
        const double inset = state_ == BTDeviceStateIdle ? 30 : 50;
        titleLabel_->setFrame(CGRectMake(x, 8, w - inset, 22));
        descLabel_->setFrame(CGRectMake(x, 30, w - inset, 22));
        titleLabel_->setTextColor(UIColor::darkTextColor());
        titleLabel_->setFont(state_ == BTDeviceStateConnected ? UIFont::boldSystemFontOfSize(18)
                                                              : UIFont::systemFontOfSize(18));
    }
    if (state_ == BTDeviceStateConnecting) {
        activityView()->startAnimating();
        content->addSubview(activityView_);
    } else if (state_ == BTDeviceStateConnected) {
        imageView()->setImage(UIImage::imageNamed("checked.png"));
    }

    if (isSaved_) {
        UIButton* button = bookmarkButton();
        const char* normal = isBookmarked_ ? "bookmark-ribbon-small.png" : "bookmark-PDF.png";
        const char* pressed = isBookmarked_ ? "bookmark-PDF.png" : "bookmark-ribbon-small.png";
        button->setImage_forState(UIImage::imageNamed(normal), UIControlStateNormal);
        button->setImage_forState(UIImage::imageNamed(pressed), UIControlStateHighlighted);
        button->setFrame(CGRectMake(w - 40, -8, 26, 34));
        content->addSubview(bookmarkButton_);
    }
}

}  // namespace vgps
