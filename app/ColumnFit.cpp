#include "ColumnFit.h"

#include <algorithm>
#include <numeric>

namespace {

std::vector<int> capped(const std::vector<ColumnNeed>& columns, int cap) {
    std::vector<int> widths;
    for (const ColumnNeed& c : columns)
        widths.push_back(std::max(c.least, std::min(c.natural, cap)));
    return widths;
}

int total(const std::vector<int>& widths) { return std::accumulate(widths.begin(), widths.end(), 0); }

} // namespace

std::vector<int> fitColumns(const std::vector<ColumnNeed>& columns, int room) {
    int widest = 0;
    for (const ColumnNeed& c : columns)
        widest = std::max({widest, c.natural, c.least});
    // The sum grows with the cap: find the largest cap that still fits.
    int fits = 0, tooWide = widest + 1;
    if (total(capped(columns, widest)) <= room)
        return capped(columns, widest);
    while (tooWide - fits > 1) {
        const int cap = fits + (tooWide - fits) / 2;
        (total(capped(columns, cap)) <= room ? fits : tooWide) = cap;
    }
    return capped(columns, fits);
}
