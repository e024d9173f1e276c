// The bar at the top of a navigation stack, 44 points high: the top
// screen's title in the middle and, when a screen lies beneath it, a back
// button titled by that screen's back bar button item.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "uikit/UIButton.h"
#include "uikit/UILabel.h"
#include "uikit/UIView.h"

namespace vgps {

class UINavigationBar : public UIView {
public:
    static constexpr double kHeight = 44;

    explicit UINavigationBar(CGRect frame);
    const char* className() const override { return "UINavigationBar"; }

    std::optional<std::string> title() const { return titleLabel_->text(); }
    // Absent: no back button.
    std::optional<std::string> backTitle() const;
    UIButton* backButton() const { return backButton_.get(); }
    UILabel* titleLabel() const { return titleLabel_.get(); }

    void setTitle_backTitle(std::optional<std::string> title, std::optional<std::string> backTitle);
    // What a tap on the back button does.
    void setBackAction(std::function<void()> action) { backAction_ = std::move(action); }

    void layoutSubviews() override;

protected:
    void dumpProperties(JSON& out) const override;

private:
    std::shared_ptr<UIButton> backButton_;
    std::shared_ptr<UILabel> titleLabel_;
    std::function<void()> backAction_;
};

}  // namespace vgps
