// A row of segments, one of them selected; a tap selects the segment under
// the finger and sends value-changed.
#pragma once

#include <string>
#include <vector>

#include "uikit/UIControl.h"

namespace vgps {

class UISegmentedControl : public UIControl {
public:
    static constexpr int kNoSegment = -1;

    // initWithItems:
    explicit UISegmentedControl(std::vector<std::string> items = {}) : items_(std::move(items)) {}
    const char* className() const override { return "UISegmentedControl"; }

    int numberOfSegments() const { return static_cast<int>(items_.size()); }
    std::string titleForSegmentAtIndex(int index) const;
    int selectedSegmentIndex() const { return selected_; }
    void setSelectedSegmentIndex(int index);

    void touchUp(CGPoint point) override;

protected:
    void dumpProperties(JSON& out) const override;

private:
    std::vector<std::string> items_;
    int selected_ = kNoSegment;
};

}  // namespace vgps
