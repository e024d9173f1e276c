// The base of everything on screen: a rectangle in its superview's
// coordinates (frame), its own coordinate space (bounds, whose origin a
// scroll view moves), a tag, colours and flags, and subviews in order, the
// last one on top.
//
// Views live in std::shared_ptr (make them with std::make_shared): a
// superview owns its subviews, and whoever made a view may keep it too,
// as the screens keep their controls while moving them between cells. The
// superview pointer does not own. Every view has an id that no other view
// of the process ever had, for front-ends that keep something of their own
// per view; the application reports each view's end (UIApplication.h).
//
// Changes never draw: each one marks the view as changed, and the
// application tells the front-end once per run-loop turn.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "uikit/CGGeometry.h"
#include "uikit/UIColor.h"
#include "uikit/json_line.h"

namespace vgps {

class UIView;
class UIViewController;
class UIWindow;

// What a view's layer adds to it: rounded corners, and clipping of the
// subviews to its bounds (the view's clipsToBounds).
class CALayer {
public:
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius);
    bool masksToBounds() const { return masksToBounds_; }
    void setMasksToBounds(bool masks);

private:
    friend class UIView;
    explicit CALayer(UIView* view) : view_(view) {}
    UIView* view_;
    double cornerRadius_ = 0;
    bool masksToBounds_ = false;
};

// Which of a view's margins and sizes follow a change of its superview's
// size (the change is shared among the flexible ones in proportion to
// their sizes).
enum UIViewAutoresizing : uint32_t {
    UIViewAutoresizingNone = 0,
    UIViewAutoresizingFlexibleLeftMargin = 1,
    UIViewAutoresizingFlexibleWidth = 2,
    UIViewAutoresizingFlexibleRightMargin = 4,
    UIViewAutoresizingFlexibleTopMargin = 8,
    UIViewAutoresizingFlexibleHeight = 16,
    UIViewAutoresizingFlexibleBottomMargin = 32,
};

class UIView {
public:
    using Id = uint64_t;

    explicit UIView(CGRect frame = {});
    virtual ~UIView();
    UIView(const UIView&) = delete;
    UIView& operator=(const UIView&) = delete;

    // The class name as the system writes it ("UIView", "BTDeviceView").
    virtual const char* className() const { return "UIView"; }
    Id viewId() const { return id_; }

    CGRect frame() const { return frame_; }
    void setFrame(CGRect frame);
    // Origin: the point of its own coordinates shown at its top left
    // (0, 0 except in scroll views); size: the frame's size.
    CGRect bounds() const { return {boundsOrigin_, frame_.size}; }
    void setBounds(CGRect bounds);
    CGPoint center() const { return {CGRectGetMidX(frame_), CGRectGetMidY(frame_)}; }
    void setCenter(CGPoint center);

    int tag() const { return tag_; }
    void setTag(int tag) { changeProperty(tag_, tag); }
    // None means no background (see-through).
    const std::optional<UIColor>& backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(std::optional<UIColor> color) { changeProperty(backgroundColor_, std::move(color)); }
    bool isHidden() const { return hidden_; }
    void setHidden(bool hidden) { changeProperty(hidden_, hidden); }
    double alpha() const { return alpha_; }
    void setAlpha(double alpha);
    // A view that takes no touches passes them to the view beneath, and so
    // do all its subviews. Labels and image views take none.
    bool isUserInteractionEnabled() const { return userInteraction_; }
    void setUserInteractionEnabled(bool enabled) { userInteraction_ = enabled; }
    // Subviews are cut at the bounds (same as layer()->masksToBounds()).
    bool clipsToBounds() const { return layer_.masksToBounds(); }
    void setClipsToBounds(bool clips) { layer_.setMasksToBounds(clips); }
    uint32_t autoresizingMask() const { return autoresizing_; }
    void setAutoresizingMask(uint32_t mask) { autoresizing_ = mask; }
    CALayer* layer() { return &layer_; }
    const CALayer* layer() const { return &layer_; }

    // --- the view tree
    UIView* superview() const { return superview_; }
    const std::vector<std::shared_ptr<UIView>>& subviews() const { return subviews_; }
    // Puts the view on top of the subviews, taking it from its former
    // superview first (to the top again when it is already here).
    void addSubview(std::shared_ptr<UIView> view);
    void insertSubview_atIndex(std::shared_ptr<UIView> view, size_t index);
    // The view stays alive while someone else keeps it.
    void removeFromSuperview();
    bool isDescendantOfView(const UIView* view) const;
    // The window the view is in, or null.
    UIWindow* window() const;
    // The view itself when it has the tag, else the first match among the
    // subviews, depth first in subview order; null when none has it.
    UIView* viewWithTag(int tag);
    // The controller whose view this is, or null.
    UIViewController* viewController() const { return controller_; }

    // --- layout: setNeedsLayout asks for layoutSubviews at the next layout
    // pass (the end of the run-loop turn, or layoutIfNeeded).
    void setNeedsLayout();
    bool needsLayout() const { return needsLayout_; }
    // Lays out this view if it asked for it, then every subview that did.
    void layoutIfNeeded();
    virtual void layoutSubviews() {}
    // Marks the view as changed for the front-end.
    void setNeedsDisplay();

    // --- coordinates; a null view means the window (or the top of the tree
    // when the view is in no window).
    CGPoint convertPoint_toView(CGPoint point, const UIView* view) const;
    CGPoint convertPoint_fromView(CGPoint point, const UIView* view) const;
    CGRect convertRect_toView(CGRect rect, const UIView* view) const;
    CGRect convertRect_fromView(CGRect rect, const UIView* view) const;
    // The frame in window coordinates.
    CGRect windowFrame() const { return convertRect_toView(bounds(), nullptr); }
    bool pointInside(CGPoint point) const { return CGRectContainsPoint(bounds(), point); }
    // The deepest visible view that takes touches at `point` (own
    // coordinates), topmost subviews first; null when the point is outside
    // or the view takes no touches.
    virtual UIView* hitTest(CGPoint point);

    // --- animation blocks: the changes between begin and commit apply at
    // once; the application records each committed block.
    static void beginAnimations_context(const std::optional<std::string>& animationID, void* context);
    static void setAnimationDuration(double seconds);
    static void commitAnimations();

    // --- the dump: {"class","frame","tag","hidden", class keys, "subviews"}
    JSON dump() const;

protected:
    // Stores `value` in `field` and marks the view as changed, when the two
    // differ. True when it changed.
    template <class T, class V>
    bool changeProperty(T& field, V&& value) {
        if (field == value) return false;
        field = std::forward<V>(value);
        setNeedsDisplay();
        return true;
    }
    // Adds the keys of the class to its dump (subclasses call their base).
    virtual void dumpProperties(JSON& /*out*/) const {}
    // Called after the frame's size changed (subviews already resized).
    virtual void sizeChanged(CGSize /*old*/) {}
    // Called after the bounds origin moved.
    virtual void boundsOriginChanged() {}
    // Called after the view joined or left a superview.
    virtual void didMoveToSuperview() {}

private:
    friend class UIViewController;
    void resizeSubviews(CGSize old);
    void markSubtreeNeedsLayout();
    CGPoint toRoot(CGPoint point, const UIView** root) const;

    Id id_;
    CGRect frame_;
    CGPoint boundsOrigin_;
    int tag_ = 0;
    std::optional<UIColor> backgroundColor_;
    bool hidden_ = false;
    double alpha_ = 1;
    bool userInteraction_ = true;
    uint32_t autoresizing_ = UIViewAutoresizingNone;
    CALayer layer_{this};
    UIView* superview_ = nullptr;
    std::vector<std::shared_ptr<UIView>> subviews_;
    UIViewController* controller_ = nullptr;
    bool needsLayout_ = true;
    bool subtreeNeedsLayout_ = false;
};

// A rectangle as the dump writes it: [x, y, width, height].
JSON dump_rect(const CGRect& rect);
JSON dump_color(const UIColor& color);
JSON dump_optional(const std::optional<std::string>& text);

}  // namespace vgps
