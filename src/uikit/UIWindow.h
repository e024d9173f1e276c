// The window: the root of the view tree a front-end draws, the size of the
// screen. makeKeyAndVisible makes it the application's key window, the one
// that receives taps and is dumped.
#pragma once

#include <memory>

#include "uikit/UIView.h"

namespace vgps {

class UIApplication;
class UIViewController;

class UIWindow : public UIView {
public:
    explicit UIWindow(CGRect frame);
    ~UIWindow() override;
    const char* className() const override { return "UIWindow"; }

    void makeKeyAndVisible();
    bool isKeyWindow() const;

    // The controller whose view fills the window; its view is added.
    UIViewController* rootViewController() const { return root_.get(); }
    void setRootViewController(std::shared_ptr<UIViewController> controller);

private:
    friend class UIApplication;
    UIApplication* app_ = nullptr;
    std::shared_ptr<UIViewController> root_;
};

}  // namespace vgps
