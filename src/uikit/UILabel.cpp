#include "uikit/UILabel.h"

namespace vgps {

UILabel::UILabel(CGRect frame) : UIView(frame) {
    setUserInteractionEnabled(false);
}

void UILabel::dumpProperties(JSON& out) const {
    out["text"] = dump_optional(text_);
    out["font"] = {{"name", font_.name}, {"size", font_.pointSize}, {"bold", font_.bold}};
    out["color"] = dump_color(textColor_);
    out["align"] = alignment_;
    out["fits"] = adjusts_;
}

}  // namespace vgps
