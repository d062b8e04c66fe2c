#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "console/CommandHistory.h"

namespace {

void AddNumbered(CCommandHistory& h, int from, int to)
{
    for (int i = from; i <= to; ++i)
        h.Add("cmd" + std::to_string(i));
}

} // namespace

TEST(CommandHistory, StartsEmpty)
{
    CCommandHistory h;
    EXPECT_EQ(h.GetCount(), 0);
    EXPECT_EQ(h.Older(), "");
    EXPECT_EQ(h.Newer(), "");
    EXPECT_EQ(h.Newer(), "");
    for (int i = 0; i < CCommandHistory::kSlots; ++i)
        EXPECT_EQ(h.GetAt(i), "");
    EXPECT_EQ(h.GetAt(-1), "");
    EXPECT_EQ(h.GetAt(15), "");
    EXPECT_TRUE(h.Snapshot().empty());
}

TEST(CommandHistory, UpStopsAtFifteenthSlotAndDownReturnsToEmpty)
{
    CCommandHistory h;
    AddNumbered(h, 1, 20); // slot 0 = cmd20 ... slot 14 = cmd6
    std::vector<std::string> up;
    for (int i = 0; i < 20; ++i)
        up.push_back(h.Older());
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(up[i], "cmd" + std::to_string(20 - i)) << i;
    for (int i = 15; i < 20; ++i)
        EXPECT_EQ(up[i], "cmd6") << i;

    for (int i = 13; i >= 0; --i)
        EXPECT_EQ(h.Newer(), "cmd" + std::to_string(20 - i));
    EXPECT_EQ(h.Newer(), ""); // past the newest
    EXPECT_EQ(h.Newer(), "");
    EXPECT_EQ(h.Older(), "cmd20"); // browsing starts again at the newest
}

TEST(CommandHistory, UpPastTheOldestStoredEntryGivesEmptyText)
{
    CCommandHistory h;
    h.Add("a");
    h.Add("b");
    EXPECT_EQ(h.Older(), "b");
    EXPECT_EQ(h.Older(), "a");
    EXPECT_EQ(h.Older(), "");
    EXPECT_EQ(h.Newer(), "a");
    EXPECT_EQ(h.Newer(), "b");
    EXPECT_EQ(h.Newer(), "");
}

TEST(CommandHistory, AddEndsBrowsingAndSkipsRepeatOfNewest)
{
    CCommandHistory h;
    h.Add("a");
    h.Add("b");
    h.Add("b");
    EXPECT_EQ(h.GetCount(), 2);
    EXPECT_EQ(h.Snapshot(), (std::vector<std::string>{"b", "a"}));
    h.Add("a"); // not the newest: stored again
    EXPECT_EQ(h.Snapshot(), (std::vector<std::string>{"a", "b", "a"}));

    EXPECT_EQ(h.Older(), "a");
    EXPECT_EQ(h.Older(), "b");
    h.Add("a"); // a repeat, but the cursor still resets
    EXPECT_EQ(h.GetCount(), 3);
    EXPECT_EQ(h.Older(), "a");
    EXPECT_EQ(h.Newer(), "");
}

TEST(CommandHistory, SixteenthEntryDropsOldestAndCountStaysAtFifteen)
{
    CCommandHistory h;
    for (int i = 1; i <= 15; ++i) {
        h.Add("cmd" + std::to_string(i));
        EXPECT_EQ(h.GetCount(), i);
    }
    EXPECT_EQ(h.GetAt(14), "cmd1");
    h.Add("cmd16");
    EXPECT_EQ(h.GetCount(), 15);
    EXPECT_EQ(h.GetAt(0), "cmd16");
    EXPECT_EQ(h.GetAt(14), "cmd2");
    AddNumbered(h, 17, 100);
    EXPECT_EQ(h.GetCount(), 15);
    const auto snap = h.Snapshot();
    ASSERT_EQ(snap.size(), 15u);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(snap[i], "cmd" + std::to_string(100 - i));
}

TEST(CommandHistory, EnteredLinesTable)
{
    struct Case {
        std::string line;
        std::string stored; // "" when nothing is stored
    };
    const Case cases[] = {
        {" puts x\n", "puts x"},
        {"puts x", "puts x"},
        {"   \n", ""},
        {"\n", ""},
        {"cmdhist\n", ""},
        {"  cmdhist  \n", ""},
        {"cmdhist 3\n", "cmdhist 3"},
        {"\tputs y \n", "\tputs y"}, // only blanks are trimmed
        {"\t\n", "\t"},
    };
    for (const Case& c : cases) {
        CCommandHistory h;
        h.AddEnteredLine(c.line);
        if (c.stored.empty()) {
            EXPECT_EQ(h.GetCount(), 0) << c.line;
        } else {
            EXPECT_EQ(h.GetCount(), 1) << c.line;
            EXPECT_EQ(h.GetAt(0), c.stored);
        }
    }
    CCommandHistory h;
    h.AddEnteredLine(" puts x\n");
    h.AddEnteredLine("puts x  \n");
    EXPECT_EQ(h.GetCount(), 1);
}

// The Tcl thread reads while the UI thread adds and browses; every read must
// see a consistent history (run under TSan for the data races).
TEST(CommandHistory, ReadsFromAnotherThreadWhileAdding)
{
    CCommandHistory h;
    constexpr int kAdds = 20000;
    constexpr int kMinReads = 2000;
    std::atomic<bool> done{false};
    std::atomic<int> badReads{0};
    std::atomic<int> reads{0};

    std::thread reader([&] {
        int lastCount = 0;
        while (!done.load()) {
            const int count = h.GetCount();
            if (count < lastCount || count > CCommandHistory::kSlots)
                ++badReads;
            lastCount = count;
            const auto snap = h.Snapshot();
            // Entries are added in increasing order: newest first means
            // strictly decreasing numbers, without gaps.
            for (size_t i = 1; i < snap.size(); ++i) {
                if (std::stoi(snap[i - 1].substr(3)) != std::stoi(snap[i].substr(3)) + 1)
                    ++badReads;
            }
            const std::string s = h.GetAt(count > 0 ? count - 1 : 0);
            if (count > 0 && s.rfind("cmd", 0) != 0)
                ++badReads;
            ++reads;
        }
    });
    // Keep adding until the reader has overlapped for a good while, so the
    // two threads really run together; the deadline only guards a hang.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int added = 0;
    while ((added < kAdds || reads.load() < kMinReads) && std::chrono::steady_clock::now() < deadline) {
        ++added;
        h.Add("cmd" + std::to_string(added));
        if (added % 7 == 0) {
            h.Older();
            h.Newer();
        }
    }
    done = true;
    reader.join();
    EXPECT_EQ(badReads.load(), 0);
    EXPECT_GE(reads.load(), kMinReads);
    EXPECT_EQ(h.GetAt(0), "cmd" + std::to_string(added));
}
