// The advertising banner at the bottom of the screens. This build shows a
// house banner for the project itself: its text comes from the file
// "house-banner.txt" of the resource folder, loaded on the run-loop turn
// after each request. Nothing goes over the network and no position leaves
// the program; requests are only kept, for tests and the dump.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/run_loop.h"
#include "uikit/UILabel.h"
#include "uikit/UIView.h"

namespace vgps {

class GADBannerView;
class UIViewController;

constexpr double kGADAdSizeBannerWidth = 320, kGADAdSizeBannerHeight = 50;
constexpr double kGADAdSizeLeaderboardWidth = 728, kGADAdSizeLeaderboardHeight = 90;

class GADRequest {
public:
    static std::shared_ptr<GADRequest> request() { return std::make_shared<GADRequest>(); }

    // Degrees and metres, in single precision as the network takes them.
    void setLocationWithLatitude_longitude_accuracy(float latitude, float longitude, float accuracy) {
        location_ = {latitude, longitude, accuracy};
    }
    // Latitude, longitude, accuracy; absent for a plain request.
    const std::optional<std::array<double, 3>>& location() const { return location_; }

private:
    std::optional<std::array<double, 3>> location_;
};

class GADBannerViewDelegate {
public:
    virtual ~GADBannerViewDelegate() = default;
    virtual void adViewDidReceiveAd(GADBannerView* /*view*/) {}
    virtual void adView_didFailToReceiveAdWithError(GADBannerView* /*view*/, const std::string& /*error*/) {}
};

class GADBannerView : public UIView {
public:
    static constexpr const char* kHouseBannerFile = "house-banner.txt";
    static constexpr size_t kMaxTextBytes = 200;

    // initWithFrame:
    explicit GADBannerView(CGRect frame);
    ~GADBannerView() override;
    const char* className() const override { return "GADBannerView"; }

    const std::optional<std::string>& adUnitID() const { return adUnitID_; }
    void setAdUnitID(std::optional<std::string> id);
    UIViewController* rootViewController() const { return rootViewController_; }
    void setRootViewController(UIViewController* controller) { rootViewController_ = controller; }
    GADBannerViewDelegate* delegate() const { return delegate_; }
    void setDelegate(GADBannerViewDelegate* delegate) { delegate_ = delegate; }

    // Keeps the request; the house banner arrives on the next turn.
    void loadRequest(std::shared_ptr<GADRequest> request);
    const std::vector<std::shared_ptr<GADRequest>>& requests() const { return requests_; }
    // The banner's text once loaded.
    const std::optional<std::string>& text() const { return label_->text(); }

    void layoutSubviews() override;

protected:
    void dumpProperties(JSON& out) const override;

private:
    void deliver();

    std::optional<std::string> adUnitID_;
    UIViewController* rootViewController_ = nullptr;
    GADBannerViewDelegate* delegate_ = nullptr;
    std::vector<std::shared_ptr<GADRequest>> requests_;
    std::shared_ptr<UILabel> label_;
    RunLoop* loop_ = nullptr;
    std::vector<RunLoop::TimerId> pending_;
};

}  // namespace vgps
