// The screen of a connected receiver: fix, UTC time, longitude and latitude
// in a grouped table, a map row with a pin at the position, and the banner
// along the bottom. It takes its data only from the position notification,
// to which it listens while it is visible; hidden, it keeps its last texts
// and costs nothing.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/notification_center.h"
#include "uikit/GADBannerView.h"
#include "uikit/UILabel.h"
#include "uikit/UITableViewController.h"

namespace vgps {

class GPSInspector : public UITableViewController, public GADBannerViewDelegate {
public:
    // The tag of the value labels, which move from cell to cell.
    static constexpr int kValueLabelTag = 8;
    static constexpr double kValueRowHeight = 32;
    // The map row is the table's height less this.
    static constexpr double kMapRowInset = 168;

    // init: a grouped table; positions come from `center`.
    explicit GPSInspector(NotificationCenter* center = NotificationCenter::defaultCenter());
    ~GPSInspector() override;
    const char* className() const override { return "GPSInspector"; }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidUnload() override;

    int numberOfSectionsInTableView(UITableView* tableView) override;
    int tableView_numberOfRowsInSection(UITableView* tableView, int section) override;
    double tableView_heightForRowAtIndexPath(UITableView* tableView, NSIndexPath indexPath) override;
    std::shared_ptr<UITableViewCell> tableView_cellForRowAtIndexPath(UITableView* tableView,
                                                                    NSIndexPath indexPath) override;
    void tableView_didSelectRowAtIndexPath(UITableView* tableView, NSIndexPath indexPath) override;

    // The position handler: labels, then the map when its row is on screen.
    void nmeaSentencesAvaiable(const Notification& notification);

    // The banner has an ad: it slides into place ("BannerSlide").
    void adViewDidReceiveAd(GADBannerView* view) override;

    // The value labels, made on first use and kept for the screen's life.
    UILabel* fixLabel();
    UILabel* utcLabel();
    UILabel* latLabel();
    UILabel* lonLabel();
    void setFixLabel(std::shared_ptr<UILabel> label) { fixLabel_ = std::move(label); }
    void setUtcLabel(std::shared_ptr<UILabel> label) { utcLabel_ = std::move(label); }
    void setLatLabel(std::shared_ptr<UILabel> label) { latLabel_ = std::move(label); }
    void setLonLabel(std::shared_ptr<UILabel> label) { lonLabel_ = std::move(label); }

    bool userLocated() const { return userLocated_; }
    GADBannerView* bannerView() const { return bannerView_.get(); }
    // Listening to the position notification (between appearing and
    // disappearing).
    bool isSubscribed() const { return observer_ != 0; }

private:
    // The label of each row of section 0 (UTC, FIX, LON, LAT), or null.
    std::shared_ptr<UILabel> valueLabelForRow(int row);
    static std::shared_ptr<UILabel> makeValueLabel();
    static const std::shared_ptr<UILabel>& madeLabel(std::shared_ptr<UILabel>& label);

    NotificationCenter* center_;
    NotificationCenter::ObserverId observer_ = 0;
    std::shared_ptr<UILabel> fixLabel_, utcLabel_, latLabel_, lonLabel_;
    bool userLocated_ = false;
    std::shared_ptr<GADBannerView> bannerView_;
};

}  // namespace vgps
