// The banner along the bottom of a screen: 320 by 50 (728 by 90 on a
// tablet), its top at the height of the screen's view less its own height
// and the navigation bar's.
#pragma once

#include <memory>

#include "uikit/GADBannerView.h"
#include "uikit/UIViewController.h"

namespace vgps {

// The ad unit of this application's banners.
inline constexpr const char* kBannerAdUnitID = "a14f1c9e2b7d063";

// Where the banner of `screen` stands, for a banner of `size` (the idiom's
// size when absent).
CGRect screen_banner_frame(UIViewController* screen);
CGRect screen_banner_frame(UIViewController* screen, CGSize size);

// Makes the banner of `screen` and places it: ad unit, the screen as its
// root view controller, added to the screen's view, `delegate` as its
// delegate, then one plain request.
std::shared_ptr<GADBannerView> place_screen_banner(UIViewController* screen, GADBannerViewDelegate* delegate);

}  // namespace vgps
