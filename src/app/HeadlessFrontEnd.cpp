#include "app/HeadlessFrontEnd.h"

#include <charconv>
#include <cinttypes>
#include <cmath>

#include "nmea/info.h"
#include "platform/alert.h"
#include "platform/stop_signals.h"

namespace vgps {
namespace {

std::string text_or_null(const std::optional<std::string>& text) { return text ? quote_text(*text) : "null"; }

std::string class_text(uint32_t device_class) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%06x", device_class);
    return buf;
}

// A JSON number: the shortest text that reads back as the same single
// precision value; null for what JSON cannot carry.
std::string float_text(float value) {
    if (!std::isfinite(value)) return "null";
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

std::string degrees_text(float value) {
    if (!std::isfinite(value)) return "null";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%f", static_cast<double>(value));
    return buf;
}

template <typename T>
T value_or(const UserInfo& info, const char* key, T fallback) {
    const auto it = info.find(key);
    if (it == info.end()) return fallback;
    if (const T* v = std::get_if<T>(&it->second)) return *v;
    return fallback;
}

}  // namespace

HeadlessFrontEnd::HeadlessFrontEnd(FILE* out, DaemonManager* manager, BTDeviceCache* cache)
    : out_(out), manager_(manager), cache_(cache) {
    manager_->setDelegate(this);
    positionObserver_ = NotificationCenter::defaultCenter()->addObserver(
        kPositionNotificationName, [this](const Notification& n) {
            if (positionLimit_ > 0 && positions_ >= positionLimit_) return;
            ++positions_;
            line(positionLine(n.userInfo));
        });
}

HeadlessFrontEnd::~HeadlessFrontEnd() {
    NotificationCenter::defaultCenter()->removeObserver(positionObserver_);
    if (manager_->delegate() == this) manager_->setDelegate(nullptr);
}

std::string HeadlessFrontEnd::positionLine(const UserInfo& userInfo) {
    // Missing entries count as the inspector counts them: no text, 0.
    const std::string utc = value_or<std::string>(userInfo, kPositionUTCKey, "");
    const int64_t fix = value_or<int64_t>(userInfo, kPositionFixKey, 0);
    const float lat = static_cast<float>(value_or<double>(userInfo, kPositionLatKey, 0.0));
    const float lon = static_cast<float>(value_or<double>(userInfo, kPositionLonKey, 0.0));
    const float lat_deg = static_cast<float>(nmea_ndeg2degree(lat));
    const float lon_deg = static_cast<float>(nmea_ndeg2degree(lon));
    return "{\"UTC\":" + quote_text(utc) + ",\"FIX\":" + std::to_string(fix) + ",\"LAT\":" + float_text(lat) +
           ",\"LON\":" + float_text(lon) + ",\"LAT_DEG\":" + degrees_text(lat_deg) +
           ",\"LON_DEG\":" + degrees_text(lon_deg) + "}";
}

void HeadlessFrontEnd::line(const std::string& text) {
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void HeadlessFrontEnd::printRemembered() {
    for (uint32_t i = 0; i < cache_->deviceCount(); ++i) {
        std::shared_ptr<BTDevice> d = cache_->deviceAt(static_cast<int32_t>(i));
        if (!d) continue;
        line("remembered " + d->addressString() + " name=" + text_or_null(d->deviceName()) +
             " class=" + class_text(d->deviceClass()) + " saved=" + (d->isSaved() ? "1" : "0") +
             " bookmarked=" + (d->isBookmarked() ? "1" : "0"));
    }
}

bool HeadlessFrontEnd::start() {
    if (!manager_->connectToDaemon()) {
        // A stop signal (or the time-out) that ended the connect is not a
        // daemon that cannot be reached.
        if (stop_signal_received() == 0) line("connect-failed");
        return false;
    }
    // As the search row does: forget the devices of an earlier search.
    cache_->clearUnsaved();
    namesDone_ = false;
    manager_->startInquiry();
    if (manager_->isConnected()) line("inquiry-started");
    return true;
}

void HeadlessFrontEnd::daemonManager_showTitle_Message(DaemonManager*, const std::string& title,
                                                       const std::string& message) {
    line("message " + quote_text(title) + " " + quote_text(message));
}

void HeadlessFrontEnd::daemonManager_getDeviceName_forDevice_withResult(DaemonManager*,
                                                                        const std::optional<std::string>& name,
                                                                        std::shared_ptr<BTDevice> device, bool result) {
    if (result) {
        line("name " + device->addressString() + " " + text_or_null(name));
    } else {
        line("name-failed " + device->addressString());
    }
    ++nameRequestIndex_;
    if (nameRequestIndex_ < cache_->deviceCount()) {
        scanNamesFrom(nameRequestIndex_);
    } else {
        namesFinished();
    }
}

void HeadlessFrontEnd::daemonManager_foundNewDevice(DaemonManager*, std::shared_ptr<BTDevice> device) {
    if (!firstFound_) firstFound_ = *device->getDeviceAddress();
    line("found " + device->addressString() + " class=" + class_text(device->deviceClass()));
}

void HeadlessFrontEnd::daemonManager_inquiryStopped(DaemonManager*, bool) {
    line("inquiry-stopped");
    if (cache_->empty()) {
        namesDone_ = true;
        line("no-devices");
        return;
    }
    scanNamesFrom(0);
}

void HeadlessFrontEnd::scanNamesFrom(uint32_t k) {
    for (uint32_t i = k; i < cache_->deviceCount(); ++i) {
        std::shared_ptr<BTDevice> d = cache_->deviceAt(static_cast<int32_t>(i));
        if (d && !d->isSaved()) {
            nameRequestIndex_ = i;
            manager_->requestNameForDevice(*d);
            return;
        }
    }
    namesFinished();
}

void HeadlessFrontEnd::namesFinished() {
    line("names-done");
    // The tap comes before "done" is seen, so that the connect is waited for.
    connectDevice();
    namesDone_ = true;
}

void HeadlessFrontEnd::connectDevice() {
    if (!manager_->isConnected()) return;
    std::shared_ptr<BTDevice> device;
    if (deviceAddress_) {
        device = cache_->getBTDevice(&*deviceAddress_);
        if (!device) {
            line("device-not-found " + ba2str(*deviceAddress_));
            return;
        }
    } else if (firstFound_) {
        device = cache_->getBTDevice(&*firstFound_);
    }
    if (!device && !deviceAddress_ && !cache_->empty()) device = cache_->deviceAt(0);
    if (!device) return;
    line("connecting " + device->addressString());
    linkDevice_ = device;
    linkPending_ = true;
    device->setState(BTDeviceStateConnecting);
    manager_->connectToDevice(*device);
}

void HeadlessFrontEnd::linkEnded() {
    if (linkDevice_) linkDevice_->setState(BTDeviceStateIdle);
    linkDevice_.reset();
    linkPending_ = false;
}

void HeadlessFrontEnd::daemonManager_stateChangedFrom_To(DaemonManager*, int32_t from, int32_t to) {
    line("state " + std::to_string(from) + " -> " + std::to_string(to));
    if (to == DaemonStateDisconnected && wasConnected_) daemonGone_ = true;
    if (to != DaemonStateDisconnected) wasConnected_ = true;
    if (to == DaemonStateLinked && linkDevice_) {
        linkDevice_->setState(BTDeviceStateConnected);
    } else if (to != DaemonStateLinked && linkPending_) {
        linkEnded();
    }
}

void HeadlessFrontEnd::daemonManager_initialStateReterived(DaemonManager*, int32_t state) {
    line("initial-state " + std::to_string(state));
    if (state != DaemonStateDisconnected) wasConnected_ = true;
    // A failed connect reports the state the manager already has.
    if (linkPending_) linkEnded();
}

}  // namespace vgps
