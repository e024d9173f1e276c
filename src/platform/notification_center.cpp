#include "platform/notification_center.h"

namespace vgps {

NotificationCenter* NotificationCenter::defaultCenter() {
    static NotificationCenter* center = new NotificationCenter();
    return center;
}

NotificationCenter::ObserverId NotificationCenter::addObserver(const std::string& name, Observer observer) {
    const ObserverId id = next_id_++;
    observers_.emplace(id, Entry{name, std::move(observer)});
    return id;
}

void NotificationCenter::removeObserver(ObserverId id) { observers_.erase(id); }

void NotificationCenter::postNotificationName(const std::string& name, const void* object, UserInfo userInfo) {
    const Notification note{name, object, std::move(userInfo)};
    std::vector<ObserverId> targets;
    for (const auto& [id, entry] : observers_) {
        if (entry.name == name) targets.push_back(id);
    }
    for (ObserverId id : targets) {
        auto it = observers_.find(id);
        if (it == observers_.end()) continue;
        Observer call = it->second.observer;  // survives its own removal
        call(note);
    }
}

size_t NotificationCenter::observerCount(const std::string& name) const {
    size_t n = 0;
    for (const auto& [id, entry] : observers_) n += entry.name == name;
    return n;
}

}  // namespace vgps
