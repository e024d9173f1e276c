// A button: an image and a title per control state; the highlighted state
// falls back to the normal one when it has none of its own.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "uikit/UIControl.h"
#include "uikit/UIFont.h"
#include "uikit/UIImage.h"

namespace vgps {

enum UIButtonType : int { UIButtonTypeCustom = 0, UIButtonTypeRoundedRect = 1 };

class UIButton : public UIControl {
public:
    explicit UIButton(int buttonType = UIButtonTypeCustom, CGRect frame = {});
    static std::shared_ptr<UIButton> buttonWithType(int buttonType) { return std::make_shared<UIButton>(buttonType); }
    const char* className() const override { return "UIButton"; }

    int buttonType() const { return type_; }

    void setImage_forState(std::shared_ptr<UIImage> image, uint32_t state);
    // The image set for exactly that state, else the normal state's.
    std::shared_ptr<UIImage> imageForState(uint32_t state) const;
    // What the button shows now.
    std::shared_ptr<UIImage> currentImage() const { return imageForState(state()); }

    void setTitle_forState(std::optional<std::string> title, uint32_t state);
    std::optional<std::string> titleForState(uint32_t state) const;
    std::optional<std::string> currentTitle() const { return titleForState(state()); }
    const UIFont& titleFont() const { return font_; }
    void setTitleFont(UIFont font) { changeProperty(font_, std::move(font)); }

protected:
    void dumpProperties(JSON& out) const override;

private:
    int type_;
    std::map<uint32_t, std::shared_ptr<UIImage>> images_;
    std::map<uint32_t, std::string> titles_;
    UIFont font_ = UIFont::boldSystemFontOfSize(15);
};

}  // namespace vgps
