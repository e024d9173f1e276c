// A table: sections of rows, each section with an optional header and
// footer text, drawn plain (full width) or grouped (rows inset 10 points on
// each side, in a rounded group per section). A data source says what the
// sections hold and makes the cells; a delegate gives row heights and
// hears selections. Only the rows on screen have cells: cells scrolled off
// screen, removed or reloaded go to a queue per reuse identifier, from
// which dequeueReusableCellWithIdentifier hands them out again.
//
// Every update (reloads, inserts, deletes, deselections) is recorded with
// its row-animation code, for tests. Updates apply at once: cells are asked
// for, moved and laid out before the call returns.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "uikit/NSIndexPath.h"
#include "uikit/UIScrollView.h"
#include "uikit/UITableViewCell.h"

namespace vgps {

class UITableView;

enum UITableViewStyle : int { UITableViewStylePlain = 0, UITableViewStyleGrouped = 1 };

enum UITableViewRowAnimation : int {
    UITableViewRowAnimationFade = 0,
    UITableViewRowAnimationRight = 1,
    UITableViewRowAnimationLeft = 2,
    UITableViewRowAnimationTop = 3,
    UITableViewRowAnimationBottom = 4,
    UITableViewRowAnimationNone = 5,
    UITableViewRowAnimationMiddle = 6,
};

class UITableViewDataSource {
public:
    virtual ~UITableViewDataSource() = default;
    virtual int numberOfSectionsInTableView(UITableView* /*tableView*/) { return 1; }
    virtual int tableView_numberOfRowsInSection(UITableView* tableView, int section) = 0;
    virtual std::shared_ptr<UITableViewCell> tableView_cellForRowAtIndexPath(UITableView* tableView,
                                                                            NSIndexPath indexPath) = 0;
    virtual std::optional<std::string> tableView_titleForHeaderInSection(UITableView* /*tableView*/, int /*section*/) {
        return std::nullopt;
    }
    virtual std::optional<std::string> tableView_titleForFooterInSection(UITableView* /*tableView*/, int /*section*/) {
        return std::nullopt;
    }
};

class UITableViewDelegate {
public:
    virtual ~UITableViewDelegate() = default;
    // The table's rowHeight() unless the delegate says otherwise.
    virtual double tableView_heightForRowAtIndexPath(UITableView* tableView, NSIndexPath indexPath);
    // The row to select instead (the same one by default), or none to
    // refuse the selection.
    virtual std::optional<NSIndexPath> tableView_willSelectRowAtIndexPath(UITableView* /*tableView*/,
                                                                          NSIndexPath indexPath) {
        return indexPath;
    }
    virtual void tableView_didSelectRowAtIndexPath(UITableView* /*tableView*/, NSIndexPath /*indexPath*/) {}
    virtual void tableView_accessoryButtonTappedForRowWithIndexPath(UITableView* /*tableView*/,
                                                                    NSIndexPath /*indexPath*/) {}
};

// One recorded update: "reloadData", "reloadSections", "reloadRows",
// "insertRows", "deleteRows" or "deselect".
struct UITableViewUpdate {
    std::string kind;
    std::vector<int> sections;
    std::vector<NSIndexPath> rows;
    int animation = -1;     // row-animation code; -1 where there is none
    bool animated = false;  // deselections
};

// Where a section stands, in the table's content coordinates.
struct UITableViewSectionLayout {
    std::optional<std::string> header, footer;
    int rows = 0;
    CGRect headerFrame;  // empty without a header
    CGRect groupFrame;   // the rows together
    CGRect footerFrame;  // empty without a footer
};

class UITableView : public UIScrollView {
public:
    static constexpr double kGroupedInset = 10;
    static constexpr double kGroupedGap = 10;
    static constexpr double kGroupedHeaderHeight = 36;
    static constexpr double kGroupedFooterHeight = 30;
    static constexpr double kPlainHeaderHeight = 22;
    static constexpr double kPlainFooterHeight = 22;
    static constexpr size_t kReuseQueueLimit = 32;

    // initWithFrame:style:
    UITableView(CGRect frame, int style);
    ~UITableView() override;
    const char* className() const override { return "UITableView"; }

    int style() const { return style_; }
    UITableViewDataSource* dataSource() const { return dataSource_; }
    void setDataSource(UITableViewDataSource* dataSource) { dataSource_ = dataSource; }
    UITableViewDelegate* delegate() const { return delegate_; }
    void setDelegate(UITableViewDelegate* delegate) { delegate_ = delegate; }
    double rowHeight() const { return rowHeight_; }
    void setRowHeight(double height) { rowHeight_ = height; }

    // --- cells
    std::shared_ptr<UITableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier);
    // The cell of a row on screen, else null.
    UITableViewCell* cellForRowAtIndexPath(NSIndexPath indexPath) const;
    std::vector<UITableViewCell*> visibleCells() const;
    std::vector<NSIndexPath> indexPathsForVisibleRows() const;
    std::optional<NSIndexPath> indexPathForCell(const UITableViewCell* cell) const;
    // The row at a point of the content, if any.
    std::optional<NSIndexPath> indexPathForRowAtPoint(CGPoint point) const;

    // --- what the table holds, as last asked of the data source
    int numberOfSections() const { return static_cast<int>(sections_.size()); }
    int numberOfRowsInSection(int section) const;
    std::vector<UITableViewSectionLayout> sectionLayouts() const;
    CGRect rectForRowAtIndexPath(NSIndexPath indexPath) const;
    bool hasLoaded() const { return loaded_; }
    // Asks the data source for everything the first time only (the table
    // does so itself at its first layout); not recorded as an update.
    void reloadDataIfNeeded();

    // --- updates
    void reloadData();
    void reloadSections_withRowAnimation(const NSIndexSet& sections, int animation);
    void reloadRowsAtIndexPaths_withRowAnimation(const std::vector<NSIndexPath>& indexPaths, int animation);
    void insertRowsAtIndexPaths_withRowAnimation(const std::vector<NSIndexPath>& indexPaths, int animation);
    void deleteRowsAtIndexPaths_withRowAnimation(const std::vector<NSIndexPath>& indexPaths, int animation);
    const std::vector<UITableViewUpdate>& updates() const { return updates_; }
    void clearUpdates() { updates_.clear(); }

    // --- selection
    std::optional<NSIndexPath> indexPathForSelectedRow() const { return selected_; }
    void selectRowAtIndexPath_animated(std::optional<NSIndexPath> indexPath, bool animated);
    void deselectRowAtIndexPath_animated(NSIndexPath indexPath, bool animated);
    // A finger tapped the row: will-select, select, did-select.
    void userSelectRowAtIndexPath(NSIndexPath indexPath);
    // A finger tapped the row's detail-disclosure button.
    void userTappedAccessoryForRowAtIndexPath(NSIndexPath indexPath);

    void layoutSubviews() override;

protected:
    void dumpProperties(JSON& out) const override;
    void sizeChanged(CGSize old) override;
    void boundsOriginChanged() override;

private:
    struct Section {
        std::optional<std::string> header, footer;
        std::vector<double> heights;
        std::vector<double> rowY;  // content y of each row
        CGRect headerFrame, groupFrame, footerFrame;
    };

    bool validPath(NSIndexPath indexPath) const;
    void reloadAll();
    void clampOffset();
    Section loadSection(int section);
    double askHeight(NSIndexPath indexPath);
    void layoutGeometry();
    // Shows exactly the rows on screen: cells of rows gone off screen go to
    // the queues, rows come on screen get cells, every cell is placed.
    void tile();
    void enqueue(const std::shared_ptr<UITableViewCell>& cell);
    // Deletes (old numbering) and inserts (new numbering) rows, checking
    // the data source's counts; a mismatch is logged and reloads all.
    void updateRows(const std::vector<NSIndexPath>& deleted, const std::vector<NSIndexPath>& inserted,
                    const char* who);
    void record(UITableViewUpdate update) { updates_.push_back(std::move(update)); }

    int style_;
    UITableViewDataSource* dataSource_ = nullptr;
    UITableViewDelegate* delegate_ = nullptr;
    double rowHeight_ = 44;
    bool loaded_ = false;
    bool tiling_ = false;
    std::vector<Section> sections_;
    std::map<NSIndexPath, std::shared_ptr<UITableViewCell>> visible_;
    std::map<std::string, std::vector<std::shared_ptr<UITableViewCell>>> reuse_;
    std::optional<NSIndexPath> selected_;
    std::vector<UITableViewUpdate> updates_;
};

}  // namespace vgps
