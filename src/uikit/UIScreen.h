// The screen: its bounds in points (320 by 480 until a front-end sets its
// own size) and the application's frame below the 20-point status bar.
#pragma once

#include <string>

#include "uikit/CGGeometry.h"

namespace vgps {

class UIScreen {
public:
    static constexpr double kStatusBarHeight = 20;

    // The screen of the current application.
    static UIScreen* mainScreen();

    CGRect bounds() const { return {{0, 0}, size_}; }
    // The part of the screen below the status bar.
    CGRect applicationFrame() const {
        return CGRectMake(0, kStatusBarHeight, size_.width, size_.height - kStatusBarHeight);
    }
    double scale() const { return 1; }

private:
    friend class UIApplication;
    CGSize size_{320, 480};
};

// The device: its model name (the platform's) and its user-interface idiom,
// 0 for a phone (the default) and 1 for a tablet.
class UIDevice {
public:
    static UIDevice* currentDevice();

    int userInterfaceIdiom() const { return idiom_; }
    void setUserInterfaceIdiom(int idiom) { idiom_ = idiom; }
    // Whether the device reports an idiom at all (it does).
    bool respondsToUserInterfaceIdiom() const { return true; }
    // The platform's model name (platform/device_info.h).
    std::string model() const;

private:
    int idiom_ = 0;
};

enum UIUserInterfaceIdiom : int { UIUserInterfaceIdiomPhone = 0, UIUserInterfaceIdiomPad = 1 };

}  // namespace vgps
