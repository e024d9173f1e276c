#include "ui/screen_banner.h"

#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"

namespace vgps {

CGRect screen_banner_frame(UIViewController* screen) {
    const UIDevice* device = UIDevice::currentDevice();
    const bool tablet = device->respondsToUserInterfaceIdiom() && device->userInterfaceIdiom() == UIUserInterfaceIdiomPad;
    return screen_banner_frame(screen, tablet ? CGSize{kGADAdSizeLeaderboardWidth, kGADAdSizeLeaderboardHeight}
                                              : CGSize{kGADAdSizeBannerWidth, kGADAdSizeBannerHeight});
}

CGRect screen_banner_frame(UIViewController* screen, CGSize size) {
    UINavigationController* nav = screen->navigationController();
    const double bar = nav != nullptr ? nav->navigationBar()->frame().size.height : 0;
    return CGRectMake(0, screen->view()->frame().size.height - size.height - bar, size.width, size.height);
}

std::shared_ptr<GADBannerView> place_screen_banner(UIViewController* screen, GADBannerViewDelegate* delegate) {
    auto banner = std::make_shared<GADBannerView>(screen_banner_frame(screen));
    banner->setAdUnitID(kBannerAdUnitID);
    banner->setRootViewController(screen);
    screen->view()->addSubview(banner);
    banner->setDelegate(delegate);
    banner->loadRequest(GADRequest::request());
    return banner;
}

}  // namespace vgps
