// An on/off switch. setOn changes it quietly; a tap toggles it and sends
// value-changed.
#pragma once

#include "uikit/UIControl.h"

namespace vgps {

class UISwitch : public UIControl {
public:
    explicit UISwitch(CGRect frame = {}) : UIControl(frame) {}
    const char* className() const override { return "UISwitch"; }

    bool isOn() const { return on_; }
    // No event is sent.
    void setOn(bool on) { changeProperty(on_, on); }
    void setOn_animated(bool on, bool /*animated*/) { setOn(on); }
    // The switch's alternate (orange) colours when on.
    bool alternateColors() const { return alternate_; }
    void setAlternateColors(bool alternate) { changeProperty(alternate_, alternate); }

    // A finger toggled it: the value changes and value-changed is sent.
    void touchUp(CGPoint point) override;

protected:
    void dumpProperties(JSON& out) const override;

private:
    bool on_ = false;
    bool alternate_ = false;
};

}  // namespace vgps
