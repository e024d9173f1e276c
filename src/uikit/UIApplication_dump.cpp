// The dump of the key window and what stands on it:
//   {"screens":[{"class","title","back"}…],   bottom to top
//    "alerts":[{"title","message","buttons"}…], first shown first
//    "window": VIEW or null}
#include "uikit/UIAlertView.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIWindow.h"

namespace vgps {
namespace {

JSON screen_entry(const UIViewController* controller) {
    const auto& back = controller->navigationItem()->backBarButtonItem();
    return {{"class", controller->className()},
            {"title", dump_optional(controller->displayTitle())},
            {"back", back ? dump_optional(back->title()) : JSON(nullptr)}};
}

}  // namespace

JSON UIApplication::dumpJSON() const {
    JSON screens = JSON::array();
    if (keyWindow_ != nullptr) {
        for (const auto& view : keyWindow_->subviews()) {
            const UIViewController* controller = view->viewController();
            if (controller == nullptr) continue;
            if (auto* nav = dynamic_cast<const UINavigationController*>(controller)) {
                for (const auto& screen : nav->viewControllers()) screens.push_back(screen_entry(screen.get()));
            } else {
                screens.push_back(screen_entry(controller));
            }
        }
    }
    JSON alerts = JSON::array();
    for (const auto& alert : alerts_) {
        alerts.push_back({{"title", dump_optional(alert->title())},
                          {"message", dump_optional(alert->message())},
                          {"buttons", alert->buttonTitles()}});
    }
    JSON out = JSON::object();
    out["screens"] = std::move(screens);
    out["alerts"] = std::move(alerts);
    out["window"] = keyWindow_ != nullptr ? keyWindow_->dump() : JSON(nullptr);
    return out;
}

}  // namespace vgps
