#include "uikit/UIWindow.h"

#include "uikit/UIApplication.h"
#include "uikit/UIViewController.h"

namespace vgps {

UIWindow::UIWindow(CGRect frame) : UIView(frame) {}

UIWindow::~UIWindow() {
    if (app_ != nullptr) app_->windowDestroyed(this);
}

void UIWindow::makeKeyAndVisible() {
    UIApplication* app = UIApplication::sharedApplication();
    app->setKeyWindow(this);
    setHidden(false);
    setNeedsDisplay();
}

bool UIWindow::isKeyWindow() const { return app_ != nullptr && app_->keyWindow() == this; }

void UIWindow::setRootViewController(std::shared_ptr<UIViewController> controller) {
    if (root_ && root_->isViewLoaded() && root_->view()->superview() == this) root_->view()->removeFromSuperview();
    root_ = std::move(controller);
    if (root_) {
        UIView* view = root_->view();
        view->setFrame(UIScreen::mainScreen()->applicationFrame());
        addSubview(root_->viewShared());
    }
}

}  // namespace vgps
