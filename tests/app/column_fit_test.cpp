// Column widths within a window's room: natural when they fit, else the widest
// narrowed to one width, never below a column's longest word or header.
#include "ColumnFit.h"

#include <gtest/gtest.h>
#include <numeric>

namespace {

int sum(const std::vector<int>& w) { return std::accumulate(w.begin(), w.end(), 0); }

} // namespace

TEST(column_fit, columns_that_fit_keep_their_natural_widths) {
    const std::vector<ColumnNeed> columns = {{60, 60}, {180, 110}, {230, 80}};
    EXPECT_EQ(fitColumns(columns, 470), (std::vector<int>{60, 180, 230})) << "exactly the room";
    EXPECT_EQ(fitColumns(columns, 2000), (std::vector<int>{60, 180, 230}));
}

TEST(column_fit, the_widest_are_narrowed_to_one_width_and_the_narrow_stay) {
    // The change list's columns at a 200 % display: check box, group, name,
    // key, two values, note.
    const std::vector<ColumnNeed> columns = {{62, 62}, {105, 70}, {183, 114}, {84, 84}, {94, 94}, {105, 105}, {230, 83}};
    const std::vector<int> w = fitColumns(columns, 730);
    EXPECT_LE(sum(w), 730);
    EXPECT_GE(sum(w), 730 - 1) << "the room is used, to within the rounding of one width";
    EXPECT_EQ(w[2], w[6]) << "the name and the note share the width";
    EXPECT_LT(w[6], 230);
    for (int narrow : {0, 1, 3, 4, 5})
        EXPECT_EQ(w[static_cast<size_t>(narrow)], columns[static_cast<size_t>(narrow)].natural) << narrow;
}

TEST(column_fit, no_column_goes_below_its_least_even_when_the_room_is_too_small) {
    const std::vector<ColumnNeed> columns = {{300, 120}, {200, 180}, {90, 90}};
    EXPECT_EQ(fitColumns(columns, 250), (std::vector<int>{120, 180, 90})) << "the list scrolls instead";
    EXPECT_EQ(fitColumns(columns, 400), (std::vector<int>{130, 180, 90})) << "held at its least while the other narrows";
}

TEST(column_fit, a_header_wider_than_the_cells_holds_the_column) {
    EXPECT_EQ(fitColumns({{40, 95}, {500, 60}}, 300), (std::vector<int>{95, 205}));
    EXPECT_TRUE(fitColumns({}, 100).empty());
}
