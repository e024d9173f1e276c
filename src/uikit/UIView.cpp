#include "uikit/UIView.h"

#include <algorithm>

#include "uikit/UIApplication.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWindow.h"

namespace vgps {
namespace {

UIView::Id g_next_view_id = 1;

// Shares `delta` among the flexible parts of one axis (leading margin,
// length, trailing margin) in proportion to their sizes, equally when they
// are all zero.
void resize_axis(double& pos, double& len, double old_parent, double delta, bool flex_lead, bool flex_len,
                 bool flex_trail) {
    const int count = int(flex_lead) + int(flex_len) + int(flex_trail);
    if (count == 0 || delta == 0) return;
    const double lead = pos, trail = old_parent - pos - len;
    const double total = (flex_lead ? lead : 0) + (flex_len ? len : 0) + (flex_trail ? trail : 0);
    auto share = [&](double part) { return total > 0 ? delta * part / total : delta / count; };
    const double d_lead = flex_lead ? share(lead) : 0;
    const double d_len = flex_len ? share(len) : 0;
    pos += d_lead;
    len += d_len;
}

}  // namespace

void CALayer::setCornerRadius(double radius) {
    if (cornerRadius_ == radius) return;
    cornerRadius_ = radius;
    view_->setNeedsDisplay();
}

void CALayer::setMasksToBounds(bool masks) {
    if (masksToBounds_ == masks) return;
    masksToBounds_ = masks;
    view_->setNeedsDisplay();
}

UIView::UIView(CGRect frame) : id_(g_next_view_id++), frame_(frame) {}

UIView::~UIView() {
    for (auto& child : subviews_) child->superview_ = nullptr;
    if (UIApplication* app = UIApplication::current()) app->viewDestroyed(id_);
}

void UIView::setFrame(CGRect frame) {
    if (frame == frame_) return;
    const CGSize old = frame_.size;
    frame_ = frame;
    if (superview_ != nullptr) superview_->setNeedsDisplay();
    setNeedsDisplay();
    if (!(old == frame.size)) {
        resizeSubviews(old);
        setNeedsLayout();
        sizeChanged(old);
    }
}

void UIView::setBounds(CGRect bounds) {
    const bool moved = !(bounds.origin == boundsOrigin_);
    if (moved) {
        boundsOrigin_ = bounds.origin;
        setNeedsDisplay();
    }
    setFrame({frame_.origin, bounds.size});
    if (moved) boundsOriginChanged();
}

void UIView::setCenter(CGPoint center) {
    setFrame({{center.x - frame_.size.width / 2, center.y - frame_.size.height / 2}, frame_.size});
}

void UIView::setAlpha(double alpha) { changeProperty(alpha_, std::clamp(alpha, 0.0, 1.0)); }

void UIView::resizeSubviews(CGSize old) {
    const double dw = frame_.size.width - old.width, dh = frame_.size.height - old.height;
    for (const auto& child : subviews_) {
        const uint32_t m = child->autoresizing_;
        if (m == UIViewAutoresizingNone) continue;
        CGRect f = child->frame_;
        resize_axis(f.origin.x, f.size.width, old.width, dw, m & UIViewAutoresizingFlexibleLeftMargin,
                    m & UIViewAutoresizingFlexibleWidth, m & UIViewAutoresizingFlexibleRightMargin);
        resize_axis(f.origin.y, f.size.height, old.height, dh, m & UIViewAutoresizingFlexibleTopMargin,
                    m & UIViewAutoresizingFlexibleHeight, m & UIViewAutoresizingFlexibleBottomMargin);
        child->setFrame(f);
    }
}

void UIView::addSubview(std::shared_ptr<UIView> view) { insertSubview_atIndex(std::move(view), subviews_.size()); }

void UIView::insertSubview_atIndex(std::shared_ptr<UIView> view, size_t index) {
    if (!view || view.get() == this || isDescendantOfView(view.get())) return;  // no cycles
    if (view->superview_ != nullptr) {
        std::shared_ptr<UIView> keep = view;
        view->removeFromSuperview();
    }
    index = std::min(index, subviews_.size());
    view->superview_ = this;
    UIView* added = view.get();
    subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(index), std::move(view));
    if (added->needsLayout_ || added->subtreeNeedsLayout_) markSubtreeNeedsLayout();
    setNeedsDisplay();
    added->didMoveToSuperview();
    if (added->controller_ != nullptr) added->controller_->viewMovedInTree();
}

void UIView::removeFromSuperview() {
    UIView* parent = superview_;
    if (parent == nullptr) return;
    auto it = std::find_if(parent->subviews_.begin(), parent->subviews_.end(),
                           [this](const std::shared_ptr<UIView>& v) { return v.get() == this; });
    // Kept alive until the end of this call, even when nobody else owns it.
    std::shared_ptr<UIView> keep = std::move(*it);
    parent->subviews_.erase(it);
    superview_ = nullptr;
    parent->setNeedsDisplay();
    didMoveToSuperview();
    if (controller_ != nullptr) controller_->viewMovedInTree();
}

bool UIView::isDescendantOfView(const UIView* view) const {
    for (const UIView* v = this; v != nullptr; v = v->superview_) {
        if (v == view) return true;
    }
    return false;
}

UIWindow* UIView::window() const {
    const UIView* v = this;
    while (v->superview_ != nullptr) v = v->superview_;
    return dynamic_cast<UIWindow*>(const_cast<UIView*>(v));
}

UIView* UIView::viewWithTag(int tag) {
    if (tag_ == tag) return this;
    for (const auto& child : subviews_) {
        if (UIView* found = child->viewWithTag(tag)) return found;
    }
    return nullptr;
}

void UIView::markSubtreeNeedsLayout() {
    for (UIView* v = this; v != nullptr && !v->subtreeNeedsLayout_; v = v->superview_) v->subtreeNeedsLayout_ = true;
}

void UIView::setNeedsLayout() {
    needsLayout_ = true;
    if (superview_ != nullptr) superview_->markSubtreeNeedsLayout();
    // The layout pass runs before the front-end is told, so a view waiting
    // for layout counts as a change.
    setNeedsDisplay();
}

void UIView::layoutIfNeeded() {
    if (needsLayout_) {
        needsLayout_ = false;
        layoutSubviews();
    }
    if (subtreeNeedsLayout_) {
        subtreeNeedsLayout_ = false;
        const auto children = subviews_;  // layouts may move views about
        for (const auto& child : children) child->layoutIfNeeded();
    }
}

void UIView::setNeedsDisplay() {
    UIApplication* app = UIApplication::current();
    if (app != nullptr && window() != nullptr) app->viewChanged(this);
}

CGPoint UIView::toRoot(CGPoint p, const UIView** root) const {
    const UIView* v = this;
    while (v->superview_ != nullptr) {
        p.x += v->frame_.origin.x - v->boundsOrigin_.x;
        p.y += v->frame_.origin.y - v->boundsOrigin_.y;
        v = v->superview_;
    }
    *root = v;
    return p;
}

CGPoint UIView::convertPoint_toView(CGPoint point, const UIView* view) const {
    const UIView* root = nullptr;
    const CGPoint r = toRoot(point, &root);
    if (view == nullptr) return r;
    const UIView* other_root = nullptr;
    const CGPoint origin = view->toRoot({0, 0}, &other_root);
    return {r.x - origin.x, r.y - origin.y};
}

CGPoint UIView::convertPoint_fromView(CGPoint point, const UIView* view) const {
    const CGPoint in_root = view != nullptr ? view->convertPoint_toView(point, nullptr) : point;
    const UIView* root = nullptr;
    const CGPoint origin = toRoot({0, 0}, &root);
    return {in_root.x - origin.x, in_root.y - origin.y};
}

CGRect UIView::convertRect_toView(CGRect rect, const UIView* view) const {
    return {convertPoint_toView(rect.origin, view), rect.size};
}

CGRect UIView::convertRect_fromView(CGRect rect, const UIView* view) const {
    return {convertPoint_fromView(rect.origin, view), rect.size};
}

UIView* UIView::hitTest(CGPoint point) {
    if (hidden_ || !userInteraction_ || alpha_ <= 0.01 || !pointInside(point)) return nullptr;
    for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
        const UIView& child = **it;
        const CGPoint p{point.x - child.frame_.origin.x + child.boundsOrigin_.x,
                        point.y - child.frame_.origin.y + child.boundsOrigin_.y};
        if (UIView* hit = (*it)->hitTest(p)) return hit;
    }
    return this;
}

void UIView::beginAnimations_context(const std::optional<std::string>& animationID, void* context) {
    UIApplication::sharedApplication()->beginAnimationBlock(animationID, context);
}

void UIView::setAnimationDuration(double seconds) { UIApplication::sharedApplication()->setAnimationBlockDuration(seconds); }

void UIView::commitAnimations() { UIApplication::sharedApplication()->commitAnimationBlock(); }

JSON UIView::dump() const {
    JSON out = JSON::object();
    out["class"] = className();
    out["frame"] = dump_rect(frame_);
    out["tag"] = tag_;
    out["hidden"] = hidden_;
    dumpProperties(out);
    JSON children = JSON::array();
    for (const auto& child : subviews_) children.push_back(child->dump());
    out["subviews"] = std::move(children);
    return out;
}

JSON dump_rect(const CGRect& r) {
    return JSON::array({r.origin.x, r.origin.y, r.size.width, r.size.height});
}

JSON dump_color(const UIColor& c) { return JSON::array({c.red, c.green, c.blue, c.alpha}); }

JSON dump_optional(const std::optional<std::string>& text) { return text ? JSON(*text) : JSON(nullptr); }

}  // namespace vgps
