#include "ui/RootViewController.h"

#include <cstdio>

#include "platform/localization.h"
#include "platform/log.h"
#include "ui/FindMoreView.h"
#include "ui/GPSInspector.h"
#include "ui/SmartCellView.h"
#include "ui/cell_accessories.h"
#include "ui/screen_banner.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"

namespace vgps {
namespace {

constexpr const char* kTitle = "Skyvane GPS Demo";
constexpr const char* kSwitchCellIdentifier = "Cell_Section_0";
constexpr const char* kDeviceCellIdentifier = "Cell_Section_1";
constexpr const char* kSearchCellIdentifier = "Cell_Section_1_Search";

constexpr CGRect kSwitchFrame{{0, 8}, {75, 25}};
constexpr CGRect kIndicatorFrame{{0, 8}, {25, 25}};
// The switch beside the spinner: the spinner on the left, 8 points apart.
constexpr CGRect kRetryFrame{{0, 8}, {108, 25}};
constexpr CGRect kRetryIndicatorFrame{{0, 0}, {25, 25}};
constexpr CGRect kRetrySwitchFrame{{33, 0}, {75, 25}};

std::string text(const char* key) { return localized_string(key, ""); }

std::string device_description(const BTDevice& device) {
    const uint8_t* a = device.getDeviceAddress()->addr;
    char out[96];
    std::snprintf(out, sizeof out, "Address: %02x:%02x:%02x:%02x:%02x:%02x Class: %06x", a[0], a[1], a[2], a[3], a[4],
                  a[5], device.deviceClass());
    return out;
}

}  // namespace

RootViewController::RootViewController(DaemonManager* manager, NotificationCenter* center)
    : UITableViewController(UITableViewStyleGrouped),
      manager_(manager),
      devices_(manager->deviceList()),
      center_(center) {}

RootViewController::~RootViewController() {
    if (deselectLoop_ != nullptr) {
        for (RunLoop::TimerId id : deselections_) deselectLoop_->cancel_timer(id);
    }
    if (manager_->delegate() == this) manager_->setDelegate(nullptr);
    if (bannerView_ && bannerView_->delegate() == this) bannerView_->setDelegate(nullptr);
    if (globalSwitch_) globalSwitch_->removeTarget_forControlEvents(this, UIControlEventValueChanged);
}

// --- loading

void RootViewController::viewDidLoad() {
    UITableViewController::viewDidLoad();
    navigationItem()->setTitle(kTitle);
    showAlert(text(kTitle),
              text("This application is for checking the compatibility with your device. It does not have OnDemand "
                   "support, won't forward the GPS data to other applications."),
              true);
    navigationItem()->setBackBarButtonItem(
        UIBarButtonItem::initWithTitle_style_target_action(text("back"), UIBarButtonItem::UIBarButtonItemStyleBordered));
    bannerView_ = place_screen_banner(this, this);
    initSystem();
}

void RootViewController::viewDidUnload() {
    UITableViewController::viewDidUnload();
    manager_->setDelegate(nullptr);
    if (bannerView_) bannerView_->setDelegate(nullptr);
    bannerView_.reset();
}

bool RootViewController::shouldAutorotateToInterfaceOrientation(int orientation) {
    return orientation == UIInterfaceOrientationPortrait || orientation == UIInterfaceOrientationLandscapeRight ||
           orientation == UIInterfaceOrientationLandscapeLeft;
}

void RootViewController::initSystem() {
    manager_->setDelegate(this);
    setDaemonStatus(text("Connecting to vexod daemon ..."));
    setDaemonStatus(text("Retrieving vexod daemon state ..."));
    actionIndicator()->startAnimating();
    if (!manager_->connectToDaemon()) {
        showAlert(text("Failed to connect to daemon"),
                  text("Please make sure this app was successfully installed, you can reinstall it in Cydia."), true);
        // The spinner goes on, but the switch stays within reach, so that
        // the user can try again.
        daemonUnreachable_ = true;
        setDaemonStatus(text("Failed to connect to vexod daemon."));
    }
}

// --- status texts

void RootViewController::setDaemonStatus(std::optional<std::string> status) {
    daemonStatus_ = std::move(status);
    log_from("-[RootViewController setDaemonStatus:]", "Daemon status: %s",
             daemonStatus_ ? daemonStatus_->c_str() : "(null)");
    tableView()->reloadData();
}

void RootViewController::setDeviceStatus(std::optional<std::string> status) {
    deviceStatus_ = std::move(status);
    UITableView* table = tableView();
    if (table->numberOfSections() > 1) table->reloadSections_withRowAnimation({1}, UITableViewRowAnimationNone);
}

// --- the switch

UISwitch* RootViewController::globalSwitch() {
    if (!globalSwitch_) {
        globalSwitch_ = std::make_shared<UISwitch>(kSwitchFrame);
        globalSwitch_->setBackgroundColor(UIColor::clearColor());
        globalSwitch_->setTag(kAccessoryTag);
        globalSwitch_->addTarget_action_forControlEvents(
            this, [this](UIControl* sender) { globalSwitchChanged(static_cast<UISwitch*>(sender)); },
            UIControlEventValueChanged);
        globalSwitch_->setAlternateColors(true);
    }
    return globalSwitch_.get();
}

UIActivityIndicatorView* RootViewController::actionIndicator() {
    if (!actionIndicator_) {
        actionIndicator_ = std::make_shared<UIActivityIndicatorView>(UIActivityIndicatorViewStyleGray);
        actionIndicator_->setFrame(kIndicatorFrame);
        actionIndicator_->setBackgroundColor(UIColor::clearColor());
        actionIndicator_->setTag(kAccessoryTag);
    }
    return actionIndicator_.get();
}

std::shared_ptr<UIView> RootViewController::switchRowAccessory() {
    globalSwitch();
    if (!actionIndicator()->isAnimating()) {
        globalSwitch_->setFrame(kSwitchFrame);
        return globalSwitch_;
    }
    if (!daemonUnreachable_) {
        actionIndicator_->setFrame(kIndicatorFrame);
        return actionIndicator_;
    }
    if (!retryControls_) {
        retryControls_ = std::make_shared<UIView>(kRetryFrame);
        retryControls_->setTag(kAccessoryTag);
    }
    actionIndicator_->setFrame(kRetryIndicatorFrame);
    globalSwitch_->setFrame(kRetrySwitchFrame);
    retryControls_->addSubview(actionIndicator_);
    retryControls_->addSubview(globalSwitch_);
    return retryControls_;
}

void RootViewController::globalSwitchChanged(UISwitch* sender) {
    UITableView* table = tableView();
    if (UITableViewCell* cell = table->cellForRowAtIndexPath({0, 0})) {
        if (UIView* accessory = cell->viewWithTag(kAccessoryTag)) accessory->removeFromSuperview();
        actionIndicator()->setFrame(kIndicatorFrame);
        cell->contentView()->addSubview(actionIndicator_);
        cell->setNeedsLayout();
    }
    actionIndicator()->startAnimating();
    // Trying (again): the switch is hidden behind the spinner until the
    // manager reports.
    daemonUnreachable_ = false;

    if (sender->isOn()) {
        setDaemonStatus(text("Initializing vexod daemon ..."));
        if (!manager_->connectToDaemon()) {
            // As at start: the switch goes back off and stays within reach
            // beside the spinner, so that the user can try once more.
            daemonUnreachable_ = true;
            globalSwitch()->setOn(false);
            setDaemonStatus(text("Failed to connect to vexod daemon."));
        }
        return;
    }
    searching_ = false;
    if (manager_->state() > DaemonStateConnected) {
        manager_->disconnectFromDevice();
        idleAllDevices();
        // The link ends with the connection: the device footer no longer
        // says it is up (shown when the switch is on again).
        setDeviceStatus(text("Remote service disconnected."));
    }
    setDaemonStatus(text("Shutting down vexod daemon ..."));
    manager_->shutdownDaemon();
}

// --- the table

int RootViewController::numberOfSectionsInTableView(UITableView*) {
    return globalSwitch()->isOn() && manager_->state() != DaemonStateDisconnected ? 2 : 1;
}

int RootViewController::tableView_numberOfRowsInSection(UITableView*, int section) {
    if (section == 0) return 1;
    if (section == 1) return static_cast<int>(devices_->deviceCount()) + 1;
    return 0;
}

std::shared_ptr<UITableViewCell> RootViewController::tableView_cellForRowAtIndexPath(UITableView* tableView,
                                                                                    NSIndexPath indexPath) {
    const int n = static_cast<int>(devices_->deviceCount());
    if (indexPath.section == 0) {
        std::shared_ptr<UITableViewCell> cell = tableView->dequeueReusableCellWithIdentifier(kSwitchCellIdentifier);
        if (cell) {
            remove_tagged_views(cell->contentView(), kAccessoryTag, 1);
        } else {
            cell = std::make_shared<SmartCellView>(UITableViewCellStyleDefault, kSwitchCellIdentifier);
        }
        cell->textLabel()->setText("GPS");
        cell->contentView()->addSubview(switchRowAccessory());
        return cell;
    }
    if (indexPath.section != 1) return nullptr;

    if (indexPath.row < n) {
        auto cell = std::dynamic_pointer_cast<BTDeviceView>(tableView->dequeueReusableCellWithIdentifier(kDeviceCellIdentifier));
        if (cell) {
            remove_tagged_views(cell->contentView(), kAccessoryTag);
        } else {
            cell = std::make_shared<BTDeviceView>(UITableViewCellStyleDefault, kDeviceCellIdentifier);
        }
        std::shared_ptr<BTDevice> device = devices_->deviceAt(indexPath.row);
        if (!device) return cell;
        cell->setAccessoryType(device->state() == BTDeviceStateConnected ? UITableViewCellAccessoryDetailDisclosureButton
                                                                          : UITableViewCellAccessoryNone);
        cell->setTitle(device->nameOrAddress());
        cell->setIsSaved(device->isSaved());
        cell->setIsBookmarked(device->isBookmarked());
        cell->setDescription(device_description(*device));
        cell->setState(device->state());
        cell->setDelegate(this);
        return cell;
    }

    auto cell = std::dynamic_pointer_cast<FindMoreView>(tableView->dequeueReusableCellWithIdentifier(kSearchCellIdentifier));
    if (cell) {
        remove_tagged_views(cell->contentView(), kAccessoryTag, 1);
    } else {
        cell = std::make_shared<FindMoreView>(UITableViewCellStyleDefault, kSearchCellIdentifier);
    }
    cell->setSearching(searching_);
    return cell;
}

double RootViewController::tableView_heightForRowAtIndexPath(UITableView*, NSIndexPath indexPath) {
    const bool device_row = indexPath.section == 1 && indexPath.row < static_cast<int>(devices_->deviceCount());
    return device_row ? kDeviceRowHeight : kRowHeight;
}

std::optional<std::string> RootViewController::tableView_titleForHeaderInSection(UITableView*, int section) {
    if (section == 1) return text("Devices");
    return std::nullopt;
}

std::optional<std::string> RootViewController::tableView_titleForFooterInSection(UITableView*, int section) {
    if (section == 0) return daemonStatus_;
    if (section == 1) return deviceStatus_;
    return std::nullopt;
}

std::optional<NSIndexPath> RootViewController::tableView_willSelectRowAtIndexPath(UITableView*, NSIndexPath indexPath) {
    if (indexPath.section != 1) return std::nullopt;
    const bool search_row = indexPath.row == static_cast<int>(devices_->deviceCount());
    if (search_row || manager_->state() <= DaemonStateConnected) return indexPath;
    return std::nullopt;
}

void RootViewController::tableView_didSelectRowAtIndexPath(UITableView* tableView, NSIndexPath indexPath) {
    if (indexPath.section != 1) return;
    const int n = static_cast<int>(devices_->deviceCount());

    if (indexPath.row == n) {
        // The search row.
        if (tableView->cellForRowAtIndexPath(indexPath) == nullptr || searching_) return;
        searching_ = true;
        setDeviceStatus(text("Searching for new devices ..."));
        const std::vector<uint32_t> unsaved = devices_->getUnsaved();
        devices_->clearUnsaved();
        tableView->deselectRowAtIndexPath_animated(indexPath, true);
        // The section was reloaded above: the row's cell as it is now.
        if (auto* search = dynamic_cast<FindMoreView*>(tableView->cellForRowAtIndexPath(indexPath))) {
            search->setSearching(true);
        }
        if (!unsaved.empty()) {
            std::vector<NSIndexPath> rows;
            rows.reserve(unsaved.size());
            for (uint32_t position : unsaved) rows.push_back({1, static_cast<int>(position)});
            tableView->deleteRowsAtIndexPaths_withRowAnimation(rows, UITableViewRowAnimationBottom);
        }
        manager_->startInquiry();
        return;
    }
    if (indexPath.row > n) return;

    // A device row.
    std::shared_ptr<BTDevice> device = devices_->deviceAt(indexPath.row);
    if (!device) return;
    device->setState(BTDeviceStateConnecting);
    if (BTDeviceView* cell = deviceCell(static_cast<uint32_t>(indexPath.row))) {
        cell->setState(device->state());
        cell->setDescription(text("Connecting ..."));
    }
    manager_->connectToDevice(*device);

    deselectLoop_ = UIApplication::sharedApplication()->runLoop();
    auto id = std::make_shared<RunLoop::TimerId>(0);
    *id = deselectLoop_->add_timer(std::chrono::milliseconds(kDeselectDelayMs), [this, indexPath, id] {
        std::erase(deselections_, *id);
        deselect(indexPath);
    });
    deselections_.push_back(*id);
}

void RootViewController::deselect(NSIndexPath indexPath) {
    UITableView* table = tableView();
    if (indexPath.section < table->numberOfSections() && indexPath.row < table->numberOfRowsInSection(indexPath.section)) {
        table->deselectRowAtIndexPath_animated(indexPath, true);
    }
}

void RootViewController::tableView_accessoryButtonTappedForRowWithIndexPath(UITableView*, NSIndexPath) {
    pushInspector();
}

void RootViewController::pushInspector() {
    UINavigationController* nav = navigationController();
    if (nav == nullptr) return;
    // Every change to state 3 opens a new inspector. One still standing
    // above this screen is replaced, not buried: it no longer listens, back
    // leads here, and the stack stays two screens deep however many links
    // come and go.
    while (nav->topViewController() != this && nav->viewControllers().size() > 1) nav->popViewControllerAnimated(false);
    nav->pushViewController_animated(std::make_shared<GPSInspector>(center_), true);
}

// --- devices

RootViewController::ActiveDevice RootViewController::activeDevice() {
    const uint32_t n = devices_->deviceCount();
    for (uint32_t i = 0; i < n; ++i) {
        std::shared_ptr<BTDevice> device = devices_->deviceAt(static_cast<int32_t>(i));
        if (device && device->state() != BTDeviceStateIdle) return {static_cast<int>(i), device, deviceCell(i)};
    }
    return {};
}

BTDeviceView* RootViewController::deviceCell(uint32_t index) {
    return dynamic_cast<BTDeviceView*>(tableView()->cellForRowAtIndexPath({1, static_cast<int>(index)}));
}

void RootViewController::idleAllDevices() {
    const uint32_t n = devices_->deviceCount();
    for (uint32_t i = 0; i < n; ++i) {
        std::shared_ptr<BTDevice> device = devices_->deviceAt(static_cast<int32_t>(i));
        if (device && device->state() != BTDeviceStateIdle) device->setState(BTDeviceStateIdle);
    }
}

void RootViewController::nameScanFrom(uint32_t k) {
    const uint32_t n = devices_->deviceCount();
    for (uint32_t i = k; i < n; ++i) {
        std::shared_ptr<BTDevice> device = devices_->deviceAt(static_cast<int32_t>(i));
        if (device && !device->isSaved()) {
            nameRequestIndex_ = i;
            setDeviceStatus(text("Resolving device names ..."));
            manager_->requestNameForDevice(*device);
            return;
        }
    }
    setDeviceStatus(text("Tap on one device to connect."));
}

// --- the daemon manager's reports

void RootViewController::daemonManager_stateChangedFrom_To(DaemonManager*, int32_t from, int32_t to) {
    ActiveDevice active = activeDevice();
    UITableView* table = tableView();
    switch (to) {
        case DaemonStateDisconnected:
            actionIndicator()->stopAnimating();
            setDaemonStatus(text("Connected to vexod daemon."));
            table->reloadData();
            break;
        case DaemonStateConnected:
            if (from == DaemonStateDisconnected) {
                actionIndicator()->stopAnimating();
                setDaemonStatus(std::nullopt);
                table->reloadData();
            } else if (from == DaemonStateLinked) {
                setDaemonStatus(std::nullopt);
                setDeviceStatus(text("Remote service disconnected."));
                // The link is down: its device is no longer connected (a
                // check mark left behind would also send the next link's
                // mark to the wrong row).
                if (active.device) active.device->setState(BTDeviceStateIdle);
                table->reloadData();
            }
            break;
        case DaemonStateLinked:
            setDaemonStatus(std::nullopt);
            setDeviceStatus(text("Connected to remote service."));
            if (active.device) active.device->setState(BTDeviceStateConnected);
            if (active.cell != nullptr) active.cell->setState(BTDeviceStateConnected);
            table->reloadData();
            pushInspector();
            break;
        default:
            break;
    }
}

void RootViewController::daemonManager_initialStateReterived(DaemonManager*, int32_t state) {
    if (state != DaemonStateConnected) return;
    actionIndicator()->stopAnimating();
    daemonUnreachable_ = false;
    globalSwitch()->setOn(true);
    setDaemonStatus(std::nullopt);
    // In state 1 no device is linked: a device still marked (a connection
    // that failed) goes back to idle rather than spinning for ever.
    idleAllDevices();
    tableView()->reloadData();
}

void RootViewController::daemonManager_foundNewDevice(DaemonManager*, std::shared_ptr<BTDevice>) {
    if (!globalSwitch()->isOn() || devices_->empty()) return;
    const int n = static_cast<int>(devices_->deviceCount());
    tableView()->insertRowsAtIndexPaths_withRowAnimation({{1, n - 1}}, UITableViewRowAnimationBottom);
}

void RootViewController::daemonManager_inquiryStopped(DaemonManager*, bool) {
    log_from("-[RootViewController daemonManager:inquiryStopped:]");
    searching_ = false;
    if (devices_->empty()) {
        setDeviceStatus(text("No device found, try search again."));
        return;
    }
    nameScanFrom(0);
}

void RootViewController::daemonManager_getDeviceName_forDevice_withResult(DaemonManager*,
                                                                          const std::optional<std::string>&,
                                                                          std::shared_ptr<BTDevice>, bool result) {
    if (result) {
        tableView()->reloadRowsAtIndexPaths_withRowAnimation({{1, static_cast<int>(nameRequestIndex_)}},
                                                             UITableViewRowAnimationFade);
    }
    ++nameRequestIndex_;
    if (nameRequestIndex_ < devices_->deviceCount()) {
        nameScanFrom(nameRequestIndex_);
    } else {
        setDeviceStatus(text("Tap on one device to connect."));
    }
}

void RootViewController::daemonManager_showTitle_Message(DaemonManager*, const std::string& title,
                                                         const std::string& message) {
    showAlert(title, message, false);
}

void RootViewController::getStatus(const std::string& status) {
    if (BTDeviceView* cell = activeDevice().cell) cell->setDescription(status);
}

void RootViewController::getMessage_withTitle(const std::string& message, const std::string& title) {
    showAlert(title, message, false);
}

// --- bookmarks

void RootViewController::bookmarkButtonPressedInBTDeviceView(BTDeviceView* view) {
    const uint32_t n = devices_->deviceCount();
    bool pressedFound = false;
    for (uint32_t i = 0; i < n; ++i) {
        std::shared_ptr<BTDevice> device = devices_->deviceAt(static_cast<int32_t>(i));
        BTDeviceView* cell = deviceCell(i);
        if (!device || cell == nullptr) continue;
        const NSIndexPath row{1, static_cast<int>(i)};
        if (cell != view) {
            // One bookmark: every other device on screen loses its own.
            if (device->isBookmarked()) {
                device->setIsBookmarked(false);
                tableView()->reloadRowsAtIndexPaths_withRowAnimation({row}, UITableViewRowAnimationFade);
            }
        } else if (!pressedFound) {
            pressedFound = true;
            device->setIsBookmarked(!device->isBookmarked());
            tableView()->reloadRowsAtIndexPaths_withRowAnimation({row}, UITableViewRowAnimationFade);
            showAlert(std::nullopt, std::nullopt, false);
        }
    }
}

void RootViewController::showAlert(std::optional<std::string> title, std::optional<std::string> message,
                                   bool withDelegate) {
    UIAlertView::initWithTitle_message_delegate_cancelButtonTitle_otherButtonTitles(
        std::move(title), std::move(message), withDelegate ? this : nullptr, text("Dismiss"))
        ->show();
}

}  // namespace vgps
