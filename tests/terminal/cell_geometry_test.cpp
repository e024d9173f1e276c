// Points to cells and back, and the buffer the screens are drawn into.
#include "frontend/terminal/cell_geometry.h"

#include <gtest/gtest.h>

#include <clocale>

#include "frontend/terminal/screen_buffer.h"

namespace vgps::term {
namespace {

TEST(CellGeometry, AFortyByThirtyTerminalIsTheToolkitsThreeTwentyByFourEighty) {
    EXPECT_EQ(screen_size_for(40, 30), CGSizeMake(320, 480));
    EXPECT_EQ(screen_size_for(80, 24), CGSizeMake(640, 384));
    // Edges go to the nearest boundary: a grouped row (x 10, 300 wide) has
    // its sides on columns 1 and 38.
    EXPECT_EQ(cells_of(CGRectMake(10, 74, 300, 44)), (CellRect{1, 5, 38, 2}));
    // The navigation bar below the status bar: lines 1 to 3, its title on 2.
    EXPECT_EQ(cells_of(CGRectMake(0, 20, 320, 44)), (CellRect{0, 1, 40, 3}));
    EXPECT_EQ(text_line_of(CGRectMake(62, 20, 196, 44)), 2);
    // A click lands in the middle of its cell.
    EXPECT_EQ(point_at_cell(3, 2), CGPointMake(28, 40));
    EXPECT_EQ(cells_of(CGRectMake(28, 40, 0, 0)).col, 4);
}

}  // namespace
}  // namespace vgps::term
