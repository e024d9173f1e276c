#include "uikit/UIApplication.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "kit_fixture.h"
#include "platform/alert.h"
#include "platform/log.h"
#include "support/temp_dir.h"
#include "uikit/GADBannerView.h"
#include "uikit/UIActivityIndicatorView.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UINavigationController.h"
#include "uikit/UISwitch.h"
#include "uikit/UITableViewController.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;
using UIApplicationTest = test::KitTest;

// Remembers what the front-end was told.
class Recorder : public UIDisplayObserver {
public:
    void applicationNeedsDisplay(UIApplication*, const UIDisplayChanges& changes) override { told.push_back(changes); }
    std::vector<UIDisplayChanges> told;
};

// Records what it is told, by name.
class Screen : public UITableViewController, public UIAlertViewDelegate {
public:
    explicit Screen(std::string name) : UITableViewController(UITableViewStyleGrouped), name_(std::move(name)) {}
    const char* className() const override { return "Screen"; }
    int tableView_numberOfRowsInSection(UITableView*, int) override { return 1; }
    std::shared_ptr<UITableViewCell> tableView_cellForRowAtIndexPath(UITableView* table, NSIndexPath) override {
        auto cell = table->dequeueReusableCellWithIdentifier("Cell");
        return cell ? cell : std::make_shared<UITableViewCell>(UITableViewCellStyleDefault, "Cell");
    }
    void viewDidLoad() override {
        events.push_back(name_ + " load " + std::to_string(static_cast<int>(view()->frame().size.height)));
        navigationItem()->setTitle(name_);
    }
    void viewWillAppear(bool animated) override {
        UITableViewController::viewWillAppear(animated);
        events.push_back(name_ + " appear");
    }
    void viewWillDisappear(bool) override { events.push_back(name_ + " disappear"); }
    void alertView_clickedButtonAtIndex(UIAlertView* alert, int index) override {
        events.push_back(name_ + " alert " + alert->buttonTitleAtIndex(index));
    }
    static inline std::vector<std::string> events;

private:
    std::string name_;
};

TEST_F(UIApplicationTest, TheDumpOfASmallWindowIsExact) {
    auto window = makeWindow();
    auto label = std::make_shared<UILabel>(CGRectMake(10, 20, 100, 21));
    label->setText("Fix \"3D\"");
    label->setTag(8);
    label->setTextAlignment(UITextAlignmentRight);
    label->setTextColor(UIColor::colorWithRed_green_blue_alpha(0.165, 0.216, 0.353, 1));
    auto toggle = std::make_shared<UISwitch>(CGRectMake(215, 8, 75, 25));
    toggle->setOn(true);
    auto spinner = std::make_shared<UIActivityIndicatorView>(UIActivityIndicatorViewStyleGray);
    auto image = std::make_shared<UIImageView>(UIImage::imageNamed("checked.png"));
    window->addSubview(label);
    window->addSubview(toggle);
    window->addSubview(spinner);
    window->addSubview(image);
    UIAlertView::initWithTitle_message_delegate_cancelButtonTitle_otherButtonTitles(std::nullopt, std::nullopt, nullptr,
                                                                                   "Dismiss")
        ->show();
    EXPECT_EQ(app.dump(),
              R"({"screens":[],"alerts":[{"title":null,"message":null,"buttons":["Dismiss"]}],)"
              R"("window":{"class":"UIWindow","frame":[0,0,320,480],"tag":0,"hidden":false,"subviews":[)"
              R"({"class":"UILabel","frame":[10,20,100,21],"tag":8,"hidden":false,"text":"Fix \"3D\"",)"
              R"("font":{"name":"Helvetica","size":17,"bold":false},"color":[0.165,0.216,0.353,1],"align":2,)"
              R"("fits":false,"subviews":[]},)"
              R"({"class":"UISwitch","frame":[215,8,75,25],"tag":0,"hidden":false,"on":true,"subviews":[]},)"
              R"({"class":"UIActivityIndicatorView","frame":[0,0,20,20],"tag":0,"hidden":true,"style":2,)"
              R"("animating":false,"subviews":[]},)"
              R"({"class":"UIImageView","frame":[0,0,22,22],"tag":0,"hidden":false,"image":"checked.png",)"
              R"("subviews":[]}]}})");
}

TEST_F(UIApplicationTest, AlertsQueueAndTheFirstOneIsOnScreenUntilDismissed) {
    auto window = makeWindow();
    auto screen = std::make_shared<Screen>("alerts");
    auto first = UIAlertView::initWithTitle_message_delegate_cancelButtonTitle_otherButtonTitles(
        "One", "first", screen.get(), "Dismiss", {"Retry"});
    first->show();
    first->show();  // once only
    // The engine's alerts join the same queue and tell their own delegate
    // which button closed them, even when the engine's object is gone.
    struct Delegate : AlertViewDelegate {
        void alertView_clickedButtonAtIndex(AlertView* alert, int index) override {
            clicked.push_back(alert->title() + " " + std::to_string(index));
        }
        std::vector<std::string> clicked;
    } delegate;
    AlertView("Connection", "", &delegate, "", {"Retry", "Cancel"}).show();
    ASSERT_EQ(app.alerts().size(), 2u);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(app.alerts()[1]->message(), std::nullopt);  // empty texts are absent
    EXPECT_EQ(app.alerts()[1]->cancelButtonIndex(), -1);

    // While an alert is up only its buttons take taps.
    const auto tappables = app.tappables();
    ASSERT_EQ(tappables.size(), 2u);
    EXPECT_EQ(tappables[0].kind, UITappable::AlertButton);
    EXPECT_LT(tappables[0].frame.origin.x, tappables[1].frame.origin.x);  // a pair side by side
    EXPECT_FALSE(app.tapAtPoint({1, 1}));
    Screen::events.clear();
    EXPECT_TRUE(app.tapAtPoint({CGRectGetMidX(tappables[1].frame), CGRectGetMidY(tappables[1].frame)}));
    EXPECT_EQ(Screen::events, (std::vector<std::string>{"alerts alert Retry"}));
    EXPECT_FALSE(first->isQueued());
    ASSERT_EQ(app.alerts().size(), 1u);
    EXPECT_EQ(app.visibleAlert()->buttonTitles(), (std::vector<std::string>{"Retry", "Cancel"}));
    EXPECT_TRUE(app.activate(app.tappables().at(1)));
    EXPECT_EQ(delegate.clicked, (std::vector<std::string>{"Connection 1"}));
    EXPECT_TRUE(app.alerts().empty());
}

TEST_F(UIApplicationTest, TheFrontEndIsToldOncePerTurnAfterLayoutNeverInsideAChange) {
    Recorder recorder;
    app.setDisplayObserver(&recorder);
    auto window = makeWindow();
    auto label = std::make_shared<UILabel>(CGRectMake(0, 0, 10, 10));
    window->addSubview(label);
    label->setText("a");
    label->setText("b");
    label->setHidden(true);
    EXPECT_TRUE(recorder.told.empty());
    loop.run_once(0ms);
    ASSERT_EQ(recorder.told.size(), 1u);
    EXPECT_EQ(recorder.told[0].views.count(label->viewId()), 1u);
    EXPECT_EQ(recorder.told[0].views.count(window->viewId()), 1u);  // its subviews changed
    loop.run_once(0ms);
    EXPECT_EQ(recorder.told.size(), 1u);  // nothing changed: nothing told

    const UIView::Id gone = label->viewId();
    label->removeFromSuperview();
    label.reset();
    UIAlertView::initWithTitle_message_delegate_cancelButtonTitle_otherButtonTitles("t", "m", nullptr, "OK")->show();
    loop.run_once(0ms);
    ASSERT_EQ(recorder.told.size(), 2u);
    EXPECT_EQ(recorder.told[1].destroyed.count(gone), 1u);
    EXPECT_EQ(recorder.told[1].views.count(gone), 0u);
    EXPECT_TRUE(recorder.told[1].alerts);
    app.setDisplayObserver(nullptr);
}

TEST_F(UIApplicationTest, TheNavigationStackSizesScreensBelowTheBarAndTheBackButtonPops) {
    auto window = makeWindow();
    Screen::events.clear();
    auto root = std::make_shared<Screen>("root");
    root->navigationItem()->setBackBarButtonItem(
        UIBarButtonItem::initWithTitle_style_target_action("back", UIBarButtonItem::UIBarButtonItemStyleBordered));
    auto nav = std::make_shared<UINavigationController>(root);
    window->addSubview(nav->viewShared());
    EXPECT_EQ(Screen::events, (std::vector<std::string>{"root load 416", "root appear"}));
    EXPECT_EQ(root->tableView()->frame(), CGRectMake(0, 44, 320, 416));
    EXPECT_EQ(root->tableView()->windowFrame(), CGRectMake(0, 64, 320, 416));
    EXPECT_TRUE(root->tableView()->hasLoaded());

    auto inspector = std::make_shared<Screen>("inspector");
    nav->pushViewController_animated(inspector, true);
    EXPECT_EQ(nav->navigationBar()->title(), "inspector");
    EXPECT_EQ(nav->navigationBar()->backTitle(), "back");
    const std::string dump = app.dump();
    EXPECT_EQ(dump.substr(0, dump.find(",\"alerts\"")),
              R"({"screens":[{"class":"Screen","title":"root","back":"back"},)"
              R"({"class":"Screen","title":"inspector","back":null}])");

    std::weak_ptr<Screen> watch = inspector;
    inspector.reset();
    Screen::events.clear();
    EXPECT_TRUE(app.tapView(nav->navigationBar()->backButton()));
    EXPECT_EQ(Screen::events, (std::vector<std::string>{"inspector disappear", "root appear"}));
    EXPECT_EQ(nav->viewControllers().size(), 1u);
    EXPECT_FALSE(nav->navigationBar()->backTitle().has_value());
    EXPECT_FALSE(watch.expired());  // kept until the next turn
    loop.run_once(0ms);
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(nav->popViewControllerAnimated(true), nullptr);  // the root stays
}

TEST_F(UIApplicationTest, TheBannerShowsTheHouseTextOnTheTurnAfterARequest) {
    struct Delegate : GADBannerViewDelegate {
        void adViewDidReceiveAd(GADBannerView*) override { ++received; }
        void adView_didFailToReceiveAdWithError(GADBannerView*, const std::string&) override { ++failed; }
        int received = 0, failed = 0;
    } delegate;
    auto banner = std::make_shared<GADBannerView>(CGRectMake(0, 322, 320, 50));
    banner->setDelegate(&delegate);
    banner->setAdUnitID("a14e2f3b6c7d8e9");
    banner->loadRequest(GADRequest::request());
    auto located = GADRequest::request();
    located->setLocationWithLatitude_longitude_accuracy(48.117302f, 11.516666f, 10);
    banner->loadRequest(located);
    EXPECT_FALSE(banner->text().has_value());
    EXPECT_EQ(delegate.received, 0);
    loop.run_once(0ms);
    EXPECT_EQ(delegate.received, 2);
    EXPECT_EQ(banner->text(), "vexod-gps: your Bluetooth GPS receiver, on Linux");
    const JSON dump = banner->dump();
    EXPECT_EQ(json_line(dump["requests"]), R"([{"location":null},{"location":[48.11730194091797,11.516666412353516,10]}])");

    // Without the text the request fails; a banner gone before its turn
    // hears nothing.
    test::TempDir empty;
    LogCapture log;
    setenv("VEXOD_GPS_RESOURCES", empty.path().c_str(), 1);
    banner->loadRequest(GADRequest::request());
    auto gone = std::make_shared<GADBannerView>(CGRectMake(0, 0, 320, 50));
    gone->setDelegate(&delegate);
    gone->loadRequest(GADRequest::request());
    gone.reset();
    loop.run_once(0ms);
    unsetenv("VEXOD_GPS_RESOURCES");
    EXPECT_EQ(delegate.failed, 1);
    EXPECT_EQ(delegate.received, 2);
    EXPECT_TRUE(log.contains("<-[GADBannerView loadRequest:]> no house banner in " + empty.path()));
}

TEST(UIImage, ImagesComeFromTheResourceFolderByNameOnly) {
    const auto checked = UIImage::imageNamed("checked.png");
    ASSERT_NE(checked, nullptr);
    EXPECT_EQ(checked->size(), CGSizeMake(22, 22));
    EXPECT_EQ(UIImage::imageNamed("bookmark-PDF.png")->size(), CGSizeMake(26, 34));

    test::TempDir dir;
    test::write_file(dir.file("broken.png"), "not a png at all, but long enough");
    LogCapture log;
    setenv("VEXOD_GPS_RESOURCES", dir.path().c_str(), 1);
    EXPECT_EQ(UIImage::imageNamed("checked.png"), nullptr);  // missing here
    EXPECT_EQ(UIImage::imageNamed("broken.png"), nullptr);
    EXPECT_EQ(UIImage::imageNamed("../resources/checked.png"), nullptr);  // never outside the folder
    unsetenv("VEXOD_GPS_RESOURCES");
    // Only the malformed file is worth a log line.
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"<+[UIImage imageNamed:]> not a PNG image: " + dir.file("broken.png")}));
}

}  // namespace
}  // namespace vgps
