// A screen whose view is a table, with itself as the table's data source
// and delegate. The table is loaded the first time the screen appears.
#pragma once

#include "uikit/UITableView.h"
#include "uikit/UIViewController.h"

namespace vgps {

class UITableViewController : public UIViewController, public UITableViewDataSource, public UITableViewDelegate {
public:
    // initWithStyle:
    explicit UITableViewController(int style = UITableViewStylePlain) : style_(style) {}
    ~UITableViewController() override;
    const char* className() const override { return "UITableViewController"; }

    // The view, as a table (loaded on first use).
    UITableView* tableView();

    void loadView() override;
    void viewWillAppear(bool animated) override;

private:
    int style_;
};

}  // namespace vgps
