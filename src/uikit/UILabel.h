// One line of text: font, colour, alignment, and whether the font shrinks
// to fit the width. A label takes no touches.
#pragma once

#include <optional>
#include <string>

#include "uikit/UIColor.h"
#include "uikit/UIFont.h"
#include "uikit/UIView.h"

namespace vgps {

enum UITextAlignment : int { UITextAlignmentLeft = 0, UITextAlignmentCenter = 1, UITextAlignmentRight = 2 };

class UILabel : public UIView {
public:
    explicit UILabel(CGRect frame = {});
    const char* className() const override { return "UILabel"; }

    const std::optional<std::string>& text() const { return text_; }
    void setText(std::optional<std::string> text) { changeProperty(text_, std::move(text)); }
    const UIFont& font() const { return font_; }
    void setFont(UIFont font) { changeProperty(font_, std::move(font)); }
    const UIColor& textColor() const { return textColor_; }
    void setTextColor(UIColor color) { changeProperty(textColor_, color); }
    int textAlignment() const { return alignment_; }
    void setTextAlignment(int alignment) { changeProperty(alignment_, alignment); }
    bool adjustsFontSizeToFitWidth() const { return adjusts_; }
    void setAdjustsFontSizeToFitWidth(bool adjusts) { changeProperty(adjusts_, adjusts); }

protected:
    void dumpProperties(JSON& out) const override;

private:
    std::optional<std::string> text_;
    UIFont font_ = UIFont::systemFontOfSize(17);
    UIColor textColor_ = UIColor::blackColor();
    int alignment_ = UITextAlignmentLeft;
    bool adjusts_ = false;
};

}  // namespace vgps
