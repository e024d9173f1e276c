#include "ui/vexod_gps_trialAppDelegate.h"

#include "uikit/UIScreen.h"

namespace vgps {

vexod_gps_trialAppDelegate::vexod_gps_trialAppDelegate()
    : vexod_gps_trialAppDelegate(DaemonManager::sharedManager(), NotificationCenter::defaultCenter()) {}

vexod_gps_trialAppDelegate::vexod_gps_trialAppDelegate(DaemonManager* manager, NotificationCenter* center)
    : manager_(manager), center_(center) {}

vexod_gps_trialAppDelegate::~vexod_gps_trialAppDelegate() {
    // The stack first, then the window that shows it.
    navigationController_.reset();
    window_.reset();
}

bool vexod_gps_trialAppDelegate::application_didFinishLaunchingWithOptions(UIApplication* application,
                                                                         const UIApplicationLaunchOptions*) {
    window_ = std::make_shared<UIWindow>(application->mainScreen()->bounds());
    if (!window_) return false;
    window_->setBackgroundColor(UIColor::blackColor());
    auto root = std::make_shared<RootViewController>(manager_, center_);
    navigationController_ = std::make_shared<UINavigationController>(root);
    // Loads the main screen: the notice, the banner, the daemon connection.
    window_->addSubview(navigationController_->viewShared());
    window_->makeKeyAndVisible();
    return true;
}

RootViewController* vexod_gps_trialAppDelegate::rootViewController() const {
    if (!navigationController_ || navigationController_->viewControllers().empty()) return nullptr;
    return dynamic_cast<RootViewController*>(navigationController_->viewControllers().front().get());
}

}  // namespace vgps
