#include "uikit/GADBannerView.h"

#include <algorithm>
#include <cstdio>

#include "platform/log.h"
#include "platform/text.h"
#include "uikit/UIApplication.h"
#include "uikit/resources.h"

namespace vgps {
namespace {

// The first line of the house banner file, or absent when it is missing,
// empty or not UTF-8 text.
std::optional<std::string> house_banner_text() {
    const auto path = resource_path(GADBannerView::kHouseBannerFile);
    if (!path) return std::nullopt;
    FILE* f = std::fopen(path->c_str(), "rb");
    if (f == nullptr) return std::nullopt;
    char buf[GADBannerView::kMaxTextBytes + 1];
    const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    std::string line(buf, n);
    line = line.substr(0, line.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    auto text = string_from_utf8(line.data(), line.size());
    if (!text || text->empty()) return std::nullopt;
    return text;
}

}  // namespace

GADBannerView::GADBannerView(CGRect frame) : UIView(frame) {
    setBackgroundColor(UIColor::colorWithRed_green_blue_alpha(0.102, 0.227, 0.373, 1));
    label_ = std::make_shared<UILabel>();
    label_->setFont(UIFont::boldSystemFontOfSize(14));
    label_->setTextColor(UIColor::whiteColor());
    label_->setTextAlignment(UITextAlignmentCenter);
    label_->setAdjustsFontSizeToFitWidth(true);
    addSubview(label_);
}

GADBannerView::~GADBannerView() {
    for (RunLoop::TimerId id : pending_) loop_->cancel_timer(id);
}

void GADBannerView::setAdUnitID(std::optional<std::string> id) {
    adUnitID_ = std::move(id);
    setNeedsDisplay();
}

void GADBannerView::loadRequest(std::shared_ptr<GADRequest> request) {
    if (!request) return;
    requests_.push_back(std::move(request));
    setNeedsDisplay();
    if (loop_ == nullptr) loop_ = UIApplication::sharedApplication()->runLoop();
    auto id = std::make_shared<RunLoop::TimerId>(0);
    *id = loop_->add_timer(std::chrono::milliseconds(0), [this, id] {
        std::erase(pending_, *id);
        deliver();
    });
    pending_.push_back(*id);
}

void GADBannerView::deliver() {
    std::optional<std::string> text = house_banner_text();
    if (!text) {
        log_error("<%s> no house banner in %s", "-[GADBannerView loadRequest:]", resource_directory().c_str());
        if (delegate_ != nullptr) delegate_->adView_didFailToReceiveAdWithError(this, "no house banner");
        return;
    }
    label_->setText(std::move(text));
    if (delegate_ != nullptr) delegate_->adViewDidReceiveAd(this);
}

void GADBannerView::layoutSubviews() { label_->setFrame(CGRectInset(bounds(), 8, 4)); }

void GADBannerView::dumpProperties(JSON& out) const {
    out["adUnitID"] = dump_optional(adUnitID_);
    JSON requests = JSON::array();
    for (const auto& r : requests_) {
        const auto& loc = r->location();
        requests.push_back({{"location", loc ? JSON::array({(*loc)[0], (*loc)[1], (*loc)[2]}) : JSON(nullptr)}});
    }
    out["requests"] = std::move(requests);
    out["text"] = dump_optional(text());
}

}  // namespace vgps
