#include "frontend/gtk/dev/gallery_screens.h"

#include <cstdio>
#include <vector>

#include "ui/BTDeviceView.h"
#include "ui/FindMoreView.h"
#include "ui/MapViewCell.h"
#include "ui/SmartCellView.h"
#include "uikit/GADBannerView.h"
#include "uikit/UIAlertView.h"
#include "uikit/UINavigationItem.h"
#include "uikit/UISwitch.h"
#include "uikit/UITableViewController.h"

namespace vgps::gallery {

// The house banner along the bottom of a screen.
void add_banner(UIViewController* screen) {
    const double h = screen->view()->frame().size.height;
    auto banner = std::make_shared<GADBannerView>(CGRectMake(0, h - 50, 320, 50));
    screen->view()->addSubview(banner);
    banner->loadRequest(GADRequest::request());
}

class InspectorScreen : public UITableViewController {
public:
    InspectorScreen() : UITableViewController(UITableViewStyleGrouped) {
        for (int i = 0; i < 4; ++i) {
            auto label = std::make_shared<UILabel>(CGRectMake(0, 11, 160, 22));
            label->setTag(8);
            label->setTextAlignment(UITextAlignmentRight);
            label->setTextColor(UIColor{0.22, 0.33, 0.53, 1});
            values_.push_back(label);
        }
    }
    const char* className() const override { return "GalleryInspector"; }

    void viewDidLoad() override {
        navigationItem()->setTitle("GPS Inspector");
        add_banner(this);
    }
    int numberOfSectionsInTableView(UITableView*) override { return 2; }
    int tableView_numberOfRowsInSection(UITableView*, int section) override { return section == 0 ? 4 : 1; }
    double tableView_heightForRowAtIndexPath(UITableView* table, NSIndexPath path) override {
        return path.section == 0 ? 44 : table->bounds().size.height - 168;
    }
    std::shared_ptr<UITableViewCell> tableView_cellForRowAtIndexPath(UITableView* table, NSIndexPath path) override {
        if (path.section == 1) {
            auto cell = table->dequeueReusableCellWithIdentifier("Cell1");
            if (!cell) cell = std::make_shared<MapViewCell>(UITableViewCellStyleDefault, "Cell1");
            return cell;
        }
        static const char* titles[] = {"UTC", "FIX", "LON", "LAT"};
        auto cell = table->dequeueReusableCellWithIdentifier("Cell");
        if (!cell) cell = std::make_shared<SmartCellView>(UITableViewCellStyleDefault, "Cell");
        while (UIView* old = cell->contentView()->viewWithTag(8)) old->removeFromSuperview();
        cell->textLabel()->setText(titles[path.row]);
        cell->contentView()->addSubview(values_[size_t(path.row)]);
        return cell;
    }

    void show(double lat, double lon, int fix, const std::string& utc) {
        char text[64];
        values_[0]->setText(utc);
        values_[1]->setText(fix == 3 ? "3D" : fix == 2 ? "2D" : "Fix not available");
        std::snprintf(text, sizeof text, "%f", lon);
        values_[2]->setText(std::string(text));
        std::snprintf(text, sizeof text, "%f", lat);
        values_[3]->setText(std::string(text));
        if (auto* cell = dynamic_cast<MapViewCell*>(tableView()->cellForRowAtIndexPath({1, 0}))) {
            cell->didLocatedTo({lat, lon});
        }
    }

private:
    std::vector<std::shared_ptr<UILabel>> values_;
};

class MainScreen : public UITableViewController {
public:
    explicit MainScreen(Gallery* gallery) : UITableViewController(UITableViewStyleGrouped), gallery_(gallery) {
        switch_ = std::make_shared<UISwitch>(CGRectMake(0, 8, 94, 27));
        switch_->setOn(true);
        switch_->addTarget_action_forControlEvents(
            this,
            [this](UIControl*) {
                footer_ = switch_->isOn() ? "Connected to vexod daemon." : "Shutting down vexod daemon ...";
                tableView()->reloadSections_withRowAnimation(NSIndexSet{0}, UITableViewRowAnimationNone);
            },
            UIControlEventValueChanged);
    }
    const char* className() const override { return "GalleryMain"; }

    void viewDidLoad() override {
        navigationItem()->setTitle("vexod GPS");
        navigationItem()->setBackBarButtonItem(UIBarButtonItem::initWithTitle_style_target_action("back", 1));
        add_banner(this);
    }
    int numberOfSectionsInTableView(UITableView*) override { return 2; }
    int tableView_numberOfRowsInSection(UITableView*, int section) override { return section == 0 ? 1 : 4; }
    std::optional<std::string> tableView_titleForHeaderInSection(UITableView*, int section) override {
        return section == 0 ? std::optional<std::string>("vexod daemon") : std::optional<std::string>("Devices");
    }
    std::optional<std::string> tableView_titleForFooterInSection(UITableView*, int section) override {
        return section == 0 ? footer_ : std::optional<std::string>("Tap on one device to connect.");
    }
    double tableView_heightForRowAtIndexPath(UITableView*, NSIndexPath path) override {
        return path.section == 1 && path.row < 3 ? 54 : 44;
    }
    std::shared_ptr<UITableViewCell> tableView_cellForRowAtIndexPath(UITableView* table, NSIndexPath path) override {
        if (path.section == 0) {
            auto cell = table->dequeueReusableCellWithIdentifier("Switch");
            if (!cell) cell = std::make_shared<SmartCellView>(UITableViewCellStyleDefault, "Switch");
            cell->textLabel()->setText("vexod");
            cell->contentView()->addSubview(switch_);
            return cell;
        }
        if (path.row == 3) {
            auto cell = table->dequeueReusableCellWithIdentifier("Find");
            if (!cell) cell = std::make_shared<FindMoreView>(UITableViewCellStyleDefault, "Find");
            return cell;
        }
        static const char* names[] = {"Holux GPSlim 236", "BT-Q1000X", "iBlue 747"};
        static const char* addresses[] = {"00:0b:0d:88:a1:3c", "00:1c:88:20:51:07", "00:02:78:11:3e:9a"};
        auto cell = std::static_pointer_cast<BTDeviceView>(table->dequeueReusableCellWithIdentifier("Device"));
        if (!cell) cell = std::make_shared<BTDeviceView>(UITableViewCellStyleDefault, "Device");
        cell->setTitle(std::string(names[path.row]));
        cell->setDescription(std::string(addresses[path.row]));
        cell->setIsSaved(path.row != 1);
        cell->setIsBookmarked(path.row == 0);
        cell->setState(path.row == 0 ? 2 : path.row == 1 ? 1 : 0);
        cell->setAccessoryType(path.row == 0 ? UITableViewCellAccessoryDetailDisclosureButton
                                             : UITableViewCellAccessoryNone);
        return cell;
    }
    void tableView_didSelectRowAtIndexPath(UITableView*, NSIndexPath path) override {
        if (path.section == 1 && path.row == 0) gallery_->pushInspector();
    }
    void tableView_accessoryButtonTappedForRowWithIndexPath(UITableView*, NSIndexPath) override {
        gallery_->pushInspector();
    }

    Gallery* gallery_;
    std::shared_ptr<UISwitch> switch_;
    std::optional<std::string> footer_ = "Connected to vexod daemon.";
};

Gallery::Gallery(UIApplication* app) : app_(app) {
    main_ = std::make_shared<MainScreen>(this);
    navigation_ = std::make_shared<UINavigationController>(main_);
    window_ = std::make_shared<UIWindow>(app->mainScreen()->bounds());
    window_->setRootViewController(navigation_);
    window_->makeKeyAndVisible();
}

Gallery::~Gallery() = default;

UITableViewController* Gallery::inspector() const {
    return dynamic_cast<InspectorScreen*>(navigation_->topViewController());
}

void Gallery::pushInspector() { navigation_->pushViewController_animated(std::make_shared<InspectorScreen>(), true); }

void Gallery::showNotice() {
    UIAlertView::initWithTitle_message_delegate_cancelButtonTitle_otherButtonTitles(
        "Notice", "This demonstration only checks that the receiver works with the application.", nullptr,
        "Dismiss")
        ->show();
}

void Gallery::showPosition(double latitude, double longitude, int fix, const std::string& utc) {
    if (auto* screen = dynamic_cast<InspectorScreen*>(inspector())) screen->show(latitude, longitude, fix, utc);
}

}  // namespace vgps::gallery
