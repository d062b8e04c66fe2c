#include <gtest/gtest.h>

#include <climits>

#include "app/SplitterLayout.h"

namespace {

struct Case {
    int space;     // inside height of the splitter
    int ideal;     // terminal row's ideal height
    int minimum;   // terminal row's minimum height
    int expectTop; // terminal row's resulting height
    int expectBottom;
};

} // namespace

TEST(SplitterLayout, TwoRowsFollowTheRowRules)
{
    const Case cases[] = {
        // Room for both: terminal gets its ideal, the bar 7, the console the rest.
        {600, 400, 10, 400, 193},
        {600, 592, 10, 592, 1},  // 8 pixels below the terminal: a 1-pixel console
        // Fewer than 8 pixels below the terminal row: the console is hidden and
        // the terminal takes the rest less the bar's share.
        {600, 593, 10, 593 + 7 - 5, 0},
        {600, 600, 10, 595, 0},
        // Ideal above the room (Prompt hides the console this way).
        {600, 900, 0, 595, 0},
        // An ideal below the minimum counts as 0: the terminal row vanishes.
        {600, 5, 10, 0, 593},
        {0, 400, 10, 0, 0},
        {-20, 400, 10, 0, 0},
    };
    for (const Case& c : cases) {
        std::vector<SplitterRow> rows(2);
        rows[0].idealSize = c.ideal;
        rows[0].minSize = c.minimum;
        LayoutSplitterRows(rows, c.space);
        EXPECT_EQ(rows[0].currentSize, c.expectTop) << "space " << c.space << " ideal " << c.ideal;
        EXPECT_EQ(rows[1].currentSize, c.expectBottom) << "space " << c.space << " ideal " << c.ideal;
        if (c.expectBottom > 0) {
            EXPECT_EQ(rows[0].currentSize + kSplitterGap + rows[1].currentSize, c.space);
        }
    }
}

TEST(SplitterLayout, SecondRowBelowItsMinimumGivesItsRoomToTheFirst)
{
    std::vector<SplitterRow> rows(2);
    rows[0].idealSize = 500;
    rows[1].minSize = 50;
    LayoutSplitterRows(rows, 540); // 33 pixels left after the bar
    EXPECT_EQ(rows[1].currentSize, 0);
    EXPECT_EQ(rows[0].currentSize, 500 + 33 + 2);
}

TEST(SplitterLayout, FiveSeventhsTruncates)
{
    EXPECT_EQ(FiveSevenths(700), 500);
    EXPECT_EQ(FiveSevenths(701), 500);
    EXPECT_EQ(FiveSevenths(707), 505);
    EXPECT_EQ(FiveSevenths(1080), 771);
    EXPECT_EQ(FiveSevenths(0), 0);
}
