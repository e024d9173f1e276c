// The device cell, laid out alone and in a real table.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/run_loop.h"
#include "ui/BTDeviceView.h"
#include "uikit/UIApplication.h"
#include "uikit/UITableView.h"
#include "uikit/UIWindow.h"

namespace vgps {
namespace {

int count_tagged(UIView* content, int tag) {
    int n = 0;
    for (const auto& v : content->subviews()) n += v->tag() == tag ? 1 : 0;
    return n;
}

std::string image_name(const std::shared_ptr<UIImage>& image) { return image ? image->name() : "(none)"; }

class CellsTest : public ::testing::Test {
protected:
    // A device cell the size a grouped table gives it.
    std::shared_ptr<BTDeviceView> deviceCell() {
        auto cell = std::make_shared<BTDeviceView>(UITableViewCellStyleDefault, "Cell_Section_1");
        cell->setFrame(CGRectMake(10, 0, 300, 54));
        cell->layoutIfNeeded();
        return cell;
    }

    RunLoop loop;
    UIApplication app{&loop};
};

TEST_F(CellsTest, BookmarkFlagsShowAtTheNextLayoutWithTheirRibbons) {
    auto cell = deviceCell();
    UIView* content = cell->contentView();
    cell->setIsBookmarked(true);
    cell->setState(0);
    EXPECT_EQ(content->viewWithTag(BTDeviceView::kAccessoryTag), nullptr);  // not saved: no button

    cell->setIsSaved(true);
    EXPECT_EQ(content->viewWithTag(BTDeviceView::kAccessoryTag), nullptr);  // not until the next layout
    cell->setState(0);
    UIButton* button = cell->bookmarkButton();
    ASSERT_EQ(content->viewWithTag(BTDeviceView::kAccessoryTag), button);
    EXPECT_EQ(button->frame(), CGRectMake(260, -8, 26, 34));
    EXPECT_EQ(image_name(button->imageForState(UIControlStateNormal)), "bookmark-ribbon-small.png");
    EXPECT_EQ(image_name(button->imageForState(UIControlStateHighlighted)), "bookmark-PDF.png");

    cell->setIsBookmarked(false);
    EXPECT_EQ(image_name(button->currentImage()), "bookmark-ribbon-small.png");
    cell->setNeedsLayout();
    cell->layoutIfNeeded();
    EXPECT_EQ(image_name(button->currentImage()), "bookmark-PDF.png");
    EXPECT_EQ(image_name(button->imageForState(UIControlStateHighlighted)), "bookmark-ribbon-small.png");
    EXPECT_EQ(count_tagged(content, BTDeviceView::kAccessoryTag), 1);

    cell->setIsSaved(false);
    cell->setState(1);
    EXPECT_EQ(content->viewWithTag(BTDeviceView::kAccessoryTag), cell->activityView());
    EXPECT_EQ(count_tagged(content, BTDeviceView::kAccessoryTag), 1);
}

// A device row in a grouped table, pressed by a finger.
class OneDevice : public UITableViewDataSource, public BTDeviceViewDelegate {
public:
    int tableView_numberOfRowsInSection(UITableView*, int) override { return 1; }
    std::shared_ptr<UITableViewCell> tableView_cellForRowAtIndexPath(UITableView*, NSIndexPath) override {
        cell->setAccessoryType(UITableViewCellAccessoryDetailDisclosureButton);
        cell->setTitle("GPS receiver");
        cell->setIsSaved(true);
        cell->setIsBookmarked(true);
        cell->setState(2);
        cell->setDelegate(withDelegate ? this : nullptr);
        return cell;
    }
    void bookmarkButtonPressedInBTDeviceView(BTDeviceView* view) override { pressed.push_back(view); }
    std::shared_ptr<BTDeviceView> cell = std::make_shared<BTDeviceView>(0, "Cell_Section_1");
    std::vector<BTDeviceView*> pressed;
    bool withDelegate = true;
};

TEST_F(CellsTest, ThePressedRibbonSwapsItsImageAndTellsTheDelegate) {
    auto window = std::make_shared<UIWindow>(app.mainScreen()->bounds());
    window->makeKeyAndVisible();
    auto table = std::make_shared<UITableView>(CGRectMake(0, 0, 320, 416), UITableViewStyleGrouped);
    table->setRowHeight(54);
    OneDevice source;
    table->setDataSource(&source);
    window->addSubview(table);
    table->reloadData();
    UIButton* button = source.cell->bookmarkButton();
    // The detail button narrows the content view: 300 - 33.
    EXPECT_EQ(source.cell->contentView()->frame().size.width, 267);
    EXPECT_EQ(button->frame(), CGRectMake(227, -8, 26, 34));
    const CGRect shown = button->windowFrame();
    const CGPoint finger{CGRectGetMidX(shown), CGRectGetMidY(shown)};
    ASSERT_TRUE(app.touchDownAtPoint(finger));
    EXPECT_EQ(image_name(button->currentImage()), "bookmark-PDF.png");
    app.touchUpAtPoint(finger);
    EXPECT_EQ(image_name(button->currentImage()), "bookmark-ribbon-small.png");
    EXPECT_EQ(source.pressed, (std::vector<BTDeviceView*>{source.cell.get()}));
    EXPECT_FALSE(table->indexPathForSelectedRow().has_value());  // the row itself was not selected

    source.withDelegate = false;
    table->reloadData();
    app.tapAtPoint(finger);
    EXPECT_EQ(source.pressed.size(), 1u);
    const JSON dump = source.cell->dump();
    EXPECT_EQ(dump["class"], "BTDeviceView");
    EXPECT_EQ(dump["indexPath"], JSON::array({0, 0}));
    EXPECT_EQ(dump["accessory"], 2);
}

}  // namespace
}  // namespace vgps
