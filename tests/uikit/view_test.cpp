#include <gtest/gtest.h>

#include "kit_fixture.h"
#include "uikit/UIView.h"

namespace vgps {
namespace {

using UIViewInWindow = test::KitTest;

TEST(UIView, SubviewsMoveBetweenSuperviewsAndOutliveRemovalWhileKept) {
    auto one = std::make_shared<UIView>(), two = std::make_shared<UIView>();
    std::weak_ptr<UIView> watch;
    {
        auto child = std::make_shared<UIView>();
        watch = child;
        one->addSubview(child);
        two->addSubview(child);  // taken from `one`
        EXPECT_TRUE(one->subviews().empty());
        EXPECT_EQ(child->superview(), two.get());
        two->addSubview(child);  // again: still once
        EXPECT_EQ(two->subviews().size(), 1u);
        one->addSubview(two);
        two->addSubview(one);  // would make a cycle: refused
        EXPECT_EQ(one->superview(), nullptr);
    }
    EXPECT_FALSE(watch.expired());  // the superview owns it
    watch.lock()->removeFromSuperview();
    EXPECT_TRUE(watch.expired());
}

TEST(UIView, CoordinatesFollowFramesAndScrolledBounds) {
    auto root = std::make_shared<UIView>(CGRectMake(0, 0, 320, 480));
    auto scroller = std::make_shared<UIView>(CGRectMake(0, 64, 320, 416));
    auto inner = std::make_shared<UIView>(CGRectMake(10, 100, 300, 44));
    root->addSubview(scroller);
    scroller->addSubview(inner);
    scroller->setBounds(CGRectMake(0, 50, 320, 416));  // scrolled down by 50
    EXPECT_EQ(inner->windowFrame(), CGRectMake(10, 114, 300, 44));
    EXPECT_EQ(inner->convertPoint_fromView({20, 120}, nullptr), CGPointMake(10, 6));
    EXPECT_EQ(inner->convertPoint_toView({0, 0}, scroller.get()), CGPointMake(10, 100));
    EXPECT_EQ(root->hitTest({20, 120}), inner.get());
    inner->setUserInteractionEnabled(false);
    EXPECT_EQ(root->hitTest({20, 120}), scroller.get());
    inner->setUserInteractionEnabled(true);
    // Outside the scroller's bounds nothing inside it is hit; the topmost
    // visible view is.
    EXPECT_EQ(root->hitTest({20, 30}), root.get());
    auto over = std::make_shared<UIView>(CGRectMake(0, 100, 320, 100));
    root->addSubview(over);
    EXPECT_EQ(root->hitTest({20, 120}), over.get());
    over->setHidden(true);
    EXPECT_EQ(root->hitTest({20, 120}), inner.get());
    EXPECT_EQ(root->hitTest({320, 50}), nullptr);  // the far edge is outside
}

// Counts its layouts.
class CountingView : public UIView {
public:
    using UIView::UIView;
    void layoutSubviews() override { ++layouts; }
    int layouts = 0;
};

TEST_F(UIViewInWindow, LayoutRunsOncePerRequestAtTheEndOfTheTurn) {
    auto window = makeWindow();
    auto outer = std::make_shared<CountingView>(CGRectMake(0, 0, 100, 100));
    auto inner = std::make_shared<CountingView>(CGRectMake(0, 0, 10, 10));
    outer->addSubview(inner);
    window->addSubview(outer);
    app.displayIfNeeded();
    EXPECT_EQ(outer->layouts, 1);  // new views are laid out once
    EXPECT_EQ(inner->layouts, 1);
    inner->setNeedsLayout();
    inner->setNeedsLayout();
    EXPECT_EQ(inner->layouts, 1);  // not before the layout pass
    loop.run_once(std::chrono::milliseconds(0));
    EXPECT_EQ(inner->layouts, 2);
    EXPECT_EQ(outer->layouts, 1);
    outer->setFrame(CGRectMake(0, 0, 200, 100));  // a new size asks for a layout
    outer->layoutIfNeeded();
    EXPECT_EQ(outer->layouts, 2);
}

}  // namespace
}  // namespace vgps
