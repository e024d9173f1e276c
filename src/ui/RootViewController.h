// The main screen, root of the navigation stack: a grouped table with the
// switch row that connects to the vexod daemon or drops the connection, and
// (while connected) the list of devices followed by the search row. Status
// texts are the sections' footers. The screen is the daemon manager's
// delegate: it turns the manager's reports into table updates, texts and
// alerts, resolves the names of new devices one at a time, and opens the
// GPS inspector when a device's data link comes up.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/DaemonManager.h"
#include "platform/notification_center.h"
#include "platform/run_loop.h"
#include "registry/BTDeviceCache.h"
#include "ui/BTDeviceView.h"
#include "uikit/GADBannerView.h"
#include "uikit/UIActivityIndicatorView.h"
#include "uikit/UIAlertView.h"
#include "uikit/UISwitch.h"
#include "uikit/UITableViewController.h"

namespace vgps {

class RootViewController : public UITableViewController,
                           public DaemonManagerDelegate,
                           public DaemonManagerMessageReceiver,
                           public BTDeviceViewDelegate,
                           public UIAlertViewDelegate,
                           public GADBannerViewDelegate {
public:
    // The tag of the replaceable accessory views of the cells.
    static constexpr int kAccessoryTag = 3;
    static constexpr double kDeviceRowHeight = 54;
    static constexpr double kRowHeight = 44;
    // How long a tapped device row stays selected.
    static constexpr int kDeselectDelayMs = 500;

    // init: a grouped table on `manager` (and its device list); the GPS
    // inspectors it opens listen to `center`.
    RootViewController(DaemonManager* manager, NotificationCenter* center);
    ~RootViewController() override;
    const char* className() const override { return "RootViewController"; }

    void viewDidLoad() override;
    void viewDidUnload() override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

    // Becomes the manager's delegate and connects to the daemon.
    void initSystem();
    const std::optional<std::string>& daemonStatus() const { return daemonStatus_; }
    const std::optional<std::string>& deviceStatus() const { return deviceStatus_; }
    void setDaemonStatus(std::optional<std::string> status);
    void setDeviceStatus(std::optional<std::string> status);
    bool searching() const { return searching_; }
    uint32_t nameRequestIndex() const { return nameRequestIndex_; }

    // Made on first use.
    UISwitch* globalSwitch();
    UIActivityIndicatorView* actionIndicator();
    // The switch was turned on or off.
    void globalSwitchChanged(UISwitch* sender);

    int numberOfSectionsInTableView(UITableView* tableView) override;
    int tableView_numberOfRowsInSection(UITableView* tableView, int section) override;
    std::shared_ptr<UITableViewCell> tableView_cellForRowAtIndexPath(UITableView* tableView,
                                                                    NSIndexPath indexPath) override;
    double tableView_heightForRowAtIndexPath(UITableView* tableView, NSIndexPath indexPath) override;
    std::optional<std::string> tableView_titleForHeaderInSection(UITableView* tableView, int section) override;
    std::optional<std::string> tableView_titleForFooterInSection(UITableView* tableView, int section) override;
    std::optional<NSIndexPath> tableView_willSelectRowAtIndexPath(UITableView* tableView,
                                                                  NSIndexPath indexPath) override;
    void tableView_didSelectRowAtIndexPath(UITableView* tableView, NSIndexPath indexPath) override;
    void tableView_accessoryButtonTappedForRowWithIndexPath(UITableView* tableView, NSIndexPath indexPath) override;
    // The delayed deselection of a tapped device row.
    void deselect(NSIndexPath indexPath);

    // DaemonManagerDelegate
    void daemonManager_showTitle_Message(DaemonManager* manager, const std::string& title,
                                         const std::string& message) override;
    void daemonManager_getDeviceName_forDevice_withResult(DaemonManager* manager, const std::optional<std::string>& name,
                                                          std::shared_ptr<BTDevice> device, bool result) override;
    void daemonManager_foundNewDevice(DaemonManager* manager, std::shared_ptr<BTDevice> device) override;
    void daemonManager_inquiryStopped(DaemonManager* manager, bool stopped) override;
    void daemonManager_stateChangedFrom_To(DaemonManager* manager, int32_t from, int32_t to) override;
    void daemonManager_initialStateReterived(DaemonManager* manager, int32_t state) override;

    // The manager's forwarders, which nothing calls.
    void getStatus(const std::string& status) override;
    void getMessage_withTitle(const std::string& message, const std::string& title) override;

    // BTDeviceViewDelegate
    void bookmarkButtonPressedInBTDeviceView(BTDeviceView* view) override;

    GADBannerView* bannerView() const { return bannerView_.get(); }

private:
    struct ActiveDevice {
        int index = -1;
        std::shared_ptr<BTDevice> device;
        BTDeviceView* cell = nullptr;  // null when its row is not on screen
    };
    // The first device whose state is not idle, and its cell.
    ActiveDevice activeDevice();
    BTDeviceView* deviceCell(uint32_t index);
    // Puts every device that is not idle back to idle.
    void idleAllDevices();
    // Asks for the name of the first device not saved from position k on.
    void nameScanFrom(uint32_t k);
    // Opens a new inspector in place of any still standing above this screen.
    void pushInspector();
    void showAlert(std::optional<std::string> title, std::optional<std::string> message, bool withDelegate);
    // The switch row's accessory: the spinner while it runs, else the
    // switch; after a connection that failed, the switch beside the spinner.
    std::shared_ptr<UIView> switchRowAccessory();

    DaemonManager* manager_;
    BTDeviceCache* devices_;
    NotificationCenter* center_;
    std::shared_ptr<UISwitch> globalSwitch_;
    std::shared_ptr<UIActivityIndicatorView> actionIndicator_;
    // The switch and the spinner side by side (after a failed connection).
    std::shared_ptr<UIView> retryControls_;
    std::optional<std::string> daemonStatus_;
    std::optional<std::string> deviceStatus_;
    bool searching_ = false;
    uint32_t nameRequestIndex_ = 0;
    // The daemon could not be reached: the switch stays offered beside the
    // spinner, so that the user can try again.
    bool daemonUnreachable_ = false;
    std::shared_ptr<GADBannerView> bannerView_;
    RunLoop* deselectLoop_ = nullptr;
    std::vector<RunLoop::TimerId> deselections_;
};

}  // namespace vgps
