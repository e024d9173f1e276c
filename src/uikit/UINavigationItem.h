// What a screen shows in the navigation bar: its title, and the back bar
// button item that the screens pushed on top of it show as their back
// button.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vgps {

class UIBarButtonItem {
public:
    enum Style : int { UIBarButtonItemStylePlain = 0, UIBarButtonItemStyleBordered = 1, UIBarButtonItemStyleDone = 2 };
    using Action = std::function<void(UIBarButtonItem* sender)>;

    // initWithTitle:style:target:action:; an empty action is "no target,
    // no action".
    UIBarButtonItem(std::optional<std::string> title, int style, Action action = {})
        : title_(std::move(title)), style_(style), action_(std::move(action)) {}
    static std::shared_ptr<UIBarButtonItem> initWithTitle_style_target_action(std::optional<std::string> title,
                                                                             int style, Action action = {}) {
        return std::make_shared<UIBarButtonItem>(std::move(title), style, std::move(action));
    }

    const std::optional<std::string>& title() const { return title_; }
    int style() const { return style_; }
    void send() {
        if (action_) action_(this);
    }

private:
    std::optional<std::string> title_;
    int style_;
    Action action_;
};

class UINavigationItem {
public:
    const std::optional<std::string>& title() const { return title_; }
    void setTitle(std::optional<std::string> title);
    const std::shared_ptr<UIBarButtonItem>& backBarButtonItem() const { return back_; }
    void setBackBarButtonItem(std::shared_ptr<UIBarButtonItem> item);

private:
    friend class UIViewController;
    std::function<void()> changed_;
    std::optional<std::string> title_;
    std::shared_ptr<UIBarButtonItem> back_;
};

}  // namespace vgps
