// The row of one device in the main screen's list: a title line and a
// description line, a look that follows the device's connection state
// (plain; a spinner while connecting; a check mark and a bold title once
// connected) and, for a remembered device, a bookmark ribbon button whose
// presses go to the delegate. The cell holds no device: the main screen
// pushes the values in each time it hands the cell out.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "uikit/UIActivityIndicatorView.h"
#include "uikit/UIButton.h"
#include "uikit/UILabel.h"
#include "uikit/UITableViewCell.h"

namespace vgps {

class BTDeviceView;

class BTDeviceViewDelegate {
public:
    virtual ~BTDeviceViewDelegate() = default;
    virtual void bookmarkButtonPressedInBTDeviceView(BTDeviceView* view) = 0;
};

class BTDeviceView : public UITableViewCell {
public:
    // The tag of the views that each layout takes away and puts back.
    static constexpr int kAccessoryTag = 3;

    // initWithStyle:reuseIdentifier:
    BTDeviceView(int style, std::optional<std::string> reuseIdentifier);
    ~BTDeviceView() override;
    const char* className() const override { return "BTDeviceView"; }

    void setTitle(std::optional<std::string> title) { titleLabel_->setText(std::move(title)); }
    void setDescription(std::optional<std::string> description) { descLabel_->setText(std::move(description)); }
    // Stores the state (BTDevice.state values) and lays the cell out at once.
    void setState(int32_t state);
    int32_t state() const { return state_; }
    int32_t getState() const { return state_; }
    // Stored only: the next layout shows them.
    void setIsSaved(bool saved) { isSaved_ = saved; }
    bool isSaved() const { return isSaved_; }
    void setIsBookmarked(bool bookmarked) { isBookmarked_ = bookmarked; }
    bool isBookmarked() const { return isBookmarked_; }
    void setDelegate(BTDeviceViewDelegate* delegate) { delegate_ = delegate; }
    BTDeviceViewDelegate* delegate() const { return delegate_; }

    UILabel* titleLabel() const { return titleLabel_.get(); }
    UILabel* descLabel() const { return descLabel_.get(); }
    // Made on first use.
    UIActivityIndicatorView* activityView();
    UIButton* bookmarkButton();
    void setBookmarkButton(std::shared_ptr<UIButton> button);

    // The bookmark button's action: tells the delegate, if there is one.
    void bookmarkButtonPressed();

    void layoutSubviews() override;

private:
    std::shared_ptr<UILabel> titleLabel_;
    std::shared_ptr<UILabel> descLabel_;
    std::shared_ptr<UIActivityIndicatorView> activityView_;
    int32_t state_ = 0;
    bool isSaved_ = false;
    bool isBookmarked_ = false;
    std::shared_ptr<UIButton> bookmarkButton_;
    BTDeviceViewDelegate* delegate_ = nullptr;
};

}  // namespace vgps
