// The one object through which the application uses the vexod daemon: it
// owns the daemon connection and its state, turns the daemon's
// notifications into calls on its delegate, and offers the operations the
// main screen needs. It also owns the GPS data link to a connected device.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "link/vexod_notify.h"
#include "nmea/info.h"
#include "nmea/parser.h"
#include "platform/notification_center.h"
#include "platform/socket.h"
#include "registry/BTDevice.h"
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
// How long a connect may take.
inline constexpr double kConnectTimeoutSeconds = 5.0;

// The position notification, posted after every block read from the data
// socket, and its four user-info entries.
inline constexpr const char* kPositionNotificationName = "com.quiloe.vexod-gps-trial-nmea";
inline constexpr const char* kPositionUTCKey = "UTC";  // text, see position_utc_text
inline constexpr const char* kPositionFixKey = "FIX";  // integer: 1 no fix, 2 2D, 3 3D
inline constexpr const char* kPositionLatKey = "LAT";  // single precision, ddmm.mmmm, negative south
inline constexpr const char* kPositionLonKey = "LON";  // single precision, dddmm.mmmm, negative west

// Longest data socket path accepted, its terminating zero included: the path
// field of a local socket address on the daemon's platform. A longer path is
// refused, never cut short.
inline constexpr size_t kMaxDataSocketPath = 104;

// Largest block read from the data socket: one byte of the buffer is kept
// for the terminating zero.
inline constexpr int kNmeaBlockSize = 1023;
// Most blocks one read callback takes. A real receiver sends a few hundred
// bytes a second, so the socket is always drained at once; a peer that
// writes faster than the blocks are decoded cannot keep the main thread in
// one callback for ever: the rest waits for the next turn of the run loop.
inline constexpr int kNmeaMaxBlocksPerCallback = 64;

// "YYYY/MM/DD hh:mm:ss.hh" of an nmeaTIME (year + 1900, month + 1; the
// hundredths as two digits at least, so hsec 7 gives ".07").
std::string position_utc_text(const nmeaTIME& utc);
// The user-info of the position notification for `info`.
UserInfo position_user_info(const nmeaINFO& info);

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
    // The singleton, made on the first call and never destroyed. Making it
    // installs it as the notification target and installs the reaction to
    // the loss of the daemon.
    static DaemonManager* sharedManager();

    DaemonManager();  // init: no socket, no delegate, state 0
    ~DaemonManager() override;
    DaemonManager(const DaemonManager&) = delete;
    DaemonManager& operator=(const DaemonManager&) = delete;

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
    void readNMEASentences();
    void serviceQueryResponse_remote_patten_patten_len_attribute_attribute_len_result(
        int fd, bdaddr remote, const uint8_t* patten, uint32_t patten_len, const uint8_t* attribute,
        uint32_t attribute_len, uint32_t result) override;
    void stateChangedFrom_To(int32_t from, int32_t to) override;
    void foundNewDevice(std::shared_ptr<BTDevice> device) override;
    void inquiryCompleted() override;
    void getName_length_forDevice(const char* name, uint32_t length, bdaddr address) override;
    // Forwarded to a delegate that also implements DaemonManagerMessageReceiver;
    // nothing in the system calls them.
    void getStatus(const std::string& status);
    void getMessage_withTitle(const std::string& message, const std::string& title);

    DaemonManagerDelegate* delegate() const { return delegate_; }
    void setDelegate(DaemonManagerDelegate* delegate) { delegate_ = delegate; }
    int32_t state() const override { return state_; }

    // Where connectToDaemon looks for the daemon's local socket
    // (kDaemonSocketPath unless set).
    const std::string& daemonSocketPath() const { return socketPath_; }
    void setDaemonSocketPath(std::string path) { socketPath_ = std::move(path); }

    // The daemon socket's descriptor, -1 while not connected.
    int daemonDescriptor() const;
    // The data socket's descriptor, -1 while there is no data link.
    int dataDescriptor() const { return rfcomm ? rfcomm->native() : -1; }
    // The decoded state of the current (or last) data link.
    const nmeaINFO& gpsInfo() const { return info; }

private:
    // Unregisters the data socket and closes its descriptor.
    void closeDataLink();
    // A data link that cannot be set up: told to the user, state back to 1.
    void reportDataLinkFailure(bool alert_first);

    std::unique_ptr<Socket> vexodPanSocket;
    DaemonManagerDelegate* delegate_ = nullptr;  // not owned
    int32_t state_ = DaemonStateDisconnected;
    std::unique_ptr<Socket> rfcomm;  // the data socket of the GPS link
    nmeaPARSER parser;               // the link's NMEA stream parser
    nmeaINFO info{};                 // decoded state of the link
    uint8_t nmeaBuffer[kNmeaBlockSize + 1] = {};
    std::string socketPath_ = kDaemonSocketPath;
};

// Run-loop callback of the data socket: reads the NMEA stream.
void rfcomm_socket_callback(Socket* s, uint32_t type, const void* address, const void* data, void* info);

}  // namespace vgps
