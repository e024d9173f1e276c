// The application delegate: when launching has finished it builds the one
// window and the navigation stack whose root is the main screen. Putting
// the stack's view into the window loads the main screen, which shows the
// demonstration notice and connects to the daemon. Nothing is saved or
// touched when the application goes to the background or ends.
#pragma once

#include <memory>

#include "link/DaemonManager.h"
#include "platform/notification_center.h"
#include "ui/RootViewController.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIWindow.h"

namespace vgps {

class vexod_gps_trialAppDelegate : public UIApplicationDelegate {
public:
    // On the process-wide daemon manager and notification centre.
    vexod_gps_trialAppDelegate();
    // On a manager and a centre of the caller's (not owned).
    vexod_gps_trialAppDelegate(DaemonManager* manager, NotificationCenter* center);
    ~vexod_gps_trialAppDelegate() override;

    bool application_didFinishLaunchingWithOptions(UIApplication* application,
                                                   const UIApplicationLaunchOptions* options) override;

    UIWindow* window() const { return window_.get(); }
    void setWindow(std::shared_ptr<UIWindow> window) { window_ = std::move(window); }
    UINavigationController* navigationController() const { return navigationController_.get(); }
    void setNavigationController(std::shared_ptr<UINavigationController> controller) {
        navigationController_ = std::move(controller);
    }
    // The bottom of the stack, or null before the launch.
    RootViewController* rootViewController() const;

private:
    DaemonManager* manager_;
    NotificationCenter* center_;
    std::shared_ptr<UIWindow> window_;
    std::shared_ptr<UINavigationController> navigationController_;
};

}  // namespace vgps
