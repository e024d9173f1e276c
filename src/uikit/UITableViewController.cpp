#include "uikit/UITableViewController.h"

namespace vgps {

UITableViewController::~UITableViewController() {
    // The table may outlive the screen (kept by a window or a front-end).
    if (isViewLoaded()) {
        if (auto* table = dynamic_cast<UITableView*>(view())) {
            table->setDataSource(nullptr);
            table->setDelegate(nullptr);
        }
    }
}

UITableView* UITableViewController::tableView() { return dynamic_cast<UITableView*>(view()); }

void UITableViewController::loadView() {
    auto table = std::make_shared<UITableView>(initialViewFrame(), style_);
    table->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    table->setDataSource(this);
    table->setDelegate(this);
    setView(std::move(table));
}

void UITableViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    if (UITableView* table = tableView()) table->reloadDataIfNeeded();
}

}  // namespace vgps
