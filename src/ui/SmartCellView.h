// A cell that moves every view of its content view (its text label apart)
// to the right edge, keeping each one's size and height on the row; a
// segmented control instead covers the whole content view.
#pragma once

#include <optional>
#include <string>

#include "uikit/UITableViewCell.h"

namespace vgps {

class SmartCellView : public UITableViewCell {
public:
    // initWithStyle:reuseIdentifier:
    SmartCellView(int style, std::optional<std::string> reuseIdentifier)
        : UITableViewCell(style, std::move(reuseIdentifier)) {}
    const char* className() const override { return "SmartCellView"; }

    void layoutSubviews() override;
};

}  // namespace vgps
