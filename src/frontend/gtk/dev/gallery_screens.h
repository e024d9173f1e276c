// Two screens made of every kind of toolkit view, shaped like the
// application's own: a device list (a switch, device rows connecting and
// connected, a search row, section headers and footers, the banner) and an
// inspector (value rows and the map cell) that a tap on a device row
// pushes. For looking at the GTK front-end while working on it and for the
// front-ends' tests; the front-ends themselves never see these.
#pragma once

#include <memory>
#include <string>

#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UITableViewController.h"
#include "uikit/UIWindow.h"

namespace vgps::gallery {

class MainScreen;

class Gallery {
public:
    // Builds the window on `app` and makes it the key window.
    explicit Gallery(UIApplication* app);
    ~Gallery();

    UIWindow* window() const { return window_.get(); }
    UINavigationController* navigation() const { return navigation_.get(); }
    MainScreen* mainScreen() const { return main_.get(); }
    // The inspector on top of the stack, or null.
    UITableViewController* inspector() const;

    void pushInspector();
    // The alert the application shows at start.
    void showNotice();
    // A position as the inspector shows it: its labels, then the map.
    void showPosition(double latitude, double longitude, int fix, const std::string& utc);

private:
    UIApplication* app_;
    std::shared_ptr<MainScreen> main_;
    std::shared_ptr<UINavigationController> navigation_;
    std::shared_ptr<UIWindow> window_;
};

}  // namespace vgps::gallery
