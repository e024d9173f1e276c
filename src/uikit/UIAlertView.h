// An alert: a title, a message and buttons, the cancel button first.
// show() puts it in the application's queue; the first alert of the queue
// is on screen until a button dismisses it, then the next one is. The
// queue keeps each alert alive until it is dismissed.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "uikit/CGGeometry.h"

namespace vgps {

class UIAlertView;

// Both operations are optional: an alert delegate that handles no alert
// event leaves them as they are.
class UIAlertViewDelegate {
public:
    virtual ~UIAlertViewDelegate() = default;
    virtual void alertView_clickedButtonAtIndex(UIAlertView* /*alertView*/, int /*buttonIndex*/) {}
    virtual void alertView_didDismissWithButtonIndex(UIAlertView* /*alertView*/, int /*buttonIndex*/) {}
};

// Where the parts of an alert stand on a screen, in window coordinates.
struct UIAlertViewLayout {
    CGRect box, title, message;
    std::vector<CGRect> buttons;
};

class UIAlertView {
public:
    static constexpr double kWidth = 284;

    // initWithTitle:message:delegate:cancelButtonTitle:otherButtonTitles:
    static std::shared_ptr<UIAlertView> initWithTitle_message_delegate_cancelButtonTitle_otherButtonTitles(
        std::optional<std::string> title, std::optional<std::string> message, UIAlertViewDelegate* delegate,
        std::optional<std::string> cancelButtonTitle, std::vector<std::string> otherButtonTitles = {});

    const std::optional<std::string>& title() const { return title_; }
    const std::optional<std::string>& message() const { return message_; }
    UIAlertViewDelegate* delegate() const { return delegate_; }
    void setDelegate(UIAlertViewDelegate* delegate) { delegate_ = delegate; }
    // Cancel button first, then the others; -1 without a cancel button.
    int cancelButtonIndex() const { return hasCancel_ ? 0 : -1; }
    int numberOfButtons() const { return static_cast<int>(buttons_.size()); }
    std::string buttonTitleAtIndex(int index) const;
    const std::vector<std::string>& buttonTitles() const { return buttons_; }

    // Queues the alert in the current application (once).
    void show();
    // In the queue, whether first or waiting.
    bool isQueued() const { return queued_; }
    // On screen: first in the queue.
    bool isVisible() const;
    // As if the button had been tapped: the delegate hears of it and the
    // alert leaves the queue.
    void dismissWithClickedButtonIndex_animated(int buttonIndex, bool animated);

    // Where the box, texts and buttons go on a screen of `screen` points:
    // centred, 284 wide, buttons side by side when there are two, else
    // stacked; text heights estimated from the font sizes (title 18 bold,
    // message 16, 20-point lines).
    UIAlertViewLayout layoutInScreen(CGSize screen) const;

    UIAlertView(std::optional<std::string> title, std::optional<std::string> message, UIAlertViewDelegate* delegate,
                std::optional<std::string> cancelButtonTitle, std::vector<std::string> otherButtonTitles);

private:
    friend class UIApplication;
    friend class KitAlertPresenter;
    std::weak_ptr<UIAlertView> self_;
    std::shared_ptr<UIAlertViewDelegate> ownedDelegate_;  // for alerts of platform/alert.h
    std::optional<std::string> title_;
    std::optional<std::string> message_;
    UIAlertViewDelegate* delegate_;
    std::vector<std::string> buttons_;
    bool hasCancel_;
    bool queued_ = false;
    bool dismissed_ = false;
};

}  // namespace vgps
