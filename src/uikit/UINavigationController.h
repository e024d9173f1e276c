// The navigation stack: screens pushed on top of a root, a navigation bar
// above the top screen, and the top screen's view in the area below it.
#pragma once

#include <memory>
#include <vector>

#include "uikit/UINavigationBar.h"
#include "uikit/UIViewController.h"

namespace vgps {

class UINavigationController : public UIViewController {
public:
    // initWithRootViewController:
    explicit UINavigationController(std::shared_ptr<UIViewController> root);
    ~UINavigationController() override;
    const char* className() const override { return "UINavigationController"; }

    // Bottom to top.
    const std::vector<std::shared_ptr<UIViewController>>& viewControllers() const { return stack_; }
    UIViewController* topViewController() const { return stack_.empty() ? nullptr : stack_.back().get(); }
    UIViewController* visibleViewController() const { return topViewController(); }
    UINavigationBar* navigationBar();

    void pushViewController_animated(std::shared_ptr<UIViewController> controller, bool animated);
    // Null when only the root is left. The popped screen is kept until the
    // next run-loop turn, so a screen may pop itself.
    std::shared_ptr<UIViewController> popViewControllerAnimated(bool animated);

    // Where the top screen's view goes: below the bar, in the stack's view.
    CGRect contentFrame() const;
    void updateNavigationBar();

    void loadView() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void didReceiveMemoryWarning() override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

private:
    class ContainerView;
    // Puts `incoming` in place of `outgoing` (either may be null), with the
    // appearance calls when the stack is on screen.
    void transition(UIViewController* outgoing, UIViewController* incoming, bool animated);

    std::vector<std::shared_ptr<UIViewController>> stack_;
    std::shared_ptr<UINavigationBar> bar_;
};

}  // namespace vgps
