#include "uikit/UITableView.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "platform/log.h"

namespace vgps {

double UITableViewDelegate::tableView_heightForRowAtIndexPath(UITableView* tableView, NSIndexPath /*indexPath*/) {
    return tableView->rowHeight();
}

UITableView::UITableView(CGRect frame, int style) : UIScrollView(frame), style_(style) {
    if (style_ == UITableViewStyleGrouped) setBackgroundColor(UIColor::groupTableViewBackgroundColor());
    else setBackgroundColor(UIColor::whiteColor());
}

UITableView::~UITableView() {
    for (auto& [path, cell] : visible_) {
        cell->table_ = nullptr;
        cell->indexPath_.reset();
    }
}

// --- cells

std::shared_ptr<UITableViewCell> UITableView::dequeueReusableCellWithIdentifier(const std::string& identifier) {
    auto it = reuse_.find(identifier);
    if (it == reuse_.end() || it->second.empty()) return nullptr;
    std::shared_ptr<UITableViewCell> cell = std::move(it->second.back());
    it->second.pop_back();
    cell->prepareForReuse();
    return cell;
}

UITableViewCell* UITableView::cellForRowAtIndexPath(NSIndexPath indexPath) const {
    auto it = visible_.find(indexPath);
    return it != visible_.end() ? it->second.get() : nullptr;
}

std::vector<UITableViewCell*> UITableView::visibleCells() const {
    std::vector<UITableViewCell*> out;
    for (const auto& [path, cell] : visible_) out.push_back(cell.get());
    return out;
}

std::vector<NSIndexPath> UITableView::indexPathsForVisibleRows() const {
    std::vector<NSIndexPath> out;
    for (const auto& [path, cell] : visible_) out.push_back(path);
    return out;
}

std::optional<NSIndexPath> UITableView::indexPathForCell(const UITableViewCell* cell) const {
    if (cell == nullptr || cell->table_ != this) return std::nullopt;
    return cell->indexPath_;
}

std::optional<NSIndexPath> UITableView::indexPathForRowAtPoint(CGPoint point) const {
    for (int s = 0; s < numberOfSections(); ++s) {
        const Section& sec = sections_[static_cast<size_t>(s)];
        if (!CGRectContainsPoint(sec.groupFrame, point)) continue;
        auto it = std::upper_bound(sec.rowY.begin(), sec.rowY.end(), point.y);
        if (it == sec.rowY.begin()) return std::nullopt;
        return NSIndexPath{s, static_cast<int>(it - sec.rowY.begin()) - 1};
    }
    return std::nullopt;
}

int UITableView::numberOfRowsInSection(int section) const {
    if (section < 0 || section >= numberOfSections()) return 0;
    return static_cast<int>(sections_[static_cast<size_t>(section)].heights.size());
}

bool UITableView::validPath(NSIndexPath p) const { return p.row >= 0 && p.row < numberOfRowsInSection(p.section); }

std::vector<UITableViewSectionLayout> UITableView::sectionLayouts() const {
    std::vector<UITableViewSectionLayout> out;
    for (const Section& s : sections_) {
        out.push_back({s.header, s.footer, static_cast<int>(s.heights.size()), s.headerFrame, s.groupFrame,
                       s.footerFrame});
    }
    return out;
}

CGRect UITableView::rectForRowAtIndexPath(NSIndexPath p) const {
    if (!validPath(p)) return {};
    const Section& s = sections_[static_cast<size_t>(p.section)];
    const size_t r = static_cast<size_t>(p.row);
    return CGRectMake(s.groupFrame.origin.x, s.rowY[r], s.groupFrame.size.width, s.heights[r]);
}

// --- loading and geometry

double UITableView::askHeight(NSIndexPath p) {
    const double h = delegate_ != nullptr ? delegate_->tableView_heightForRowAtIndexPath(this, p) : rowHeight_;
    return std::isfinite(h) && h > 0 ? h : 0;
}

UITableView::Section UITableView::loadSection(int section) {
    Section s;
    const int rows = std::max(0, dataSource_->tableView_numberOfRowsInSection(this, section));
    s.header = dataSource_->tableView_titleForHeaderInSection(this, section);
    s.footer = dataSource_->tableView_titleForFooterInSection(this, section);
    s.heights.reserve(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r) s.heights.push_back(askHeight({section, r}));
    return s;
}

void UITableView::layoutGeometry() {
    const bool grouped = style_ == UITableViewStyleGrouped;
    const double width = bounds().size.width;
    const double x = grouped ? kGroupedInset : 0, w = std::max(0.0, width - 2 * x);
    const double headerHeight = grouped ? kGroupedHeaderHeight : kPlainHeaderHeight;
    const double footerHeight = grouped ? kGroupedFooterHeight : kPlainFooterHeight;
    double y = 0;
    for (Section& s : sections_) {
        if (grouped) y += kGroupedGap;
        s.headerFrame = s.header ? CGRectMake(x, y, w, headerHeight) : CGRect{};
        if (s.header) y += headerHeight;
        const double top = y;
        s.rowY.clear();
        for (double h : s.heights) {
            s.rowY.push_back(y);
            y += h;
        }
        s.groupFrame = CGRectMake(x, top, w, y - top);
        s.footerFrame = s.footer ? CGRectMake(x, y, w, footerHeight) : CGRect{};
        if (s.footer) y += footerHeight;
    }
    if (grouped && !sections_.empty()) y += kGroupedGap;
    setContentSize({width, y});
}

void UITableView::clampOffset() {
    const CGPoint max = maximumContentOffset();
    const CGPoint now = contentOffset();
    if (now.y > max.y) setContentOffset({now.x, max.y});
}

void UITableView::enqueue(const std::shared_ptr<UITableViewCell>& cell) {
    cell->removeFromSuperview();
    cell->indexPath_.reset();
    cell->table_ = nullptr;
    cell->setHighlighted_animated(false, false);
    if (!cell->reuseIdentifier()) return;
    auto& queue = reuse_[*cell->reuseIdentifier()];
    if (queue.size() < kReuseQueueLimit) queue.push_back(cell);
}

void UITableView::tile() {
    if (!loaded_ || tiling_) return;
    tiling_ = true;
    const CGRect shown = bounds();
    std::set<NSIndexPath> wanted;
    for (int s = 0; s < numberOfSections(); ++s) {
        const Section& sec = sections_[static_cast<size_t>(s)];
        if (!CGRectIntersectsRect(sec.groupFrame, shown)) continue;
        // The first row reaching below the top of the screen, then on.
        auto it = std::upper_bound(sec.rowY.begin(), sec.rowY.end(), shown.origin.y);
        size_t r = it == sec.rowY.begin() ? 0 : static_cast<size_t>(it - sec.rowY.begin()) - 1;
        for (; r < sec.rowY.size() && sec.rowY[r] < CGRectGetMaxY(shown); ++r) {
            if (sec.heights[r] > 0 && sec.rowY[r] + sec.heights[r] > shown.origin.y) {
                wanted.insert({s, static_cast<int>(r)});
            }
        }
    }
    for (auto it = visible_.begin(); it != visible_.end();) {
        if (wanted.count(it->first) != 0) {
            ++it;
            continue;
        }
        enqueue(it->second);
        it = visible_.erase(it);
    }
    for (const NSIndexPath& p : wanted) {
        std::shared_ptr<UITableViewCell> cell;
        if (auto it = visible_.find(p); it != visible_.end()) {
            cell = it->second;
        } else {
            if (dataSource_ == nullptr) break;
            cell = dataSource_->tableView_cellForRowAtIndexPath(this, p);
            if (!cell) {
                log_error("<%s> no cell for row %d of section %d", "-[UITableView layoutSubviews]", p.row, p.section);
                continue;
            }
            if (cell->table_ == this && cell->indexPath_) visible_.erase(*cell->indexPath_);  // handed out twice
            // Cells stay first among the subviews, in row order, beneath
            // whatever else the table holds.
            size_t pos = 0;
            const auto& children = subviews();
            for (size_t i = 0; i < children.size(); ++i) {
                auto* other = dynamic_cast<UITableViewCell*>(children[i].get());
                if (other == nullptr || other->table_ != this || !other->indexPath_) continue;
                if (*other->indexPath_ < p) pos = i + 1;
                else break;
            }
            visible_[p] = cell;
            cell->table_ = this;
            cell->indexPath_ = p;
            insertSubview_atIndex(cell, pos);
            // As handed out by the data source, with whatever it put into
            // the cell: laid out before it shows, even at an unchanged size.
            cell->setNeedsLayout();
        }
        cell->setFrame(rectForRowAtIndexPath(p));
        cell->setSelected(selected_ == p);
        cell->layoutIfNeeded();
    }
    tiling_ = false;
}

void UITableView::reloadAll() {
    if (tiling_) {
        log_error("<%s> reload asked for while cells are being made; ignored", "-[UITableView reloadData]");
        return;
    }
    for (auto& [path, cell] : visible_) enqueue(cell);
    visible_.clear();
    selected_.reset();
    sections_.clear();
    if (dataSource_ != nullptr) {
        const int n = std::max(0, dataSource_->numberOfSectionsInTableView(this));
        for (int s = 0; s < n; ++s) sections_.push_back(loadSection(s));
    }
    loaded_ = true;
    layoutGeometry();
    clampOffset();
    tile();
}

void UITableView::reloadDataIfNeeded() {
    if (!loaded_) reloadAll();
}

void UITableView::reloadData() {
    record({"reloadData", {}, {}, -1, false});
    reloadAll();
}

void UITableView::reloadSections_withRowAnimation(const NSIndexSet& sections, int animation) {
    record({"reloadSections", std::vector<int>(sections.begin(), sections.end()), {}, animation, false});
    if (!loaded_ || dataSource_ == nullptr || tiling_) return reloadAll();
    if (dataSource_->numberOfSectionsInTableView(this) != numberOfSections()) {
        log_error("<%s> the number of sections changed; reloading the table",
                  "-[UITableView reloadSections:withRowAnimation:]");
        return reloadAll();
    }
    for (int s : sections) {
        if (s < 0 || s >= numberOfSections()) continue;
        for (auto it = visible_.begin(); it != visible_.end();) {
            if (it->first.section != s) {
                ++it;
                continue;
            }
            enqueue(it->second);
            it = visible_.erase(it);
        }
        if (selected_ && selected_->section == s) selected_.reset();
        sections_[static_cast<size_t>(s)] = loadSection(s);
    }
    layoutGeometry();
    clampOffset();
    tile();
}

void UITableView::reloadRowsAtIndexPaths_withRowAnimation(const std::vector<NSIndexPath>& indexPaths, int animation) {
    record({"reloadRows", {}, indexPaths, animation, false});
    if (!loaded_ || tiling_) return reloadAll();
    for (const NSIndexPath& p : indexPaths) {
        if (!validPath(p)) {
            log_error("<%s> no row %d in section %d", "-[UITableView reloadRowsAtIndexPaths:withRowAnimation:]", p.row,
                      p.section);
            continue;
        }
        sections_[static_cast<size_t>(p.section)].heights[static_cast<size_t>(p.row)] = askHeight(p);
        if (auto it = visible_.find(p); it != visible_.end()) {
            enqueue(it->second);
            visible_.erase(it);
        }
    }
    layoutGeometry();
    clampOffset();
    tile();
}

void UITableView::insertRowsAtIndexPaths_withRowAnimation(const std::vector<NSIndexPath>& indexPaths, int animation) {
    record({"insertRows", {}, indexPaths, animation, false});
    updateRows({}, indexPaths, "-[UITableView insertRowsAtIndexPaths:withRowAnimation:]");
}

void UITableView::deleteRowsAtIndexPaths_withRowAnimation(const std::vector<NSIndexPath>& indexPaths, int animation) {
    record({"deleteRows", {}, indexPaths, animation, false});
    updateRows(indexPaths, {}, "-[UITableView deleteRowsAtIndexPaths:withRowAnimation:]");
}

void UITableView::updateRows(const std::vector<NSIndexPath>& deleted, const std::vector<NSIndexPath>& inserted,
                             const char* who) {
    if (!loaded_ || dataSource_ == nullptr || tiling_) return reloadAll();
    auto mismatch = [&] {
        log_error("<%s> the data source's rows do not match the update; reloading the table", who);
        reloadAll();
    };
    const int n = numberOfSections();
    if (dataSource_->numberOfSectionsInTableView(this) != n) return mismatch();
    std::map<int, std::set<int>> del, ins;
    for (const NSIndexPath& p : deleted) {
        if (!validPath(p)) return mismatch();
        del[p.section].insert(p.row);
    }
    for (const NSIndexPath& p : inserted) {
        if (p.section < 0 || p.section >= n || p.row < 0) return mismatch();
        ins[p.section].insert(p.row);
    }
    std::map<int, int> newCounts;
    for (int s = 0; s < n; ++s) {
        const int count = dataSource_->tableView_numberOfRowsInSection(this, s);
        const int expected = numberOfRowsInSection(s) - static_cast<int>(del[s].size()) + static_cast<int>(ins[s].size());
        if (count != expected || (!ins[s].empty() && *ins[s].rbegin() >= count)) return mismatch();
        newCounts[s] = count;
    }

    std::map<NSIndexPath, std::shared_ptr<UITableViewCell>> moved;
    std::optional<NSIndexPath> selected;
    for (int s = 0; s < n; ++s) {
        Section& sec = sections_[static_cast<size_t>(s)];
        const int oldCount = static_cast<int>(sec.heights.size());
        std::vector<int> oldToNew(static_cast<size_t>(oldCount), -1);
        std::vector<int> survivors;
        for (int r = 0; r < oldCount; ++r) {
            if (del[s].count(r) == 0) survivors.push_back(r);
        }
        size_t k = 0;
        for (int r = 0; r < newCounts[s]; ++r) {
            if (ins[s].count(r) == 0) oldToNew[static_cast<size_t>(survivors[k++])] = r;
        }
        std::vector<double> heights(static_cast<size_t>(newCounts[s]), 0);
        for (int r = 0; r < oldCount; ++r) {
            if (oldToNew[static_cast<size_t>(r)] >= 0) {
                heights[static_cast<size_t>(oldToNew[static_cast<size_t>(r)])] = sec.heights[static_cast<size_t>(r)];
            }
        }
        sec.heights = std::move(heights);
        for (int r : ins[s]) sec.heights[static_cast<size_t>(r)] = askHeight({s, r});
        for (auto& [path, cell] : visible_) {
            if (path.section != s) continue;
            const int to = oldToNew[static_cast<size_t>(path.row)];
            if (to < 0) {
                enqueue(cell);
                continue;
            }
            cell->indexPath_ = NSIndexPath{s, to};
            moved[{s, to}] = cell;
        }
        if (selected_ && selected_->section == s) {
            const int to = oldToNew[static_cast<size_t>(selected_->row)];
            if (to >= 0) selected = NSIndexPath{s, to};
        }
    }
    selected_ = selected;
    visible_ = std::move(moved);
    layoutGeometry();
    clampOffset();
    tile();
}

// --- selection

void UITableView::selectRowAtIndexPath_animated(std::optional<NSIndexPath> indexPath, bool animated) {
    if (indexPath && !validPath(*indexPath)) return;
    if (selected_ && selected_ != indexPath) {
        if (UITableViewCell* old = cellForRowAtIndexPath(*selected_)) old->setSelected_animated(false, animated);
    }
    selected_ = indexPath;
    if (indexPath) {
        if (UITableViewCell* cell = cellForRowAtIndexPath(*indexPath)) cell->setSelected_animated(true, animated);
    }
}

void UITableView::deselectRowAtIndexPath_animated(NSIndexPath indexPath, bool animated) {
    record({"deselect", {}, {indexPath}, -1, animated});
    if (selected_ == indexPath) selected_.reset();
    if (UITableViewCell* cell = cellForRowAtIndexPath(indexPath)) cell->setSelected_animated(false, animated);
}

void UITableView::userSelectRowAtIndexPath(NSIndexPath indexPath) {
    if (!validPath(indexPath)) return;
    std::optional<NSIndexPath> target = indexPath;
    if (delegate_ != nullptr) target = delegate_->tableView_willSelectRowAtIndexPath(this, indexPath);
    if (!target || !validPath(*target)) return;
    selectRowAtIndexPath_animated(target, false);
    if (delegate_ != nullptr) delegate_->tableView_didSelectRowAtIndexPath(this, *target);
}

void UITableView::userTappedAccessoryForRowAtIndexPath(NSIndexPath indexPath) {
    if (!validPath(indexPath)) return;
    if (delegate_ != nullptr) delegate_->tableView_accessoryButtonTappedForRowWithIndexPath(this, indexPath);
}

// --- layout

void UITableView::layoutSubviews() {
    if (!loaded_) {
        if (dataSource_ != nullptr) reloadAll();
        return;
    }
    tile();
}

void UITableView::sizeChanged(CGSize /*old*/) {
    if (!loaded_ || tiling_) return;
    // Heights may follow the table's size (a row as tall as the screen).
    for (int s = 0; s < numberOfSections(); ++s) {
        Section& sec = sections_[static_cast<size_t>(s)];
        for (size_t r = 0; r < sec.heights.size(); ++r) sec.heights[r] = askHeight({s, static_cast<int>(r)});
    }
    layoutGeometry();
    clampOffset();
    tile();
}

void UITableView::boundsOriginChanged() { tile(); }

void UITableView::dumpProperties(JSON& out) const {
    UIScrollView::dumpProperties(out);
    out["style"] = style_;
    JSON sections = JSON::array();
    for (const Section& s : sections_) {
        sections.push_back({{"header", dump_optional(s.header)},
                            {"footer", dump_optional(s.footer)},
                            {"rows", s.heights.size()},
                            {"headerFrame", s.header ? dump_rect(s.headerFrame) : JSON(nullptr)},
                            {"groupFrame", dump_rect(s.groupFrame)},
                            {"footerFrame", s.footer ? dump_rect(s.footerFrame) : JSON(nullptr)}});
    }
    out["sections"] = std::move(sections);
    out["selected"] = selected_ ? JSON::array({selected_->section, selected_->row}) : JSON(nullptr);
}

}  // namespace vgps
