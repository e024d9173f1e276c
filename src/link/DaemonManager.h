// The one object through which the application uses the vexod daemon: it
// owns the daemon connection and its state, turns the daemon's
// notifications into calls on its delegate, and offers the operations the
// main screen needs. It also owns the GPS data link to a connected device
// (GPSDataLink), whose operations it keeps under their own names.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/GPSDataLink.h"
#include "link/vexod_notify.h"
#include "nmea/info.h"
#include "platform/notification_center.h"
#include "platform/run_loop.h"
#include "platform/socket.h"
#include "registry/BTDevice.h"
#include "registry/BTDeviceCache.h"
#include "registry/bdaddr.h"

namespace vgps {

enum DaemonState : int32_t {
    DaemonStateDisconnected = 0,  // no daemon connection
    DaemonStateConnected = 1,     // connected and registered; no data link
    DaemonStateConnecting = 2,    // never entered
    DaemonStateLinked = 3,        // the data socket to the receiver is up
};

// The development transport, used when the device model is
// kSimulatorModel: TCP to this host and port.
inline constexpr const char* kSimulatorModel = "iPhone Simulator";
inline constexpr const char* kDevelopmentHostAddress = "127.0.0.1";
inline constexpr uint16_t kDevelopmentPort = 34980;

class DaemonManager;

// The observer of the manager. Every operation is required.
class DaemonManagerDelegate {
public:
    virtual ~DaemonManagerDelegate() = default;
    // A failure of the GPS data link to be shown to the user.
    virtual void daemonManager_showTitle_Message(DaemonManager* manager, const std::string& title,
                                                 const std::string& message) = 0;
    // A name request completed; `name` absent on failure.
    virtual void daemonManager_getDeviceName_forDevice_withResult(DaemonManager* manager,
                                                                  const std::optional<std::string>& name,
                                                                  std::shared_ptr<BTDevice> device, bool result) = 0;
    // An inquiry found an address not yet in the device list (the record is
    // already in it).
    virtual void daemonManager_foundNewDevice(DaemonManager* manager, std::shared_ptr<BTDevice> device) = 0;
    // An inquiry completed or was cancelled; always true.
    virtual void daemonManager_inquiryStopped(DaemonManager* manager, bool stopped) = 0;
    virtual void daemonManager_stateChangedFrom_To(DaemonManager* manager, int32_t from, int32_t to) = 0;
    // After a successful connect, and when a "change" to the current state
    // is asked for.
    virtual void daemonManager_initialStateReterived(DaemonManager* manager, int32_t state) = 0;
};

// Optional extra of a delegate: receives getStatus and getMessage_withTitle.
class DaemonManagerMessageReceiver {
public:
    virtual ~DaemonManagerMessageReceiver() = default;
    virtual void getStatus(const std::string& status) = 0;
    virtual void getMessage_withTitle(const std::string& message, const std::string& title) = 0;
};

class DaemonManager : public VexodNotificationTarget {
public:
    // The singleton, made on the first call and never destroyed, on the
    // process-wide device list, notification centre and main run loop. It
    // is installed as the notification target at once.
    static DaemonManager* sharedManager();

    // init: no socket, no delegate, state 0. The device list (for names and
    // found devices), the notification centre (for positions) and the run
    // loop (for both sockets) are not owned.
    DaemonManager(BTDeviceCache* devices, NotificationCenter* center, RunLoop* loop);
    ~DaemonManager() override;
    DaemonManager(const DaemonManager&) = delete;
    DaemonManager& operator=(const DaemonManager&) = delete;

    // Makes this manager the one the daemon's notifications and the loss of
    // the daemon are reported to (until it is destroyed or another one is
    // installed).
    void installAsNotificationTarget();

    void requestNameForDevice(const BTDevice& device);
    void startInquiry();
    void shutdownDaemon();
    void initializeDaemon();
    void disconnectFromDaemon() override;
    bool isConnected() const;
    bool connectToDaemon();
    void disconnectFromDevice();
    // The GPS data link.
    bool connectToDevice(const BTDevice& device);
    void connectWithSocketPath_status(const char* path, int32_t status) override;
    void readNMEASentences() { link_.readNMEASentences(); }
    void serviceQueryResponse_remote_patten_patten_len_attribute_attribute_len_result(
        int fd, bdaddr remote, const uint8_t* patten, uint32_t patten_len, const uint8_t* attribute,
        uint32_t attribute_len, uint32_t result) override;
    void stateChangedFrom_To(int32_t from, int32_t to) override;
    void foundNewDevice(std::shared_ptr<BTDevice> device) override;
    void inquiryCompleted() override;
    void getName_length_forDevice(const char* name, uint32_t length, bdaddr address) override;
    BTDeviceCache* deviceList() override { return devices_; }
    // Forwarded to a delegate that also implements DaemonManagerMessageReceiver;
    // nothing in the system calls them.
    void getStatus(const std::string& status);
    void getMessage_withTitle(const std::string& message, const std::string& title);

    DaemonManagerDelegate* delegate() const { return delegate_; }
    void setDelegate(DaemonManagerDelegate* delegate) { delegate_ = delegate; }
    // Side observers (not owned): each one hears every report the delegate
    // hears, with the same arguments, just before the delegate does. Without
    // a delegate nothing is reported, to them either. A front-end that
    // reports what happens (without being the screen) listens here.
    void addObserver(DaemonManagerDelegate* observer);
    void removeObserver(DaemonManagerDelegate* observer);
    int32_t state() const override { return state_; }

    // Where connectToDaemon looks for the daemon's local socket
    // (kDaemonSocketPath unless set).
    const std::string& daemonSocketPath() const { return socketPath_; }
    void setDaemonSocketPath(std::string path) { socketPath_ = std::move(path); }

    // The daemon socket's descriptor, -1 while not connected.
    int daemonDescriptor() const;
    // The data socket's descriptor, -1 while there is no data link.
    int dataDescriptor() const { return link_.descriptor(); }
    // The decoded state of the current (or last) data link.
    const nmeaINFO& gpsInfo() const { return link_.info(); }

private:
    // The one place the state changes: stores `to` and tells the delegate,
    // as a change from `from` or, with `as_change` false, as the state
    // retrieved.
    void setState(int32_t from, int32_t to, bool as_change);
    // A step of the data link that failed: the state goes back to 1 and the
    // delegate is shown the (localised) title and message, after the state
    // change or, with `alert_first`, before it.
    void reportLinkFailure(const char* title, const char* message, bool alert_first = false);
    // The service search was not performed (refused, or the device is off).
    void reportServiceSearchFailed();
    // Closes the daemon socket, if any, forgetting what was held for it;
    // reports nothing.
    void closeDaemonSocket();
    // Calls `report` on each observer, then on the delegate; nothing
    // without a delegate.
    template <class Report>
    void tell(const Report& report);

    BTDeviceCache* devices_;  // not owned
    RunLoop* loop_;           // not owned
    std::unique_ptr<Socket> vexodPanSocket;
    DaemonManagerDelegate* delegate_ = nullptr;  // not owned
    std::vector<DaemonManagerDelegate*> observers_;  // not owned
    int32_t state_ = DaemonStateDisconnected;
    GPSDataLink link_;  // the data socket, its parser, record and buffer
    std::string socketPath_ = kDaemonSocketPath;
    RunLoop::TimerId heldTimer_ = 0;  // serves the held notifications
};

}  // namespace vgps
