#include "app/SplitterLayout.h"

#include <climits>

void LayoutSplitterRows(std::vector<SplitterRow>& rows, int space, int gap)
{
    const int border2 = 2; // the two border pixels the bar keeps
    int remaining = space < 0 ? 0 : space;
    const int n = static_cast<int>(rows.size());
    for (int i = 0; i < n - 1; ++i) {
        if (rows[i].idealSize < rows[i].minSize)
            rows[i].idealSize = 0;
        rows[i].currentSize = rows[i].idealSize;
    }
    if (n > 0)
        rows[n - 1].currentSize = INT_MAX;

    for (int i = 0; i < n; ++i) {
        SplitterRow& row = rows[i];
        if (remaining == 0) {
            row.currentSize = 0; // no room left: hidden, and no bar
            continue;
        }
        if (remaining < row.minSize && i != 0) {
            row.currentSize = 0;
            rows[i - 1].currentSize += remaining + border2;
            remaining = 0;
        } else if (row.currentSize == 0) {
            // too small to see; stays hidden
        } else if (remaining < row.currentSize) {
            row.currentSize = remaining;
            remaining = 0;
        } else {
            remaining -= row.currentSize;
        }
        if (i != n - 1) {
            if (remaining > gap) {
                remaining -= gap;
            } else {
                row.currentSize += remaining;
                if (row.currentSize > gap - border2)
                    row.currentSize -= gap - border2;
                remaining = 0;
            }
        }
    }
}

int FiveSevenths(int height) { return static_cast<int>(height * 0.7142857142857143); }
