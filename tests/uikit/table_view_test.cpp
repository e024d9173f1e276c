#include "uikit/UITableView.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kit_fixture.h"
#include "platform/log.h"

namespace vgps {
namespace {

// A data source and delegate over plain vectors of row texts; it counts the
// cells it made and records the delegate calls.
class Rows : public UITableViewDataSource, public UITableViewDelegate {
public:
    std::vector<std::vector<std::string>> sections;
    double height = 44;
    int made = 0;
    std::vector<std::string> calls;
    std::optional<NSIndexPath> refuse;

    int numberOfSectionsInTableView(UITableView*) override { return static_cast<int>(sections.size()); }
    int tableView_numberOfRowsInSection(UITableView*, int s) override {
        return static_cast<int>(sections[static_cast<size_t>(s)].size());
    }
    std::shared_ptr<UITableViewCell> tableView_cellForRowAtIndexPath(UITableView* table, NSIndexPath p) override {
        calls.push_back("cell " + std::to_string(p.section) + "." + std::to_string(p.row));
        auto cell = table->dequeueReusableCellWithIdentifier("Row");
        if (!cell) {
            cell = std::make_shared<UITableViewCell>(UITableViewCellStyleDefault, "Row");
            ++made;
        }
        cell->textLabel()->setText(sections[static_cast<size_t>(p.section)][static_cast<size_t>(p.row)]);
        return cell;
    }
    double tableView_heightForRowAtIndexPath(UITableView*, NSIndexPath) override { return height; }
    std::optional<NSIndexPath> tableView_willSelectRowAtIndexPath(UITableView*, NSIndexPath p) override {
        calls.push_back("will " + std::to_string(p.row));
        if (refuse == p) return std::nullopt;
        return p;
    }
    void tableView_didSelectRowAtIndexPath(UITableView*, NSIndexPath p) override {
        calls.push_back("did " + std::to_string(p.row));
    }
    void tableView_accessoryButtonTappedForRowWithIndexPath(UITableView*, NSIndexPath p) override {
        calls.push_back("accessory " + std::to_string(p.row));
    }
};

std::vector<std::string> numbered(int n) {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) out.push_back("row " + std::to_string(i));
    return out;
}

std::string text_at(const UITableView& table, int section, int row) {
    UITableViewCell* cell = table.cellForRowAtIndexPath({section, row});
    return cell != nullptr ? cell->textLabel()->text().value_or("") : "(none)";
}

class UITableViewTest : public test::KitTest {
protected:
    UITableViewTest() {
        table->setDataSource(&rows);
        table->setDelegate(&rows);
    }
    Rows rows;
    // A plain table showing five 44-point rows and part of a sixth.
    std::shared_ptr<UITableView> table = std::make_shared<UITableView>(CGRectMake(0, 0, 320, 240), UITableViewStylePlain);
};

TEST_F(UITableViewTest, OnlyRowsOnScreenHaveCellsAndScrolledOffCellsAreReused) {
    rows.sections = {numbered(20)};
    table->reloadData();
    EXPECT_EQ(rows.made, 6);  // rows 0-5 (row 5 only partly on screen)
    EXPECT_EQ(text_at(*table, 0, 5), "row 5");
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 6}), nullptr);
    EXPECT_EQ(table->contentSize().height, 20 * 44);

    table->setContentOffset({0, 44 * 10});
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 0}), nullptr);
    EXPECT_EQ(text_at(*table, 0, 10), "row 10");
    EXPECT_EQ(rows.made, 6);  // every new row took a cell from the queue
    EXPECT_EQ(table->visibleCells().size(), 6u);
    // The cells are the table's first subviews, in row order, at their rows.
    UITableViewCell* shown = table->cellForRowAtIndexPath({0, 10});
    EXPECT_EQ(table->subviews()[0].get(), shown);
    EXPECT_EQ(shown->frame(), CGRectMake(0, 440, 320, 44));
    EXPECT_EQ(shown->indexPath(), (NSIndexPath{0, 10}));

    // Scrolling by a finger stops at the end of the content.
    table->scrollBy({0, 10000});
    EXPECT_EQ(table->contentOffset().y, 20 * 44 - 240);
    EXPECT_EQ(text_at(*table, 0, 19), "row 19");

    // Off the table, the cells go back to the queue of their identifier.
    rows.sections = {};
    table->reloadData();
    EXPECT_EQ(table->dequeueReusableCellWithIdentifier("Other"), nullptr);
    auto back = table->dequeueReusableCellWithIdentifier("Row");
    ASSERT_NE(back, nullptr);
    EXPECT_FALSE(back->indexPath().has_value());
    EXPECT_EQ(back->superview(), nullptr);
}

TEST_F(UITableViewTest, InsertsAndDeletesKeepTheVisibleCellsOnTheirRows) {
    rows.sections = {numbered(8)};
    table->reloadData();
    UITableViewCell* was2 = table->cellForRowAtIndexPath({0, 2});
    UITableViewCell* was3 = table->cellForRowAtIndexPath({0, 3});
    table->selectRowAtIndexPath_animated(NSIndexPath{0, 3}, false);

    // Rows 0 and 1 go: the others move up, row 6 and 7 come on screen.
    rows.sections[0].erase(rows.sections[0].begin(), rows.sections[0].begin() + 2);
    rows.calls.clear();
    table->deleteRowsAtIndexPaths_withRowAnimation({{0, 0}, {0, 1}}, UITableViewRowAnimationBottom);
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 0}), was2);
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 1}), was3);
    EXPECT_EQ(was2->frame().origin.y, 0);
    EXPECT_EQ(table->indexPathForSelectedRow(), (NSIndexPath{0, 1}));
    EXPECT_EQ(rows.calls, (std::vector<std::string>{"cell 0.4", "cell 0.5"}));  // only rows new on screen
    for (int r = 0; r < 6; ++r) EXPECT_EQ(text_at(*table, 0, r), "row " + std::to_string(r + 2));

    // One row in at the top: everything moves down again.
    rows.sections[0].insert(rows.sections[0].begin(), "new");
    table->insertRowsAtIndexPaths_withRowAnimation({{0, 0}}, UITableViewRowAnimationBottom);
    EXPECT_EQ(text_at(*table, 0, 0), "new");
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 1}), was2);
    EXPECT_EQ(was2->frame().origin.y, 44);
    EXPECT_EQ(table->indexPathForSelectedRow(), (NSIndexPath{0, 2}));
    EXPECT_TRUE(table->cellForRowAtIndexPath({0, 2})->isSelected());

    ASSERT_EQ(table->updates().size(), 3u);
    EXPECT_EQ(table->updates()[1].kind, "deleteRows");
    EXPECT_EQ(table->updates()[1].animation, UITableViewRowAnimationBottom);
    EXPECT_EQ(table->updates()[1].rows.size(), 2u);
    EXPECT_EQ(table->updates()[2].kind, "insertRows");
}

TEST_F(UITableViewTest, AnUpdateThatDoesNotMatchTheDataSourceReloadsEverything) {
    rows.sections = {numbered(3)};
    table->reloadData();
    LogCapture log;
    rows.sections[0].push_back("x");
    rows.sections[0].push_back("y");
    table->insertRowsAtIndexPaths_withRowAnimation({{0, 3}}, UITableViewRowAnimationFade);  // two came, one told
    EXPECT_TRUE(log.contains(
        "<-[UITableView insertRowsAtIndexPaths:withRowAnimation:]> the data source's rows do not match the update; "
        "reloading the table"));
    EXPECT_EQ(table->numberOfRowsInSection(0), 5);
    EXPECT_EQ(text_at(*table, 0, 4), "y");
    table->deleteRowsAtIndexPaths_withRowAnimation({{0, 9}}, UITableViewRowAnimationFade);  // no such row
    EXPECT_EQ(table->numberOfRowsInSection(0), 5);
}

TEST_F(UITableViewTest, TappedRowsAskWillSelectThenSelectAndDeselectionIsRecorded) {
    auto window = makeWindow();
    window->addSubview(table);
    rows.sections = {numbered(3)};
    table->reloadData();
    rows.refuse = NSIndexPath{0, 0};
    EXPECT_TRUE(app.tapAtPoint({100, 20}));  // row 0: refused
    EXPECT_FALSE(table->indexPathForSelectedRow().has_value());
    EXPECT_TRUE(app.tapAtPoint({100, 50}));  // row 1
    EXPECT_EQ(rows.calls.back(), "did 1");
    EXPECT_EQ(table->indexPathForSelectedRow(), (NSIndexPath{0, 1}));
    EXPECT_TRUE(table->cellForRowAtIndexPath({0, 1})->isSelected());

    // A detail button takes taps at the right edge; the rest of the row selects.
    table->cellForRowAtIndexPath({0, 2})->setAccessoryType(UITableViewCellAccessoryDetailDisclosureButton);
    table->layoutIfNeeded();
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 2})->contentView()->frame().size.width, 320 - 33);
    app.tapAtPoint({310, 100});
    EXPECT_EQ(rows.calls.back(), "accessory 2");
    EXPECT_EQ(table->indexPathForSelectedRow(), (NSIndexPath{0, 1}));
    app.tapAtPoint({100, 100});
    EXPECT_EQ(rows.calls.back(), "did 2");
    EXPECT_FALSE(table->cellForRowAtIndexPath({0, 1})->isSelected());  // one row selected at a time

    table->deselectRowAtIndexPath_animated({0, 2}, true);
    EXPECT_FALSE(table->indexPathForSelectedRow().has_value());
    EXPECT_FALSE(table->cellForRowAtIndexPath({0, 2})->isSelected());
    EXPECT_EQ(table->updates().back().kind, "deselect");
    EXPECT_TRUE(table->updates().back().animated);
}

}  // namespace
}  // namespace vgps
