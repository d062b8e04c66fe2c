#pragma once

#include <vector>

// One row (or column) of the pane splitter: sizes in pixels.
struct SplitterRow {
    int minSize = 0;
    int idealSize = 0;
    int currentSize = 0;
};

inline constexpr int kSplitterGap = 7;    // bar between two panes
inline constexpr int kSplitterBorder = 1; // border around the panes

// Lays the rows out in `space` pixels: each row but the last gets its ideal
// size (0 when below its minimum), the last takes what is left, a bar of
// `gap` pixels separates neighbours, and a row that no longer fits is hidden
// (current size 0), its pixels going to the row before it.
void LayoutSplitterRows(std::vector<SplitterRow>& rows, int space, int gap = kSplitterGap);

// trunc(height * 5 / 7), the terminal row's share after every resize.
int FiveSevenths(int height);
