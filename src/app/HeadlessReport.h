// What the headless front-end prints: one line per report on stdout, texts
// as JSON strings. The daemon manager's reports come to it as a side
// observer of the manager (the main screen is the manager's delegate and
// hears the same reports just after), positions as an observer of the
// position notification, the engine's alerts through the alert presenter
// (passed on to the screen's alert queue); the scripted user adds the
// lines of what it sees and does.
//
//   remembered <address> name=<text|null> class=0x<6 hex> saved=<0|1> bookmarked=<0|1>
//   connect-failed                          (scripted user: the screen's footer)
//   initial-state <n>
//   state <old> -> <new>
//   inquiry-started                         (scripted user: after its tap on the search row)
//   found <address> class=0x<6 hex>
//   inquiry-stopped
//   no-devices                              (scripted user: the screen's footer)
//   name <address> <text|null>
//   name-failed <address>
//   names-done                              (scripted user: the screen's footer)
//   connecting <address>                    (scripted user: before its tap on the row)
//   device-not-found <address>              (scripted user)
//   {"UTC":<text>,"FIX":<n>,"LAT":<ddmm.mmmm>,"LON":<dddmm.mmmm>,"LAT_DEG":<degrees>,"LON_DEG":<degrees>}
//   message <title> <message>
//   alert <title> <message> [<button>]...
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "link/DaemonManager.h"
#include "platform/alert.h"
#include "registry/BTDeviceCache.h"

namespace vgps {

class HeadlessReport : public DaemonManagerDelegate, public AlertPresenter {
public:
    // Listens to `manager` and to the positions `center` carries, and shows
    // the engine's alerts (then hands them to the presenter installed before
    // it) until it goes.
    HeadlessReport(FILE* out, DaemonManager* manager, NotificationCenter* center);
    ~HeadlessReport() override;
    HeadlessReport(const HeadlessReport&) = delete;
    HeadlessReport& operator=(const HeadlessReport&) = delete;

    // Prints no more than `limit` positions (0: no limit); a callback can
    // post several.
    void setPositionLimit(uint64_t limit) { positionLimit_ = limit; }

    void line(const std::string& text);
    // One "remembered" line per device in `devices`, in list order.
    void printRemembered(const BTDeviceCache& devices);

    // A data link is being asked for (true): it is pending until the state
    // leaves 3, or a failed connection reports state 1 again.
    void setLinkPending(bool pending) { linkPending_ = pending; }
    bool linkPending() const { return linkPending_; }
    // The daemon went away after having been connected.
    bool daemonGone() const { return daemonGone_; }
    // The first device an inquiry found.
    const std::optional<bdaddr>& firstFound() const { return firstFound_; }
    // Position lines printed so far.
    uint64_t positionCount() const { return positions_; }

    // The position line of a notification's user-info: the four entries,
    // then latitude and longitude in decimal degrees as the inspector
    // shows them ("%f" of nmea_ndeg2degree, in single precision).
    static std::string positionLine(const UserInfo& userInfo);

    void daemonManager_showTitle_Message(DaemonManager* manager, const std::string& title,
                                         const std::string& message) override;
    void daemonManager_getDeviceName_forDevice_withResult(DaemonManager* manager, const std::optional<std::string>& name,
                                                          std::shared_ptr<BTDevice> device, bool result) override;
    void daemonManager_foundNewDevice(DaemonManager* manager, std::shared_ptr<BTDevice> device) override;
    void daemonManager_inquiryStopped(DaemonManager* manager, bool stopped) override;
    void daemonManager_stateChangedFrom_To(DaemonManager* manager, int32_t from, int32_t to) override;
    void daemonManager_initialStateReterived(DaemonManager* manager, int32_t state) override;

    void present(const AlertView& alert) override;

private:
    FILE* out_;
    DaemonManager* manager_;
    NotificationCenter* center_;
    AlertPresenter* previousPresenter_;
    NotificationCenter::ObserverId positionObserver_ = 0;
    bool wasConnected_ = false;
    bool daemonGone_ = false;
    std::optional<bdaddr> firstFound_;
    bool linkPending_ = false;
    uint64_t positions_ = 0;
    uint64_t positionLimit_ = 0;
};

}  // namespace vgps
