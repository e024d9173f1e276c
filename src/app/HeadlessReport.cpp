#include "app/HeadlessReport.h"

#include <charconv>
#include <cinttypes>
#include <cmath>

#include "link/GPSDataLink.h"
#include "nmea/info.h"

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

HeadlessReport::HeadlessReport(FILE* out, DaemonManager* manager, NotificationCenter* center)
    : out_(out), manager_(manager), center_(center), previousPresenter_(set_alert_presenter(this)) {
    manager_->addObserver(this);
    positionObserver_ = center_->addObserver(kPositionNotificationName, [this](const Notification& n) {
        if (positionLimit_ > 0 && positions_ >= positionLimit_) return;
        ++positions_;
        line(positionLine(n.userInfo));
    });
}

HeadlessReport::~HeadlessReport() {
    center_->removeObserver(positionObserver_);
    manager_->removeObserver(this);
    set_alert_presenter(previousPresenter_);
}

std::string HeadlessReport::positionLine(const UserInfo& userInfo) {
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

void HeadlessReport::line(const std::string& text) {
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void HeadlessReport::printRemembered(const BTDeviceCache& devices) {
    for (uint32_t i = 0; i < devices.deviceCount(); ++i) {
        std::shared_ptr<BTDevice> d = devices.deviceAt(static_cast<int32_t>(i));
        if (!d) continue;
        line("remembered " + d->addressString() + " name=" + text_or_null(d->deviceName()) +
             " class=" + class_text(d->deviceClass()) + " saved=" + (d->isSaved() ? "1" : "0") +
             " bookmarked=" + (d->isBookmarked() ? "1" : "0"));
    }
}

void HeadlessReport::present(const AlertView& alert) {
    line(HeadlessAlertPresenter::format_line(alert));
    if (previousPresenter_ != nullptr) previousPresenter_->present(alert);
}

void HeadlessReport::daemonManager_showTitle_Message(DaemonManager*, const std::string& title,
                                                     const std::string& message) {
    line("message " + quote_text(title) + " " + quote_text(message));
}

void HeadlessReport::daemonManager_getDeviceName_forDevice_withResult(DaemonManager*,
                                                                      const std::optional<std::string>& name,
                                                                      std::shared_ptr<BTDevice> device, bool result) {
    if (result) {
        line("name " + device->addressString() + " " + text_or_null(name));
    } else {
        line("name-failed " + device->addressString());
    }
}

void HeadlessReport::daemonManager_foundNewDevice(DaemonManager*, std::shared_ptr<BTDevice> device) {
    if (!firstFound_) firstFound_ = *device->getDeviceAddress();
    line("found " + device->addressString() + " class=" + class_text(device->deviceClass()));
}

void HeadlessReport::daemonManager_inquiryStopped(DaemonManager*, bool) { line("inquiry-stopped"); }

void HeadlessReport::daemonManager_stateChangedFrom_To(DaemonManager*, int32_t from, int32_t to) {
    line("state " + std::to_string(from) + " -> " + std::to_string(to));
    if (to == DaemonStateDisconnected && wasConnected_) daemonGone_ = true;
    if (to != DaemonStateDisconnected) wasConnected_ = true;
    if (to != DaemonStateLinked) linkPending_ = false;
}

void HeadlessReport::daemonManager_initialStateReterived(DaemonManager*, int32_t state) {
    line("initial-state " + std::to_string(state));
    if (state != DaemonStateDisconnected) wasConnected_ = true;
    // A failed connection reports the state the manager already has.
    linkPending_ = false;
}

}  // namespace vgps
