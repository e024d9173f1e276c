#include "ui/FindMoreView.h"

#include "platform/localization.h"
#include "ui/cell_accessories.h"

namespace vgps {

FindMoreView::FindMoreView(int style, std::optional<std::string> reuseIdentifier)
    : UITableViewCell(style, std::move(reuseIdentifier)) {
    textLabel()->setText(localized_string("Discover more ..."));
}

UIActivityIndicatorView* FindMoreView::activityView() {
    if (!activityView_) activityView_ = make_cell_spinner(kAccessoryTag);
    return activityView_.get();
}

void FindMoreView::setSearching(bool searching) {
    if (searching) {
        activityView()->startAnimating();
    } else {
        activityView()->stopAnimating();
    }
    setNeedsLayout();
}

void FindMoreView::layoutSubviews() {
    UITableViewCell::layoutSubviews();
    UIView* content = contentView();
    remove_tagged_views(content, kAccessoryTag, 1);
    imageView()->setImage(nullptr);
    const double w = content->frame().size.width;
    activityView()->setFrame(CGRectMake(w - 40, 8, 25, 25));
    if (activityView_->isAnimating()) {
        textLabel()->setText(localized_string("Searching ..."));
        content->addSubview(activityView_);
    } else {
        textLabel()->setText(localized_string("Discover more ..."));
    }
}

}  // namespace vgps
