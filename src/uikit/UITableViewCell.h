// One row of a table: a content view that the row's owner fills, a text
// label and an image view made on first use inside it, an accessory at the
// right edge, and the selected state. The table shows it at the width of
// the table (inset by 10 points on each side in a grouped table); the
// content view fills the cell, less the accessory's 33 points.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "uikit/NSIndexPath.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UIView.h"

namespace vgps {

class UITableView;

enum UITableViewCellStyle : int {
    UITableViewCellStyleDefault = 0,
    UITableViewCellStyleValue1 = 1,
    UITableViewCellStyleValue2 = 2,
    UITableViewCellStyleSubtitle = 3,
};

enum UITableViewCellAccessoryType : int {
    UITableViewCellAccessoryNone = 0,
    UITableViewCellAccessoryDisclosureIndicator = 1,
    UITableViewCellAccessoryDetailDisclosureButton = 2,
    UITableViewCellAccessoryCheckmark = 3,
};

class UITableViewCell : public UIView {
public:
    static constexpr double kAccessoryWidth = 33;
    static constexpr double kMargin = 10;

    // initWithStyle:reuseIdentifier: the cell is 320 by 44 until a table
    // places it.
    UITableViewCell(int style, std::optional<std::string> reuseIdentifier);
    ~UITableViewCell() override;
    const char* className() const override { return "UITableViewCell"; }

    int style() const { return style_; }
    const std::optional<std::string>& reuseIdentifier() const { return reuseIdentifier_; }

    UIView* contentView() const { return contentView_.get(); }
    UILabel* textLabel();
    UIImageView* imageView();
    // The label and image view if they were made, else null.
    UILabel* textLabelIfMade() const { return textLabel_.get(); }
    UIImageView* imageViewIfMade() const { return imageView_.get(); }

    int accessoryType() const { return accessoryType_; }
    void setAccessoryType(int type);
    // Where the accessory is drawn and tapped (cell coordinates); empty
    // when the cell has none.
    CGRect accessoryFrame() const;

    bool isSelected() const { return selected_; }
    void setSelected(bool selected) { setSelected_animated(selected, false); }
    virtual void setSelected_animated(bool selected, bool animated);
    // Shown while a finger is down on the row.
    bool isHighlighted() const { return highlighted_; }
    virtual void setHighlighted_animated(bool highlighted, bool animated);
    // The table is about to hand the cell out again (dequeue).
    virtual void prepareForReuse() {}

    // Where a table shows the cell now; absent while it is not on screen.
    const std::optional<NSIndexPath>& indexPath() const { return indexPath_; }
    UITableView* tableView() const { return table_; }

    // Places the content view, then the text label and the image view.
    void layoutSubviews() override;

protected:
    void dumpProperties(JSON& out) const override;

private:
    friend class UITableView;
    class CellImageView;
    void placeStandardViews();

    int style_;
    std::optional<std::string> reuseIdentifier_;
    std::shared_ptr<UIView> contentView_;
    std::shared_ptr<UILabel> textLabel_;
    std::shared_ptr<UIImageView> imageView_;
    int accessoryType_ = UITableViewCellAccessoryNone;
    bool selected_ = false;
    bool highlighted_ = false;
    std::optional<NSIndexPath> indexPath_;
    UITableView* table_ = nullptr;
};

}  // namespace vgps
