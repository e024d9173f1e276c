#include "ui/GPSInspector.h"

#include <cstdio>

#include "link/GPSDataLink.h"
#include "nmea/info.h"
#include "platform/localization.h"
#include "platform/log.h"
#include "ui/MapViewCell.h"
#include "ui/SmartCellView.h"
#include "ui/cell_accessories.h"
#include "ui/screen_banner.h"

namespace vgps {
namespace {

constexpr const char* kValueCellIdentifier = "Cell";
constexpr const char* kMapCellIdentifier = "Cell1";
// The rows of section 0, in this order: longitude comes before latitude.
constexpr const char* kRowTitles[] = {"UTC", "FIX", "LON", "LAT"};
constexpr int kValueRows = 4;

// A user-info entry as the screen reads it: a number as a number, anything
// else (or nothing) as 0.
double number_value(const UserInfo& info, const char* key) {
    const auto it = info.find(key);
    if (it == info.end()) return 0;
    if (const auto* d = std::get_if<double>(&it->second)) return *d;
    if (const auto* i = std::get_if<int64_t>(&it->second)) return static_cast<double>(*i);
    return 0;
}

int64_t integer_value(const UserInfo& info, const char* key) {
    const auto it = info.find(key);
    if (it == info.end()) return 0;
    if (const auto* i = std::get_if<int64_t>(&it->second)) return *i;
    if (const auto* d = std::get_if<double>(&it->second)) return static_cast<int64_t>(*d);
    return 0;
}

std::string degrees_text(float degrees) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", static_cast<double>(degrees));
    return text;
}

}  // namespace

GPSInspector::GPSInspector(NotificationCenter* center) : UITableViewController(UITableViewStyleGrouped), center_(center) {}

GPSInspector::~GPSInspector() {
    if (observer_ != 0) center_->removeObserver(observer_);
    if (bannerView_ && bannerView_->delegate() == this) bannerView_->setDelegate(nullptr);
}

// --- the value labels

std::shared_ptr<UILabel> GPSInspector::makeValueLabel() {
    auto label = std::make_shared<UILabel>(CGRectMake(100, 5, 200, 25));
    label->setText(localized_string("", ""));
    label->setTextAlignment(UITextAlignmentRight);
    label->setTextColor(UIColor::colorWithRed_green_blue_alpha(0.165, 0.216, 0.353, 1.0));
    label->setBackgroundColor(UIColor::clearColor());
    label->setTag(kValueLabelTag);
    label->setAdjustsFontSizeToFitWidth(true);
    return label;
}

const std::shared_ptr<UILabel>& GPSInspector::madeLabel(std::shared_ptr<UILabel>& label) {
    if (!label) label = makeValueLabel();
    return label;
}

UILabel* GPSInspector::fixLabel() { return madeLabel(fixLabel_).get(); }
UILabel* GPSInspector::utcLabel() { return madeLabel(utcLabel_).get(); }
UILabel* GPSInspector::latLabel() { return madeLabel(latLabel_).get(); }
UILabel* GPSInspector::lonLabel() { return madeLabel(lonLabel_).get(); }

std::shared_ptr<UILabel> GPSInspector::valueLabelForRow(int row) {
    switch (row) {
        case 0: return madeLabel(utcLabel_);
        case 1: return madeLabel(fixLabel_);
        case 2: return madeLabel(lonLabel_);
        case 3: return madeLabel(latLabel_);
        default: return nullptr;
    }
}

// --- the screen

void GPSInspector::viewDidLoad() {
    UITableViewController::viewDidLoad();
    navigationItem()->setTitle("GPS Inspector");
    bannerView_ = place_screen_banner(this, this);
}

void GPSInspector::viewWillAppear(bool animated) {
    UITableViewController::viewWillAppear(animated);
    log_from("-[GPSInspector viewWillAppear:]", "add observer for %s", kPositionNotificationName);
    if (observer_ != 0) return;
    observer_ = center_->addObserver(kPositionNotificationName,
                                     [this](const Notification& n) { nmeaSentencesAvaiable(n); });
}

void GPSInspector::viewWillDisappear(bool animated) {
    UITableViewController::viewWillDisappear(animated);
    if (observer_ == 0) return;
    center_->removeObserver(observer_);
    observer_ = 0;
}

void GPSInspector::viewDidUnload() {
    UITableViewController::viewDidUnload();
    if (bannerView_) bannerView_->setDelegate(nullptr);
    bannerView_.reset();
}

void GPSInspector::adViewDidReceiveAd(GADBannerView* view) {
    UIView::beginAnimations_context("BannerSlide", nullptr);
    view->setFrame(screen_banner_frame(this, view->frame().size));
    UIView::commitAnimations();
}

// --- the table

int GPSInspector::numberOfSectionsInTableView(UITableView*) { return 2; }

int GPSInspector::tableView_numberOfRowsInSection(UITableView*, int section) {
    return section == 0 ? kValueRows : section == 1 ? 1 : 0;
}

double GPSInspector::tableView_heightForRowAtIndexPath(UITableView* tableView, NSIndexPath indexPath) {
    if (indexPath.section == 0) return kValueRowHeight;
    if (indexPath.section == 1) return tableView->bounds().size.height - kMapRowInset;
    return 0;
}

std::shared_ptr<UITableViewCell> GPSInspector::tableView_cellForRowAtIndexPath(UITableView* tableView,
                                                                              NSIndexPath indexPath) {
    if (indexPath.section == 0) {
        std::shared_ptr<UILabel> label = valueLabelForRow(indexPath.row);
        if (!label) return nullptr;
        std::shared_ptr<UITableViewCell> cell = tableView->dequeueReusableCellWithIdentifier(kValueCellIdentifier);
        if (cell) {
            // A reused cell may still hold another row's value label.
            remove_tagged_views(cell->contentView(), kValueLabelTag);
        } else {
            cell = std::make_shared<SmartCellView>(UITableViewCellStyleDefault, kValueCellIdentifier);
        }
        cell->textLabel()->setText(kRowTitles[indexPath.row]);
        cell->contentView()->addSubview(label);
        return cell;
    }
    if (indexPath.section == 1) {
        std::shared_ptr<UITableViewCell> cell = tableView->dequeueReusableCellWithIdentifier(kMapCellIdentifier);
        if (cell) {
            remove_tagged_views(cell->contentView(), kValueLabelTag);
        } else {
            cell = std::make_shared<MapViewCell>(UITableViewCellStyleDefault, kMapCellIdentifier);
        }
        return cell;
    }
    return nullptr;
}

void GPSInspector::tableView_didSelectRowAtIndexPath(UITableView*, NSIndexPath) {}

// --- positions

void GPSInspector::nmeaSentencesAvaiable(const Notification& notification) {
    const UserInfo& info = notification.userInfo;
    // The coordinates travel in single precision, in the ddmm.mmmm form.
    const float lat = static_cast<float>(nmea_ndeg2degree(static_cast<float>(number_value(info, kPositionLatKey))));
    const float lon = static_cast<float>(nmea_ndeg2degree(static_cast<float>(number_value(info, kPositionLonKey))));

    const auto utc = info.find(kPositionUTCKey);
    const std::string* utc_text = utc != info.end() ? std::get_if<std::string>(&utc->second) : nullptr;
    utcLabel()->setText(utc_text != nullptr ? *utc_text : std::string());

    switch (integer_value(info, kPositionFixKey)) {
        case 2:
            fixLabel()->setText(localized_string("2D", ""));
            break;
        case 3:
            fixLabel()->setText(localized_string("3D", ""));
            if (!userLocated_) {
                userLocated_ = true;
                auto request = GADRequest::request();
                request->setLocationWithLatitude_longitude_accuracy(
                    lat, lon, static_cast<float>(kCLLocationAccuracyNearestTenMeters));
                if (bannerView_) bannerView_->loadRequest(request);
            }
            break;
        default:
            fixLabel()->setText(localized_string("Fix not available", ""));
            break;
    }
    latLabel()->setText(degrees_text(lat));
    lonLabel()->setText(degrees_text(lon));

    const CLLocationCoordinate2D coordinate = CLLocationCoordinate2DMake(lat, lon);
    if (auto* cell = dynamic_cast<MapViewCell*>(tableView()->cellForRowAtIndexPath({1, 0}))) {
        cell->didLocatedTo(coordinate);
    }
}

}  // namespace vgps
