#include "uikit/UIAlertView.h"

#include <algorithm>
#include <cmath>

#include "uikit/UIApplication.h"
#include "uikit/UIFont.h"

namespace vgps {
namespace {

constexpr double kPadding = 16, kLine = 20, kTitleLine = 24, kButtonHeight = 43, kButtonGap = 8;

// Lines a text takes at `width`, estimated from the font.
int estimated_lines(const std::string& text, const UIFont& font, double width) {
    int lines = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const double w = font.estimatedWidthOfText(text.substr(start, end - start));
        lines += std::max(1, static_cast<int>(std::ceil(w / width)));
        start = end + 1;
    }
    return lines;
}

}  // namespace

UIAlertView::UIAlertView(std::optional<std::string> title, std::optional<std::string> message,
                         UIAlertViewDelegate* delegate, std::optional<std::string> cancelButtonTitle,
                         std::vector<std::string> otherButtonTitles)
    : title_(std::move(title)), message_(std::move(message)), delegate_(delegate), hasCancel_(cancelButtonTitle) {
    if (cancelButtonTitle) buttons_.push_back(std::move(*cancelButtonTitle));
    for (auto& other : otherButtonTitles) buttons_.push_back(std::move(other));
}

std::shared_ptr<UIAlertView> UIAlertView::initWithTitle_message_delegate_cancelButtonTitle_otherButtonTitles(
    std::optional<std::string> title, std::optional<std::string> message, UIAlertViewDelegate* delegate,
    std::optional<std::string> cancelButtonTitle, std::vector<std::string> otherButtonTitles) {
    auto alert = std::make_shared<UIAlertView>(std::move(title), std::move(message), delegate,
                                               std::move(cancelButtonTitle), std::move(otherButtonTitles));
    alert->self_ = alert;
    return alert;
}

std::string UIAlertView::buttonTitleAtIndex(int index) const {
    return index >= 0 && index < numberOfButtons() ? buttons_[static_cast<size_t>(index)] : std::string();
}

void UIAlertView::show() {
    std::shared_ptr<UIAlertView> self = self_.lock();
    if (!self || queued_ || dismissed_) return;
    UIApplication::sharedApplication()->enqueueAlert(std::move(self));
}

bool UIAlertView::isVisible() const {
    UIApplication* app = UIApplication::current();
    return queued_ && app != nullptr && app->visibleAlert() == this;
}

void UIAlertView::dismissWithClickedButtonIndex_animated(int buttonIndex, bool /*animated*/) {
    if (dismissed_) return;
    dismissed_ = true;
    // Alive until the delegate has heard of it, whoever else lets go.
    std::shared_ptr<UIAlertView> keep = self_.lock();
    if (delegate_ != nullptr) delegate_->alertView_clickedButtonAtIndex(this, buttonIndex);
    if (queued_) {
        if (UIApplication* app = UIApplication::current()) app->removeAlert(this);
        queued_ = false;
    }
    if (delegate_ != nullptr) delegate_->alertView_didDismissWithButtonIndex(this, buttonIndex);
}

UIAlertViewLayout UIAlertView::layoutInScreen(CGSize screen) const {
    UIAlertViewLayout out;
    const double inner = kWidth - 2 * kPadding;
    const double x = std::round((screen.width - kWidth) / 2);
    double y = kPadding;
    if (title_) {
        const int lines = estimated_lines(*title_, UIFont::boldSystemFontOfSize(18), inner);
        out.title = CGRectMake(x + kPadding, y, inner, lines * kTitleLine);
        y += lines * kTitleLine + 8;
    }
    if (message_) {
        const int lines = estimated_lines(*message_, UIFont::systemFontOfSize(16), inner);
        out.message = CGRectMake(x + kPadding, y, inner, lines * kLine);
        y += lines * kLine + 8;
    }
    y += 4;
    if (buttons_.size() == 2) {
        const double w = (inner - kButtonGap) / 2;
        // The cancel button on the left, as the toolkit draws a pair.
        out.buttons.push_back(CGRectMake(x + kPadding, y, w, kButtonHeight));
        out.buttons.push_back(CGRectMake(x + kPadding + w + kButtonGap, y, w, kButtonHeight));
        y += kButtonHeight + kPadding;
    } else {
        for (size_t i = 0; i < buttons_.size(); ++i) {
            out.buttons.push_back(CGRectMake(x + kPadding, y, inner, kButtonHeight));
            y += kButtonHeight + kButtonGap;
        }
        y += kPadding - (buttons_.empty() ? 0 : kButtonGap);
    }
    const double top = std::round(std::max(0.0, (screen.height - y) / 2));
    out.box = CGRectMake(x, top, kWidth, y);
    auto shift = [top](CGRect& r) {
        if (!CGRectIsEmpty(r)) r.origin.y += top;
    };
    shift(out.title);
    shift(out.message);
    for (auto& b : out.buttons) shift(b);
    return out;
}

}  // namespace vgps
