#pragma once
// Widths for a table's columns within the room a window has: every column as
// wide as its widest cell when they all fit; otherwise the widest columns are
// narrowed to one common width, so their texts wrap, but never below a
// column's least width (its longest word, its header), below which a text
// would be cut.
#include <vector>

struct ColumnNeed {
    int natural = 0; // the widest cell on one line
    int least = 0;   // the longest word or the header
};

// One width per column; their sum exceeds room only when the least widths do.
std::vector<int> fitColumns(const std::vector<ColumnNeed>& columns, int room);
