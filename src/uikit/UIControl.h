// A view that sends actions to targets on control events: a tap ends with
// touch-up-inside (64), a changed value sends value-changed (4096).
// Enabled, highlighted (while a finger is down on it) and selected states.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "uikit/UIView.h"

namespace vgps {

enum UIControlEvents : uint32_t {
    UIControlEventTouchDown = 1 << 0,
    UIControlEventTouchUpInside = 1 << 6,
    UIControlEventTouchUpOutside = 1 << 7,
    UIControlEventValueChanged = 1 << 12,
};

enum UIControlState : uint32_t {
    UIControlStateNormal = 0,
    UIControlStateHighlighted = 1 << 0,
    UIControlStateDisabled = 1 << 1,
    UIControlStateSelected = 1 << 2,
};

class UIControl : public UIView {
public:
    using Action = std::function<void(UIControl* sender)>;

    explicit UIControl(CGRect frame = {}) : UIView(frame) {}
    const char* className() const override { return "UIControl"; }

    // `target` only names the pair for removal; the action is what runs.
    void addTarget_action_forControlEvents(const void* target, Action action, uint32_t events);
    // Drops every action of `target` for any of `events`.
    void removeTarget_forControlEvents(const void* target, uint32_t events);
    // Runs the actions for any of `events`, in the order they were added.
    void sendActionsForControlEvents(uint32_t events);

    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { changeProperty(enabled_, enabled); }
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool highlighted) { changeProperty(highlighted_, highlighted); }
    bool isSelected() const { return selected_; }
    void setSelected(bool selected) { changeProperty(selected_, selected); }
    uint32_t state() const;

    // A finger went down on the control / came up at `point` (the
    // control's coordinates). The default highlights while down and sends
    // touch-up-inside when the finger comes up inside.
    virtual void touchDown(CGPoint point);
    virtual void touchUp(CGPoint point);

protected:
    void dumpProperties(JSON& out) const override;

private:
    struct Target {
        const void* target;
        Action action;
        uint32_t events;
    };
    std::vector<Target> targets_;
    bool enabled_ = true;
    bool highlighted_ = false;
    bool selected_ = false;
};

}  // namespace vgps
