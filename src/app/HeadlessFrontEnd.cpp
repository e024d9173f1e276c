#include "app/HeadlessFrontEnd.h"

#include <cinttypes>

#include "platform/alert.h"

namespace vgps {
namespace {

std::string text_or_null(const std::optional<std::string>& text) { return text ? quote_text(*text) : "null"; }

std::string class_text(uint32_t device_class) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%06x", device_class);
    return buf;
}

}  // namespace

HeadlessFrontEnd::HeadlessFrontEnd(FILE* out, DaemonManager* manager, BTDeviceCache* cache)
    : out_(out), manager_(manager), cache_(cache) {
    manager_->setDelegate(this);
}

HeadlessFrontEnd::~HeadlessFrontEnd() {
    if (manager_->delegate() == this) manager_->setDelegate(nullptr);
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
        line("connect-failed");
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
        namesDone_ = true;
        line("names-done");
    }
}

void HeadlessFrontEnd::daemonManager_foundNewDevice(DaemonManager*, std::shared_ptr<BTDevice> device) {
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
    namesDone_ = true;
    line("names-done");
}

void HeadlessFrontEnd::daemonManager_stateChangedFrom_To(DaemonManager*, int32_t from, int32_t to) {
    line("state " + std::to_string(from) + " -> " + std::to_string(to));
    if (to == DaemonStateDisconnected && wasConnected_) daemonGone_ = true;
    if (to != DaemonStateDisconnected) wasConnected_ = true;
}

void HeadlessFrontEnd::daemonManager_initialStateReterived(DaemonManager*, int32_t state) {
    line("initial-state " + std::to_string(state));
    if (state != DaemonStateDisconnected) wasConnected_ = true;
}

}  // namespace vgps
