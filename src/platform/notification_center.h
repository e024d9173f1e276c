// In-process notifications: observers register by name and are called
// synchronously, in the order they registered, before post() returns.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace vgps {

// A user-info value: a string or a number (integer or floating point).
using NotificationValue = std::variant<std::string, int64_t, double>;
using UserInfo = std::map<std::string, NotificationValue>;

struct Notification {
    std::string name;
    const void* object = nullptr;  // the sender, may be null
    UserInfo userInfo;
};

class NotificationCenter {
public:
    using ObserverId = uint64_t;
    using Observer = std::function<void(const Notification&)>;

    // The process-wide centre, made on first use, never destroyed.
    static NotificationCenter* defaultCenter();

    // Registers `observer` for notifications called `name`.
    ObserverId addObserver(const std::string& name, Observer observer);
    void removeObserver(ObserverId id);

    // Delivers to every observer of `name` registered when the post began
    // and still registered when its turn comes (an observer may remove
    // others, or itself).
    void postNotificationName(const std::string& name, const void* object, UserInfo userInfo);

    size_t observerCount(const std::string& name) const;

private:
    struct Entry {
        std::string name;
        Observer observer;
    };
    std::map<ObserverId, Entry> observers_;
    ObserverId next_id_ = 1;
};

}  // namespace vgps
