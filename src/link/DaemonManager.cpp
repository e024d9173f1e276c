#include "link/DaemonManager.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "link/utility.h"
#include "link/vexod_rpc1.h"
#include "platform/alert.h"
#include "platform/device_info.h"
#include "platform/fd.h"
#include "platform/localization.h"
#include "platform/log.h"
#include "platform/text.h"
#include "sdp/sdp_record_walk.h"

namespace vgps {
namespace {

// The service search of connectToDevice: the Serial Port service class
// (one 16-bit UUID, 0x1101), all attributes (0x0000 to 0xFFFF).
constexpr uint8_t kSerialPortPattern[] = {0x35, 0x03, 0x19, 0x11, 0x01};
constexpr uint8_t kAllAttributes[] = {0x35, 0x05, 0x0A, 0x00, 0x00, 0xFF, 0xFF};
constexpr uint16_t kMaxAttributeBytes = 0xFFFF;

// The texts of the data link's failures (looked up before they are shown).
constexpr const char* kServiceSearchingTitle = "Service Searching";
constexpr const char* kConnectionTitle = "Connection";
constexpr const char* kConnectionMessage = "Could be connect to remote serial port service.";
// The alert of a daemon that stopped answering.
constexpr const char* kNoAnswerTitle = "Daemon not answering";
constexpr const char* kNoAnswerMessage = "The vexod daemon did not answer. It may be busy serving another application.";

// Logged in place of a request's result when there is no connection to
// send it on.
int not_connected(const char* who) {
    log_from(who, "not connected to the daemon");
    return 1;
}

}  // namespace

DaemonManager* DaemonManager::sharedManager() {
    static DaemonManager* mgr = [] {
        auto* m = new DaemonManager(BTDeviceCache::sharedCache(), NotificationCenter::defaultCenter(), RunLoop::main());
        m->installAsNotificationTarget();
        return m;
    }();
    return mgr;
}

DaemonManager::DaemonManager(BTDeviceCache* devices, NotificationCenter* center, RunLoop* loop)
    : devices_(devices), loop_(loop), link_(center, loop) {}

DaemonManager::~DaemonManager() {
    // A manager that goes (tests make fresh ones) leaves no dangling target,
    // reaction or timer behind.
    VexodNotificationTarget* previous = vexod_set_notification_target(nullptr);
    if (previous != this) {
        vexod_set_notification_target(previous);
    } else {
        vexod_set_peer_disconnect_handler({});
        vexod_set_hold_handler({});
    }
    if (heldTimer_ != 0) loop_->cancel_timer(heldTimer_);
    closeDaemonSocket();
}

void DaemonManager::installAsNotificationTarget() {
    vexod_set_notification_target(this);
    // The loss of the daemon: drop the connection, then tell the user what
    // happened. A daemon that stays silent has not exited: it may be
    // serving another application (it serves one at a time, the next
    // waiting unanswered). A stop signal ends the application: nothing to
    // tell.
    vexod_set_peer_disconnect_handler([this](int /*fd*/, VexodLoss why) {
        disconnectFromDaemon();
        if (why == VexodLoss::Stopped) return;
        const bool silent = why == VexodLoss::NoAnswer;
        AlertView alert(localized_string(silent ? kNoAnswerTitle : "Daemon disconnected", ""),
                        localized_string(silent ? kNoAnswerMessage : "The vexod daemon exited.", ""), nullptr,
                        localized_string("Dismiss", ""));
        alert.show();
    });
    // A notification that came while a request waited for its response is
    // served once the request and whatever called it have returned: on the
    // next turn of the run loop.
    vexod_set_hold_handler([this](int /*fd*/) {
        if (heldTimer_ != 0) return;
        heldTimer_ = loop_->add_timer(std::chrono::milliseconds(0), [this] {
            heldTimer_ = 0;
            if (isConnected()) vexod_serve_held(vexodPanSocket->native());
        });
    });
}

void DaemonManager::closeDaemonSocket() {
    if (!vexodPanSocket) return;
    // What was held for this connection must not be served to the next
    // one, which may get the same descriptor.
    vexod_drop_held(vexodPanSocket->native());
    vexodPanSocket->invalidate();
    vexodPanSocket.reset();
}

void DaemonManager::addObserver(DaemonManagerDelegate* observer) {
    if (observer != nullptr && std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) {
        observers_.push_back(observer);
    }
}

void DaemonManager::removeObserver(DaemonManagerDelegate* observer) { std::erase(observers_, observer); }

template <class Report>
void DaemonManager::tell(const Report& report) {
    if (!delegate_) return;
    // An observer may remove itself (or another) while being told.
    for (DaemonManagerDelegate* observer : std::vector<DaemonManagerDelegate*>(observers_)) {
        if (std::find(observers_.begin(), observers_.end(), observer) != observers_.end()) report(observer);
    }
    if (delegate_) report(delegate_);
}

int DaemonManager::daemonDescriptor() const { return isConnected() ? vexodPanSocket->native() : -1; }

void DaemonManager::requestNameForDevice(const BTDevice& device) {
    static const char* const who = "-[DaemonManager requestNameForDevice:]";
    log_from(who);
    bdaddr address;
    std::memcpy(address.addr, device.getDeviceAddress()->addr, 6);
    const int rc = isConnected() ? vexod_request_name(vexodPanSocket->native(), address, 0, 0, nullptr)
                                 : not_connected(who);
    log_from(who, "%d", rc);
}

void DaemonManager::startInquiry() {
    static const char* const who = "-[DaemonManager startInquiry]";
    log_from(who);
    const int rc = isConnected() ? vexod_start_inquiry(vexodPanSocket->native(), nullptr) : not_connected(who);
    log_from(who, "%d", rc);
}

void DaemonManager::shutdownDaemon() {
    log_from("-[DaemonManager shutdownDaemon]");
    disconnectFromDaemon();
}

void DaemonManager::initializeDaemon() {
    static const char* const who = "-[DaemonManager initializeDaemon]";
    log_from(who);
    if (!isConnected()) {
        log_from(who, "%d", not_connected(who));
        return;
    }
    uint32_t power = 0;
    const int rc = vexod_get_power_state(vexodPanSocket->native(), &power);
    log_from(who, "%d", rc);
    // Power on only on a successful answer saying the radio is off: a
    // failed request tells nothing about the radio (and may have dropped
    // the connection).
    if (rc == 0 && power == 0 && isConnected()) {
        const int on = vexod_power_on(vexodPanSocket->native(), nullptr);
        log_from(who, "%d", on);
    }
}

void DaemonManager::disconnectFromDaemon() {
    // Dropped also when already invalid, so no stale object is left.
    closeDaemonSocket();
    setState(state_, DaemonStateDisconnected, true);
}

bool DaemonManager::isConnected() const { return vexodPanSocket != nullptr && vexodPanSocket->valid(); }

bool DaemonManager::connectToDaemon() {
    static const char* const who = "-[DaemonManager connectToDaemon]";
    const std::string model = device_model();
    log_from(who, "Running on %s ...", model.c_str());

    sockaddr_storage address{};
    socklen_t address_len;
    int family;
    if (model == kSimulatorModel) {
        auto* in = reinterpret_cast<sockaddr_in*>(&address);
        in->sin_family = AF_INET;
        in->sin_port = htons(kDevelopmentPort);
        in->sin_addr.s_addr = ::inet_addr(kDevelopmentHostAddress);
        address_len = sizeof(sockaddr_in);
        family = PF_INET;
    } else {
        address_len = sizeof(sockaddr_un);
        family = PF_LOCAL;
        // A path that does not fit is refused rather than cut short to
        // some other path.
        if (!local_address(socketPath_, reinterpret_cast<sockaddr_un*>(&address))) {
            log_from(who, "failed to connect: %s", std::strerror(errno));
            return false;
        }
    }

    // A second connect replaces the first: the old connection is closed
    // first (silently: the new one reports the state) rather than left open
    // behind the new one.
    const bool had_connection = vexodPanSocket != nullptr;
    closeDaemonSocket();
    // When the replacement fails, the dropped connection is reported.
    auto fail = [&] {
        if (had_connection && state_ != DaemonStateDisconnected) disconnectFromDaemon();
        return false;
    };

    std::unique_ptr<Socket> s =
        Socket::create(family, SOCK_STREAM, 0, kSocketReadCallBack, vexod_rpc_callback, nullptr);
    if (!s) {
        log_from(who, "failed to create socket: %s", std::strerror(errno));
        return fail();
    }
    s->schedule(loop_);
    if (s->connect_to_address(reinterpret_cast<sockaddr*>(&address), address_len, kConnectTimeoutSeconds) !=
        kSocketSuccess) {
        log_from(who, "failed to connect: %s", std::strerror(errno));
        s->invalidate();
        return fail();
    }
    // Only a daemon of root or of this user is talked to; another user's
    // process on the path is refused like a daemon that is not there.
    if (family == PF_LOCAL && !trusted_local_peer(who, s->native(), "the daemon on " + socketPath_)) {
        s->invalidate();
        return fail();
    }
    set_nonblocking(s->native());
    vexodPanSocket = std::move(s);

    vexod_register_application(vexodPanSocket->native(), nullptr);
    initializeDaemon();

    // Losing the daemon during the requests has already closed the
    // connection and reported state 0: connecting failed.
    if (!isConnected()) {
        log_from(who, "daemon connection lost while connecting");
        return false;
    }
    setState(state_, DaemonStateConnected, false);
    return true;
}

void DaemonManager::disconnectFromDevice() {
    // The main screen calls this before switching the daemon off: the data
    // socket is closed with it rather than left open until its peer goes.
    // The state is left to the daemon connection's own report.
    link_.close();
}

bool DaemonManager::connectToDevice(const BTDevice& device) {
    static const char* const who = "-[DaemonManager connectToDevice:]";
    bdaddr address;
    std::memcpy(address.addr, device.getDeviceAddress()->addr, 6);
    if (!isConnected()) {
        not_connected(who);
        return true;
    }
    const int rc = vexod_service_attribute_search_request(vexodPanSocket->native(), address, kMaxAttributeBytes,
                                                          kSerialPortPattern, sizeof kSerialPortPattern,
                                                          kAllAttributes, sizeof kAllAttributes, nullptr);
    // A refused request brings no search response: without this report the
    // device would stay "connecting". A lost connection has been reported
    // already (state 0).
    if (rc != 0 && isConnected()) {
        log_from(who, "service search request failed: %d", rc);
        reportServiceSearchFailed();
    }
    return true;
}

void DaemonManager::serviceQueryResponse_remote_patten_patten_len_attribute_attribute_len_result(
    int fd, bdaddr remote, const uint8_t* /*patten*/, uint32_t /*patten_len*/, const uint8_t* attribute,
    uint32_t attribute_len, uint32_t result) {
    static const char* const who = kServiceQueryResponseName;
    log_from(who);
    log_from(who, "result %d, service_attributeCnt: %d", static_cast<int>(result), static_cast<int>(attribute_len));

    if (result == kServiceSearchNotPerformed) {
        reportServiceSearchFailed();
        return;
    }

    // The record walk lists the records, logs the address when it finds a
    // channel and "No rfcomm channel found" when it does not.
    const int channel = sdp_choose_rfcomm_channel(attribute, attribute_len, remote);
    if (channel > 0) {
        const int rc = vexod_rfcomm_connect(fd, remote, 1, static_cast<uint8_t>(channel), nullptr);
        // As for the search: a refused connect request brings no
        // notification 30.
        if (rc != 0 && isConnected()) {
            log_from(who, "rfcomm connect request failed: %d", rc);
            reportLinkFailure(kConnectionTitle, kConnectionMessage);
        }
        return;
    }
    reportLinkFailure(kServiceSearchingTitle, "No suitable serial port service found.");
}

void DaemonManager::reportLinkFailure(const char* title, const char* message, bool alert_first) {
    auto alert = [&] {
        const std::string t = localized_string(title, ""), m = localized_string(message, "");
        tell([&](DaemonManagerDelegate* d) { d->daemonManager_showTitle_Message(this, t, m); });
    };
    if (alert_first) alert();
    stateChangedFrom_To(state_, DaemonStateConnected);
    if (!alert_first) alert();
}

void DaemonManager::reportServiceSearchFailed() {
    reportLinkFailure(kServiceSearchingTitle, "Could be perform service searching, make sure the device is on.");
}

void DaemonManager::connectWithSocketPath_status(const char* path, int32_t status) {
    static const char* const who = "-[DaemonManager connectWithSocketPath:status:]";
    if (status != 0) {
        reportLinkFailure(kConnectionTitle, kConnectionMessage);
        return;
    }
    int error = 0;
    switch (link_.open(path, &error)) {
        case GPSDataLink::OpenResult::Linked:
            setState(state_, DaemonStateLinked, true);
            break;
        case GPSDataLink::OpenResult::PathTooLong:
            // Refused like a socket that cannot be made, rather than cut
            // short to another path.
        case GPSDataLink::OpenResult::NotCreated:
            reportLinkFailure(kConnectionTitle, kConnectionMessage, true);
            log_from(who, "failed to create socket: %s", std::strerror(error));
            break;
        case GPSDataLink::OpenResult::NotConnected:
            log_from(who, "failed to connect: %s", std::strerror(error));
            // Told to the user, so that the device does not stay
            // "connecting" for ever.
            reportLinkFailure(kConnectionTitle, kConnectionMessage);
            break;
        case GPSDataLink::OpenResult::Untrusted:
            // Logged by the link, naming the process's user.
            reportLinkFailure(kConnectionTitle, kConnectionMessage);
            break;
    }
}

void DaemonManager::setState(int32_t from, int32_t to, bool as_change) {
    state_ = to;
    if (as_change) {
        tell([&](DaemonManagerDelegate* d) { d->daemonManager_stateChangedFrom_To(this, from, to); });
    } else {
        tell([&](DaemonManagerDelegate* d) { d->daemonManager_initialStateReterived(this, to); });
    }
}

void DaemonManager::stateChangedFrom_To(int32_t from, int32_t to) { setState(from, to, from != to); }

void DaemonManager::foundNewDevice(std::shared_ptr<BTDevice> device) {
    tell([&](DaemonManagerDelegate* d) { d->daemonManager_foundNewDevice(this, device); });
}

void DaemonManager::inquiryCompleted() {
    tell([&](DaemonManagerDelegate* d) { d->daemonManager_inquiryStopped(this, true); });
}

void DaemonManager::getName_length_forDevice(const char* name, uint32_t length, bdaddr address) {
    if (!delegate_) return;
    std::shared_ptr<BTDevice> device = devices_->getBTDevice(&address);
    if (!device) return;
    if (length == 0) {
        tell([&](DaemonManagerDelegate* d) {
            d->daemonManager_getDeviceName_forDevice_withResult(this, std::nullopt, device, false);
        });
        return;
    }
    device->setDeviceName(string_from_utf8(name));
    const std::optional<std::string> stored = device->deviceName();
    tell([&](DaemonManagerDelegate* d) {
        d->daemonManager_getDeviceName_forDevice_withResult(this, stored, device, true);
    });
}

void DaemonManager::getStatus(const std::string& status) {
    if (auto* receiver = dynamic_cast<DaemonManagerMessageReceiver*>(delegate_)) receiver->getStatus(status);
}

void DaemonManager::getMessage_withTitle(const std::string& message, const std::string& title) {
    if (auto* receiver = dynamic_cast<DaemonManagerMessageReceiver*>(delegate_))
        receiver->getMessage_withTitle(message, title);
}

}  // namespace vgps
