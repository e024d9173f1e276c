#include "uikit/UILabel.h"

namespace vgps {

UILabel::UILabel(CGRect frame) : UIView(frame) {
    setUserInteractionEnabled(false);
}

void UILabel::setText(std::optional<std::string> text) {
    if (text_ == text) return;
    text_ = std::move(text);
    setNeedsDisplay();
}

void UILabel::setFont(UIFont font) {
    if (font_ == font) return;
    font_ = std::move(font);
    setNeedsDisplay();
}

void UILabel::setTextColor(UIColor color) {
    if (textColor_ == color) return;
    textColor_ = color;
    setNeedsDisplay();
}

void UILabel::setTextAlignment(int alignment) {
    if (alignment_ == alignment) return;
    alignment_ = alignment;
    setNeedsDisplay();
}

void UILabel::setAdjustsFontSizeToFitWidth(bool adjusts) {
    if (adjusts_ == adjusts) return;
    adjusts_ = adjusts;
    setNeedsDisplay();
}

void UILabel::dumpProperties(JSON& out) const {
    out["text"] = dump_optional(text_);
    out["font"] = {{"name", font_.name}, {"size", font_.pointSize}, {"bold", font_.bold}};
    out["color"] = dump_color(textColor_);
    out["align"] = alignment_;
    out["fits"] = adjusts_;
}

}  // namespace vgps
