#include "uikit/UIViewController.h"

#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"

namespace vgps {

void UINavigationItem::setTitle(std::optional<std::string> title) {
    if (title_ == title) return;
    title_ = std::move(title);
    if (changed_) changed_();
}

void UINavigationItem::setBackBarButtonItem(std::shared_ptr<UIBarButtonItem> item) {
    back_ = std::move(item);
    if (changed_) changed_();
}

UIViewController::UIViewController() {
    navigationItem_.changed_ = [this] { navigationItemChanged(); };
}

UIViewController::~UIViewController() {
    if (view_ && view_->controller_ == this) view_->controller_ = nullptr;
}

UIView* UIViewController::view() {
    if (!view_) {
        loadView();
        if (!view_) setView(std::make_shared<UIView>(initialViewFrame()));
        viewDidLoad();
    }
    return view_.get();
}

std::shared_ptr<UIView> UIViewController::viewShared() {
    view();
    return view_;
}

void UIViewController::setView(std::shared_ptr<UIView> view) {
    if (view_ && view_->controller_ == this) view_->controller_ = nullptr;
    view_ = std::move(view);
    if (view_) view_->controller_ = this;
}

void UIViewController::loadView() {
    auto view = std::make_shared<UIView>(initialViewFrame());
    view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    view->setBackgroundColor(UIColor::whiteColor());
    setView(std::move(view));
}

void UIViewController::didReceiveMemoryWarning() {
    if (!view_ || view_->window() != nullptr) return;
    view_->removeFromSuperview();
    setView(nullptr);
    viewDidUnload();
}

void UIViewController::setTitle(std::optional<std::string> title) {
    if (title_ == title) return;
    title_ = std::move(title);
    navigationItemChanged();
}

std::optional<std::string> UIViewController::displayTitle() const {
    return navigationItem_.title() ? navigationItem_.title() : title_;
}

CGRect UIViewController::initialViewFrame() const {
    if (navigationController_ != nullptr) return navigationController_->contentFrame();
    return UIScreen::mainScreen()->applicationFrame();
}

void UIViewController::navigationItemChanged() {
    if (navigationController_ != nullptr) navigationController_->updateNavigationBar();
}

void UIViewController::viewMovedInTree() {
    if (navigationController_ != nullptr || !view_) return;
    const bool inWindow = view_->window() != nullptr;
    if (inWindow && !appeared_) {
        appeared_ = true;
        viewWillAppear(false);
        viewDidAppear(false);
    } else if (!inWindow && appeared_) {
        appeared_ = false;
        viewWillDisappear(false);
        viewDidDisappear(false);
    }
}

}  // namespace vgps
