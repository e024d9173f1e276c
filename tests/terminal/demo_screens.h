// Screens drawn by the terminal front-end's unit tests: a navigation stack
// whose root is a grouped table with a switch row, device rows (idle,
// connecting, connected with the detail button, remembered and bookmarked),
// the search row, a footer, a banner and an optional alert; a device row or
// the detail button pushes a screen with four value rows and a map.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "ui/BTDeviceView.h"
#include "ui/FindMoreView.h"
#include "ui/MapViewCell.h"
#include "ui/SmartCellView.h"
#include "uikit/GADBannerView.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UISwitch.h"
#include "uikit/UITableViewController.h"
#include "uikit/UIWindow.h"

namespace vgps::demo {

inline std::shared_ptr<GADBannerView> place_banner(UIViewController* screen) {
    const double h = kGADAdSizeBannerHeight;
    auto banner = std::make_shared<GADBannerView>(
        CGRectMake(0, screen->view()->frame().size.height - h - UINavigationBar::kHeight, kGADAdSizeBannerWidth, h));
    banner->setRootViewController(screen);
    screen->view()->addSubview(banner);
    banner->loadRequest(GADRequest::request());
    return banner;
}

class Inspector : public UITableViewController {
public:
    Inspector() : UITableViewController(UITableViewStyleGrouped) {
        const char* titles[] = {"UTC", "FIX", "LON", "LAT"};
        const char* values[] = {"12:34:56", "3D", "11.516666", "48.117302"};
        for (int i = 0; i < 4; ++i) {
            titles_[i] = titles[i];
            values_[i] = std::make_shared<UILabel>(CGRectMake(100, 5, 200, 25));
            values_[i]->setText(values[i]);
            values_[i]->setTextAlignment(UITextAlignmentRight);
            values_[i]->setTextColor(UIColor::colorWithRed_green_blue_alpha(0.165, 0.216, 0.353, 1));
            values_[i]->setTag(8);
        }
    }
    void viewDidLoad() override {
        navigationItem()->setTitle("GPS Inspector");
        banner_ = place_banner(this);
    }
    void viewWillAppear(bool animated) override {
        UITableViewController::viewWillAppear(animated);
        move();
    }
    int numberOfSectionsInTableView(UITableView*) override { return 2; }
    int tableView_numberOfRowsInSection(UITableView*, int section) override { return section == 0 ? 4 : 1; }
    double tableView_heightForRowAtIndexPath(UITableView* table, NSIndexPath path) override {
        return path.section == 0 ? 32 : table->bounds().size.height - 168;
    }
    std::shared_ptr<UITableViewCell> tableView_cellForRowAtIndexPath(UITableView* table, NSIndexPath path) override {
        if (path.section == 1) {
            auto cell = table->dequeueReusableCellWithIdentifier("Cell1");
            if (!cell) cell = std::make_shared<MapViewCell>(UITableViewCellStyleDefault, "Cell1");
            return cell;
        }
        auto cell = table->dequeueReusableCellWithIdentifier("Cell");
        if (!cell) cell = std::make_shared<SmartCellView>(UITableViewCellStyleDefault, "Cell");
        if (UIView* old = cell->contentView()->viewWithTag(8)) old->removeFromSuperview();
        cell->textLabel()->setText(titles_[path.row]);
        cell->contentView()->addSubview(values_[path.row]);
        return cell;
    }

private:
    // A position just east of the map's centre.
    void move() {
        const CLLocationCoordinate2D here{48.117302, 11.518666};
        char text[32];
        std::snprintf(text, sizeof text, "%f", here.longitude);
        values_[2]->setText(std::string(text));
        std::snprintf(text, sizeof text, "%f", here.latitude);
        values_[3]->setText(std::string(text));
        if (auto* cell = dynamic_cast<MapViewCell*>(tableView()->cellForRowAtIndexPath({1, 0})))
            cell->didLocatedTo(here);
    }

    const char* titles_[4];
    std::shared_ptr<UILabel> values_[4];
    std::shared_ptr<GADBannerView> banner_;
};

struct Device {
    std::string name;
    std::string description;
    int state;
    bool saved, bookmarked;
};

class Root : public UITableViewController, public BTDeviceViewDelegate {
public:
    explicit Root(bool alert) : UITableViewController(UITableViewStyleGrouped), alert_(alert) {}

    void viewDidLoad() override {
        navigationItem()->setTitle("Terminal Demo");
        navigationItem()->setBackBarButtonItem(UIBarButtonItem::initWithTitle_style_target_action("back", 1));
        if (alert_) {
            UIAlertView::initWithTitle_message_delegate_cancelButtonTitle_otherButtonTitles(
                "Terminal Demo", "A window of the toolkit, drawn in a terminal. Tab moves, Enter taps.", nullptr,
                "Dismiss")
                ->show();
        }
        toggle_ = std::make_shared<UISwitch>(CGRectMake(0, 8, 75, 25));
        toggle_->setTag(3);
        toggle_->setOn(true);
        toggle_->addTarget_action_forControlEvents(
            this,
            [this](UIControl*) { tableView()->reloadData(); },
            UIControlEventValueChanged);
        banner_ = place_banner(this);
    }
    int numberOfSectionsInTableView(UITableView*) override { return toggle_->isOn() ? 2 : 1; }
    int tableView_numberOfRowsInSection(UITableView*, int section) override { return section == 0 ? 1 : 4; }
    std::optional<std::string> tableView_titleForHeaderInSection(UITableView*, int section) override {
        return section == 1 ? std::optional<std::string>("Devices") : std::nullopt;
    }
    std::optional<std::string> tableView_titleForFooterInSection(UITableView*, int section) override {
        if (section == 1) return "Tap on one device to connect.";
        return toggle_->isOn() ? std::nullopt : std::optional<std::string>("Connected to vexod daemon.");
    }
    double tableView_heightForRowAtIndexPath(UITableView*, NSIndexPath path) override {
        return path.section == 1 && path.row < 3 ? 54 : 44;
    }
    std::shared_ptr<UITableViewCell> tableView_cellForRowAtIndexPath(UITableView* table, NSIndexPath path) override {
        if (path.section == 0) {
            auto cell = table->dequeueReusableCellWithIdentifier("Cell_Section_0");
            if (!cell) cell = std::make_shared<SmartCellView>(UITableViewCellStyleDefault, "Cell_Section_0");
            cell->textLabel()->setText("GPS");
            cell->contentView()->addSubview(toggle_);
            return cell;
        }
        if (path.row == 3) {
            auto cell = std::static_pointer_cast<FindMoreView>(table->dequeueReusableCellWithIdentifier("Search"));
            if (!cell) cell = std::make_shared<FindMoreView>(UITableViewCellStyleDefault, "Search");
            return cell;
        }
        auto cell = std::static_pointer_cast<BTDeviceView>(table->dequeueReusableCellWithIdentifier("Device"));
        if (!cell) cell = std::make_shared<BTDeviceView>(UITableViewCellStyleDefault, "Device");
        const Device& d = devices_[path.row];
        cell->setTitle(d.name);
        cell->setDescription(d.description);
        cell->setIsSaved(d.saved);
        cell->setIsBookmarked(d.bookmarked);
        cell->setAccessoryType(d.state == 2 ? UITableViewCellAccessoryDetailDisclosureButton
                                            : UITableViewCellAccessoryNone);
        cell->setState(d.state);
        cell->setDelegate(this);
        return cell;
    }
    std::optional<NSIndexPath> tableView_willSelectRowAtIndexPath(UITableView*, NSIndexPath path) override {
        return path.section == 1 ? std::optional<NSIndexPath>(path) : std::nullopt;
    }
    void tableView_didSelectRowAtIndexPath(UITableView* table, NSIndexPath path) override {
        table->deselectRowAtIndexPath_animated(path, true);
        if (path.row != 3) navigationController()->pushViewController_animated(std::make_shared<Inspector>(), true);
    }
    void tableView_accessoryButtonTappedForRowWithIndexPath(UITableView*, NSIndexPath) override {
        navigationController()->pushViewController_animated(std::make_shared<Inspector>(), true);
    }
    Device& device(int row) { return devices_[row]; }
    UISwitch* globalSwitch() const { return toggle_.get(); }

    void bookmarkButtonPressedInBTDeviceView(BTDeviceView* view) override {
        const auto path = tableView()->indexPathForCell(view);
        if (!path) return;
        Device& d = devices_[path->row];
        d.bookmarked = !d.bookmarked;
        tableView()->reloadRowsAtIndexPaths_withRowAnimation({*path}, 0);
    }

private:
    bool alert_;
    std::shared_ptr<UISwitch> toggle_;
    std::shared_ptr<GADBannerView> banner_;
    Device devices_[3] = {
        {"Receiver One", "Address: 00:1c:88:30:5e:01 Class: 001f00", 0, true, true},
        {"Receiver Two", "Connecting ...", 1, false, false},
        {"Receiver Three", "Address: 00:1c:88:30:5e:03 Class: 001f00", 2, true, false},
    };
};

class Delegate : public UIApplicationDelegate {
public:
    explicit Delegate(bool alert) : alert_(alert) {}
    bool application_didFinishLaunchingWithOptions(UIApplication* app, const UIApplicationLaunchOptions*) override {
        window_ = std::make_shared<UIWindow>(app->mainScreen()->bounds());
        window_->setBackgroundColor(UIColor::blackColor());
        nav_ = std::make_shared<UINavigationController>(std::make_shared<Root>(alert_));
        window_->addSubview(nav_->viewShared());
        window_->makeKeyAndVisible();
        return true;
    }

    UIWindow* window() const { return window_.get(); }
    UINavigationController* navigation() const { return nav_.get(); }
    Root* root() const { return static_cast<Root*>(nav_->viewControllers().front().get()); }

private:
    bool alert_;
    std::shared_ptr<UIWindow> window_;
    std::shared_ptr<UINavigationController> nav_;
};

}  // namespace vgps::demo
