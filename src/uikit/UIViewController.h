// A screen: it owns its view, made on first use by loadView and then
// completed by viewDidLoad, and hears when the view appears and
// disappears. A screen stands in a navigation stack or alone in a window.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "uikit/UINavigationItem.h"
#include "uikit/UIView.h"

namespace vgps {

class UINavigationController;

enum UIInterfaceOrientation : int {
    UIInterfaceOrientationPortrait = 1,
    UIInterfaceOrientationPortraitUpsideDown = 2,
    UIInterfaceOrientationLandscapeRight = 3,
    UIInterfaceOrientationLandscapeLeft = 4,
};

class UIViewController {
public:
    UIViewController();
    virtual ~UIViewController();
    UIViewController(const UIViewController&) = delete;
    UIViewController& operator=(const UIViewController&) = delete;

    virtual const char* className() const { return "UIViewController"; }

    // The view, loaded on first use (loadView, then viewDidLoad).
    UIView* view();
    std::shared_ptr<UIView> viewShared();
    bool isViewLoaded() const { return view_ != nullptr; }
    void setView(std::shared_ptr<UIView> view);

    // Makes the view; the default is a plain view of initialViewFrame().
    virtual void loadView();
    virtual void viewDidLoad() {}
    // Called after the view was released by a memory warning.
    virtual void viewDidUnload() {}
    virtual void viewWillAppear(bool /*animated*/) {}
    virtual void viewDidAppear(bool /*animated*/) {}
    virtual void viewWillDisappear(bool /*animated*/) {}
    virtual void viewDidDisappear(bool /*animated*/) {}
    // Releases the view when it is in no window (then viewDidUnload).
    virtual void didReceiveMemoryWarning();
    // Portrait only, unless a screen says otherwise.
    virtual bool shouldAutorotateToInterfaceOrientation(int orientation) {
        return orientation == UIInterfaceOrientationPortrait;
    }

    // The title; the navigation bar shows the navigation item's title, or
    // this one when the item has none.
    const std::optional<std::string>& title() const { return title_; }
    void setTitle(std::optional<std::string> title);
    UINavigationItem* navigationItem() { return &navigationItem_; }
    const UINavigationItem* navigationItem() const { return &navigationItem_; }
    // The title shown for this screen: the navigation item's, else title().
    std::optional<std::string> displayTitle() const;
    // The stack the screen stands in, or null.
    UINavigationController* navigationController() const { return navigationController_; }

    // The frame the view gets where the screen stands: the content area of
    // its navigation stack, else the screen's application frame.
    CGRect initialViewFrame() const;

    // The view entered or left a window by itself (not as part of a
    // navigation stack, which tells its screens): appearance calls.
    void viewMovedInTree();

private:
    friend class UINavigationController;
    void navigationItemChanged();

    std::shared_ptr<UIView> view_;
    std::optional<std::string> title_;
    UINavigationItem navigationItem_;
    UINavigationController* navigationController_ = nullptr;
    bool appeared_ = false;
};

}  // namespace vgps
