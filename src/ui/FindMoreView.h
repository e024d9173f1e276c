// The search row at the end of the device list: "Discover more ...", or
// "Searching ..." with a spinner at the right edge while a search runs.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "uikit/UIActivityIndicatorView.h"
#include "uikit/UITableViewCell.h"

namespace vgps {

class FindMoreView : public UITableViewCell {
public:
    static constexpr int kAccessoryTag = 2;

    // initWithStyle:reuseIdentifier:
    FindMoreView(int style, std::optional<std::string> reuseIdentifier);
    const char* className() const override { return "FindMoreView"; }

    // Starts or stops the spinner, then asks for a new layout.
    void setSearching(bool searching);
    // Made on first use.
    UIActivityIndicatorView* activityView();
    void setActivityView(std::shared_ptr<UIActivityIndicatorView> view) { activityView_ = std::move(view); }

    void layoutSubviews() override;

private:
    std::shared_ptr<UIActivityIndicatorView> activityView_;
};

}  // namespace vgps
