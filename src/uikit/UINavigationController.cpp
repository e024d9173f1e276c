#include "uikit/UINavigationController.h"

#include "uikit/UIApplication.h"

namespace vgps {

// The stack's view: the bar along the top, the top screen's view below it.
class UINavigationController::ContainerView : public UIView {
public:
    ContainerView(CGRect frame, UINavigationController* nav) : UIView(frame), nav_(nav) {}
    void layoutSubviews() override {
        if (nav_ == nullptr) return;
        if (nav_->bar_) nav_->bar_->setFrame(CGRectMake(0, 0, bounds().size.width, UINavigationBar::kHeight));
        UIViewController* top = nav_->topViewController();
        if (top != nullptr && top->isViewLoaded()) top->view()->setFrame(nav_->contentFrame());
    }

    UINavigationController* nav_;
};

UINavigationController::UINavigationController(std::shared_ptr<UIViewController> root) {
    if (root) {
        root->navigationController_ = this;
        stack_.push_back(std::move(root));
    }
}

UINavigationController::~UINavigationController() {
    if (isViewLoaded()) {
        if (auto* container = dynamic_cast<ContainerView*>(view())) container->nav_ = nullptr;
    }
    for (auto& controller : stack_) {
        if (controller->navigationController_ == this) controller->navigationController_ = nullptr;
    }
}

UINavigationBar* UINavigationController::navigationBar() {
    view();
    return bar_.get();
}

CGRect UINavigationController::contentFrame() const {
    const CGSize size = isViewLoaded() ? const_cast<UINavigationController*>(this)->view()->bounds().size
                                       : initialViewFrame().size;
    return CGRectMake(0, UINavigationBar::kHeight, size.width, std::max(0.0, size.height - UINavigationBar::kHeight));
}

void UINavigationController::loadView() {
    auto container = std::make_shared<ContainerView>(initialViewFrame(), this);
    container->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    setView(container);
    bar_ = std::make_shared<UINavigationBar>(CGRectMake(0, 0, container->bounds().size.width, UINavigationBar::kHeight));
    bar_->setBackAction([this] { popViewControllerAnimated(true); });
    container->addSubview(bar_);
    updateNavigationBar();
    transition(nullptr, topViewController(), false);
}

void UINavigationController::transition(UIViewController* outgoing, UIViewController* incoming, bool animated) {
    if (!isViewLoaded()) return;
    UIView* container = view();
    const bool onScreen = container->window() != nullptr;
    if (onScreen && outgoing != nullptr) outgoing->viewWillDisappear(animated);
    if (incoming != nullptr) {
        UIView* v = incoming->view();
        v->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
        v->setFrame(contentFrame());
    }
    if (onScreen && incoming != nullptr) incoming->viewWillAppear(animated);
    if (outgoing != nullptr && outgoing->isViewLoaded() && outgoing->view()->superview() == container) {
        outgoing->view()->removeFromSuperview();
    }
    if (incoming != nullptr) container->insertSubview_atIndex(incoming->viewShared(), 0);
    if (onScreen && outgoing != nullptr) outgoing->viewDidDisappear(animated);
    if (onScreen && incoming != nullptr) incoming->viewDidAppear(animated);
}

void UINavigationController::pushViewController_animated(std::shared_ptr<UIViewController> controller, bool animated) {
    if (!controller || controller->navigationController_ != nullptr) return;  // already in a stack
    UIViewController* outgoing = topViewController();
    controller->navigationController_ = this;
    stack_.push_back(controller);
    transition(outgoing, controller.get(), animated);
    updateNavigationBar();
}

std::shared_ptr<UIViewController> UINavigationController::popViewControllerAnimated(bool animated) {
    if (stack_.size() < 2) return nullptr;
    std::shared_ptr<UIViewController> popped = stack_.back();
    stack_.pop_back();
    transition(popped.get(), topViewController(), animated);
    popped->navigationController_ = nullptr;
    updateNavigationBar();
    UIApplication::sharedApplication()->releaseLater(popped);
    return popped;
}

void UINavigationController::updateNavigationBar() {
    if (!bar_ || stack_.empty()) return;
    std::optional<std::string> back;
    if (stack_.size() >= 2) {
        const UIViewController* below = stack_[stack_.size() - 2].get();
        const auto& item = below->navigationItem()->backBarButtonItem();
        if (item && item->title()) {
            back = item->title();
        } else {
            back = below->displayTitle().value_or("Back");
        }
    }
    bar_->setTitle_backTitle(stack_.back()->displayTitle(), back);
}

void UINavigationController::viewWillAppear(bool animated) {
    if (UIViewController* top = topViewController()) top->viewWillAppear(animated);
}

void UINavigationController::viewDidAppear(bool animated) {
    if (UIViewController* top = topViewController()) top->viewDidAppear(animated);
}

void UINavigationController::viewWillDisappear(bool animated) {
    if (UIViewController* top = topViewController()) top->viewWillDisappear(animated);
}

void UINavigationController::viewDidDisappear(bool animated) {
    if (UIViewController* top = topViewController()) top->viewDidDisappear(animated);
}

void UINavigationController::didReceiveMemoryWarning() {
    UIViewController::didReceiveMemoryWarning();
    const auto stack = stack_;
    for (const auto& controller : stack) controller->didReceiveMemoryWarning();
}

bool UINavigationController::shouldAutorotateToInterfaceOrientation(int orientation) {
    UIViewController* top = topViewController();
    return top != nullptr ? top->shouldAutorotateToInterfaceOrientation(orientation)
                          : UIViewController::shouldAutorotateToInterfaceOrientation(orientation);
}

}  // namespace vgps
