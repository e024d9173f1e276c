// The front-end without screens: a daemon manager delegate that prints every
// report as one line and drives the daemon the way the main screen does
// (connect, one inquiry, the names of the new devices one at a time, then a
// tap on one device), and prints every position the data link posts.
//
// Output lines (texts are JSON strings):
//   remembered <address> name=<text|null> class=0x<6 hex> saved=<0|1> bookmarked=<0|1>
//   initial-state <n>
//   state <old> -> <new>
//   connect-failed
//   inquiry-started
//   found <address> class=0x<6 hex>
//   inquiry-stopped
//   no-devices
//   name <address> <text|null>
//   name-failed <address>
//   names-done
//   connecting <address>
//   device-not-found <address>
//   {"UTC":<text>,"FIX":<n>,"LAT":<ddmm.mmmm>,"LON":<dddmm.mmmm>,"LAT_DEG":<degrees>,"LON_DEG":<degrees>}
//   message <title> <message>
//   alert <title> <message> [<button>]...      (printed by the alert presenter)
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "link/DaemonManager.h"
#include "registry/BTDeviceCache.h"

namespace vgps {

class HeadlessFrontEnd : public DaemonManagerDelegate {
public:
    HeadlessFrontEnd(FILE* out, DaemonManager* manager, BTDeviceCache* cache);
    ~HeadlessFrontEnd() override;

    // The device to connect to once the names are resolved; without one,
    // the first device the inquiry found, else the first of the list.
    void setDeviceAddress(const bdaddr& address) { deviceAddress_ = address; }
    // Prints no more than `limit` positions (0: no limit); a callback can
    // post several.
    void setPositionLimit(uint64_t limit) { positionLimit_ = limit; }

    // One "remembered" line per device in the list, in list order.
    void printRemembered();
    // Connects and starts one inquiry. False when the daemon cannot be
    // reached ("connect-failed").
    bool start();

    // The daemon went away after having been connected.
    bool daemonGone() const { return daemonGone_; }
    // The inquiry has ended and no name is left to ask for.
    bool namesDone() const { return namesDone_; }
    // Nothing more will happen: the names are resolved and the data link
    // to the chosen device has ended (its data socket read to the end),
    // could not be made, or was not tried.
    bool finished() const { return namesDone_ && !linkPending_ && manager_->dataDescriptor() < 0; }
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

private:
    void line(const std::string& text);
    // Asks for the name of the first device not saved at position k or
    // later; "names-done" when there is none.
    void scanNamesFrom(uint32_t k);
    void namesFinished();
    // Connects to the chosen device, as a tap on its row does.
    void connectDevice();
    void linkEnded();

    FILE* out_;
    DaemonManager* manager_;
    BTDeviceCache* cache_;
    uint32_t nameRequestIndex_ = 0;
    bool wasConnected_ = false;
    bool daemonGone_ = false;
    bool namesDone_ = false;
    std::optional<bdaddr> deviceAddress_;
    std::optional<bdaddr> firstFound_;
    std::shared_ptr<BTDevice> linkDevice_;
    bool linkPending_ = false;
    uint64_t positions_ = 0;
    uint64_t positionLimit_ = 0;
    NotificationCenter::ObserverId positionObserver_ = 0;
};

}  // namespace vgps
