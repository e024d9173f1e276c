// A spinner. Stopped, it hides itself (hidesWhenStopped, on by default).
#pragma once

#include "uikit/UIView.h"

namespace vgps {

enum UIActivityIndicatorViewStyle : int {
    UIActivityIndicatorViewStyleWhiteLarge = 0,
    UIActivityIndicatorViewStyleWhite = 1,
    UIActivityIndicatorViewStyleGray = 2,
};

class UIActivityIndicatorView : public UIView {
public:
    // initWithActivityIndicatorStyle: 37 by 37 for the large style, else 20
    // by 20; stopped, so hidden.
    explicit UIActivityIndicatorView(int style = UIActivityIndicatorViewStyleWhite);
    const char* className() const override { return "UIActivityIndicatorView"; }

    int activityIndicatorViewStyle() const { return style_; }
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return animating_; }
    bool hidesWhenStopped() const { return hidesWhenStopped_; }
    void setHidesWhenStopped(bool hides);

protected:
    void dumpProperties(JSON& out) const override;

private:
    int style_;
    bool animating_ = false;
    bool hidesWhenStopped_ = true;
};

}  // namespace vgps
