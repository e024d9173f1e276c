#include "uikit/UIButton.h"

namespace vgps {

UIButton::UIButton(int buttonType, CGRect frame) : UIControl(frame), type_(buttonType) {}

void UIButton::setImage_forState(std::shared_ptr<UIImage> image, uint32_t state) {
    auto it = images_.find(state);
    if (it != images_.end() && it->second == image) return;
    if (image) {
        images_[state] = std::move(image);
    } else if (it != images_.end()) {
        images_.erase(it);
    } else {
        return;
    }
    setNeedsDisplay();
}

std::shared_ptr<UIImage> UIButton::imageForState(uint32_t state) const {
    if (auto it = images_.find(state); it != images_.end()) return it->second;
    if (auto it = images_.find(UIControlStateNormal); it != images_.end()) return it->second;
    return nullptr;
}

void UIButton::setTitle_forState(std::optional<std::string> title, uint32_t state) {
    auto it = titles_.find(state);
    if (title) {
        if (it != titles_.end() && it->second == *title) return;
        titles_[state] = std::move(*title);
    } else if (it != titles_.end()) {
        titles_.erase(it);
    } else {
        return;
    }
    setNeedsDisplay();
}

std::optional<std::string> UIButton::titleForState(uint32_t state) const {
    if (auto it = titles_.find(state); it != titles_.end()) return it->second;
    if (auto it = titles_.find(UIControlStateNormal); it != titles_.end()) return it->second;
    return std::nullopt;
}

void UIButton::dumpProperties(JSON& out) const {
    UIControl::dumpProperties(out);
    auto name = [this](uint32_t state) -> JSON {
        auto it = images_.find(state);
        return it != images_.end() ? JSON(it->second->name()) : JSON(nullptr);
    };
    out["images"] = {{"normal", name(UIControlStateNormal)}, {"highlighted", name(UIControlStateHighlighted)}};
    out["highlighted"] = isHighlighted();
    out["title"] = dump_optional(titleForState(UIControlStateNormal));
}

}  // namespace vgps
