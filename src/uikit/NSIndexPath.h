// A row of a table: its section and its row within the section. Index
// sets are ordered sets of section numbers.
#pragma once

#include <compare>
#include <set>

namespace vgps {

struct NSIndexPath {
    int section = 0;
    int row = 0;
    static NSIndexPath indexPathForRow_inSection(int row, int section) { return {section, row}; }
    auto operator<=>(const NSIndexPath&) const = default;
};

using NSIndexSet = std::set<int>;

}  // namespace vgps
