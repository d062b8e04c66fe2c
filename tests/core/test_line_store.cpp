#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "text/LineStore.h"
#include "text/RowLayout.h"
#include "text/TextSearch.h"

namespace {

// Numbered lines of varying length, so that any loss or reordering shows.
std::string NumberedLines(int count, int first = 0)
{
    std::string text;
    for (int i = first; i < first + count; ++i)
        text += "line " + std::to_string(i) + std::string(i % 97, '.') + "\n";
    return text;
}

// Appends text in chunks of random sizes (fixed seed), as a flood arrives.
void AppendInChunks(CLineStore& store, const std::string& text, unsigned seed)
{
    std::mt19937 random(seed);
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = std::min<std::size_t>(text.size() - at, random() % 300 + 1);
        store.Append(std::string_view(text).substr(at, n));
        at += n;
    }
}

} // namespace

TEST(LineStore, ChunksAcrossBlockBoundariesKeepBytesAndLines)
{
    CLineStore store;
    const std::string text = NumberedLines(5000) + "unfinished";
    ASSERT_GT(text.size(), 3 * CLineStore::kBlockSize);
    AppendInChunks(store, text, 1);
    EXPECT_EQ(store.Text(), text);
    // Every line where the text says, with its length, also across blocks.
    std::size_t start = 0;
    for (std::size_t line = 0; line < store.LineCount(); ++line) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        ASSERT_EQ(store.LineStart(line), start) << line;
        ASSERT_EQ(store.LineLength(line), end - start) << line;
        ASSERT_EQ(store.LineOf(start), line);
        start = end + 1;
    }
    EXPECT_EQ(store.LineCount(), 5001u);
    std::string range;
    store.Read(CLineStore::kBlockSize - 10, 20, range);
    EXPECT_EQ(range, text.substr(CLineStore::kBlockSize - 10, 20));
}

TEST(LineStore, AtCapacityOldestLinesGoNewestStayInOrder)
{
    const std::size_t capacity = 200000;
    CLineStore store(capacity);
    const std::string text = NumberedLines(20000);
    AppendInChunks(store, text, 2);
    ASSERT_LE(store.Size(), capacity);
    // What is held is the newest text, whole lines from the first, in order.
    const std::string held = store.Text();
    ASSERT_GT(held.size(), capacity - 200);
    EXPECT_EQ(text.compare(text.size() - held.size(), held.size(), held), 0);
    EXPECT_EQ(text[text.size() - held.size() - 1], '\n');
    // Positions keep naming the same text after the drops.
    EXPECT_EQ(store.Begin(), text.size() - held.size());
    EXPECT_EQ(store.DroppedLines() + store.LineCount(), 20001u);
    EXPECT_EQ(store.LineStart(1), text.find('\n', store.Begin()) + 1);

    // Clear empties; appending goes on from there.
    store.Clear();
    EXPECT_TRUE(store.Empty());
    store.Append("after\nclear");
    EXPECT_EQ(store.Text(), "after\nclear");
    EXPECT_EQ(store.LineCount(), 2u);
}

TEST(LineStore, LineLongerThanCapacityKeepsItsNewestPart)
{
    const std::size_t capacity = 1000;
    CLineStore store(capacity);
    store.Append("old line\n");
    std::string line;
    for (int i = 0; i < 500; ++i)
        line += std::to_string(i) + "\xc3\xa9"; // digits and a two-byte character
    AppendInChunks(store, line, 3);
    EXPECT_EQ(store.LineCount(), 1u);
    const std::string held = store.Text();
    EXPECT_LE(held.size(), capacity);
    EXPECT_GE(held.size(), capacity - 1);
    EXPECT_EQ(line.compare(line.size() - held.size(), held.size(), held), 0);
    EXPECT_NE(static_cast<unsigned char>(held[0]) & 0xC0, 0x80); // never half a character
    // Once it has ended, it is the oldest whole line, and it goes first.
    store.Append("\nnext");
    EXPECT_EQ(store.Text(), "next");
}

TEST(LineStore, EraseStopsAtLineStartAndTakesWholeCharacters)
{
    CLineStore store;
    store.Append("ab\n");
    EXPECT_FALSE(store.EraseLastChar()); // never a line break
    EXPECT_EQ(store.Text(), "ab\n");
    EXPECT_TRUE(store.EraseLastChar(true)); // local echo of Backspace joins the lines
    EXPECT_EQ(store.Text(), "ab");
    store.Append("\xe2\x82\xac"); // one three-byte character
    EXPECT_TRUE(store.EraseLastChar());
    EXPECT_TRUE(store.EraseLastChar());
    EXPECT_EQ(store.Text(), "a");
    // Across a block boundary.
    store.Append(std::string(CLineStore::kBlockSize, 'x'));
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(store.EraseLastChar());
    EXPECT_EQ(store.Size(), CLineStore::kBlockSize - 9);
    store.Append("yz");
    EXPECT_EQ(store.Text().substr(store.Size() - 3), "xyz");
}

TEST(LineStore, StyleRunsFollowTheTextAndGoWithTheFront)
{
    const CTextStyle red = CTextStyle().SetForeground(CTextStyle::RgbColour(0xFF0000)).SetBold(true);
    CLineStore store(30);
    store.Append("plain ");
    store.SetStyle(red);
    store.Append("red\n");
    store.SetStyle(CTextStyle());
    store.Append("plain again");
    EXPECT_EQ(store.StyleAt(0), CTextStyle());
    EXPECT_EQ(store.StyleAt(6), red);
    EXPECT_EQ(store.StyleAt(10), CTextStyle());
    const auto runs = store.Runs(4, 12);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[1].from, 6u);
    EXPECT_EQ(runs[2].from, 10u);
    store.Append("\nmore and more"); // the first line goes
    EXPECT_EQ(store.Begin(), 10u);
    EXPECT_EQ(store.Runs(store.Begin(), store.End()).size(), 1u);
}

// The console's pattern: output goes in above an input line, which is cut
// off and appended again, across block boundaries and at the capacity. The
// store holds what a plain string edited the same way ends with.
TEST(LineStore, TruncatedEndIsWrittenAgainAcrossBlocks)
{
    const CTextStyle kOutput = CTextStyle().SetForeground(CTextStyle::IndexedColour(1));
    const CTextStyle kTail = CTextStyle().SetBackground(CTextStyle::IndexedColour(2));
    const std::size_t capacity = 3 * CLineStore::kBlockSize;
    CLineStore store(capacity);
    std::string model;
    std::mt19937 random(7);
    const std::string input = "VORLA > typed";
    store.Append(input);
    model = input;
    for (int i = 0; i < 4000; ++i) {
        const uint64_t inputStart = store.End() - input.size();
        store.Truncate(inputStart);
        store.SetStyle(kOutput);
        const std::string output = NumberedLines(1 + random() % 5, i * 5);
        store.Append(output);
        store.SetStyle(CTextStyle());
        store.Append(input);
        model.insert(model.size() - input.size(), output);
    }
    // Whole lines were dropped from the front: the store ends as the model does.
    const std::string held = store.Text();
    ASSERT_LE(held.size(), capacity);
    ASSERT_GT(held.size(), capacity - 200);
    EXPECT_EQ(held, model.substr(model.size() - held.size()));
    EXPECT_EQ(model[model.size() - held.size() - 1], '\n');
    EXPECT_EQ(store.LineStart(store.LineCount() - 1), store.End() - input.size());
    EXPECT_EQ(store.StyleAt(store.End() - input.size() - 1), kOutput);
    EXPECT_EQ(store.StyleAt(store.End() - 1), CTextStyle());
    // Cut back into an earlier block, then written again.
    const uint64_t cut = store.End() - 2 * CLineStore::kBlockSize;
    store.Truncate(cut);
    model.resize(model.size() - 2 * CLineStore::kBlockSize);
    store.SetStyle(kTail);
    store.Append("tail\n");
    model += "tail\n";
    EXPECT_EQ(store.Text(), model.substr(model.size() - store.Size()));
    const auto runs = store.Runs(cut, store.End()); // nothing left of the runs cut off
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].style, kTail);
    EXPECT_EQ(store.LineLength(store.LineCount() - 2), model.size() - 1 - model.rfind('\n', model.size() - 2) - 1);
}

TEST(TextSearch, FindsAcrossWindowSeamsBothWaysWithCaseAndWholeWord)
{
    CLineStore store;
    std::string text(200000, '-');
    const std::vector<std::size_t> starts = {0, 65534, 131070, 199994};
    for (std::size_t at : starts)
        text.replace(at, 6, "Needle");
    text.replace(100000, 7, "needles"); // not a whole word
    store.Append(text);

    SFindOptions forward;
    std::vector<uint64_t> found;
    for (uint64_t at = 0; (at = FindText(store, "needle", at, forward)) != kNotFound; ++at)
        found.push_back(at);
    EXPECT_EQ(found, (std::vector<uint64_t>{0, 65534, 100000, 131070, 199994}));

    SFindOptions backward;
    backward.forward = false;
    backward.wholeWord = true;
    found.clear();
    for (uint64_t end = store.End(); (end = FindText(store, "needle", end, backward)) != kNotFound;)
        found.push_back(end);
    EXPECT_EQ(found, (std::vector<uint64_t>{199994, 131070, 65534, 0}));

    SFindOptions exact;
    exact.matchCase = true;
    EXPECT_EQ(FindText(store, "needle", 0, exact), 100000u);
    EXPECT_EQ(FindText(store, "absent", 0, forward), kNotFound);
}

// The layout kept up to date step by step must match one made afresh from
// the same store, also while lines are dropped, cut and erased.
TEST(RowLayout, FollowingChangesMatchesAFreshCount)
{
    CPlainCellMeasure measure;
    CLineStore store(3000);
    CRowLayout kept(measure);
    kept.SetColumns(17);
    std::mt19937 random(4);
    const char* pieces[] = {"ab", "\t", "x\n", "\xc3\xa9", "\n", "0123456789012345678901234567", "\t\t\n"};
    for (int step = 0; step < 3000; ++step) {
        if (random() % 5 == 0) {
            store.EraseLastChar(random() % 2 == 0);
        } else if (random() % 9 == 0) { // an edit of the end, as the console's input line
            const uint64_t from = store.LineStart(store.LineCount() > 1 ? store.LineCount() - 2 : 0);
            const uint64_t pos = from + random() % (store.End() - from + 1);
            kept.Truncating(store, pos);
            store.Truncate(pos);
        } else
            store.Append(pieces[random() % 7]);
        if (step == 1500)
            store.Append(std::string(4000, 'L')); // longer than the capacity
        kept.Sync(store);
        if (step % 100 == 0) {
            CRowLayout fresh(measure);
            fresh.SetColumns(17);
            fresh.Sync(store);
            ASSERT_EQ(kept.RowCount(), fresh.RowCount()) << step;
            for (std::size_t line = 0; line < store.LineCount(); ++line)
                ASSERT_EQ(kept.Cells(line), fresh.Cells(line)) << step << " line " << line;
        }
    }
    // Without wrapping a line is one row.
    kept.SetColumns(0);
    EXPECT_EQ(kept.RowCount(), store.LineCount());
}

// In a line far longer than the checkpoints' spacing, with tabs and UTF-8,
// cells and positions found from the checkpoints agree with a walk of the
// whole line, also after erasures shortened it and text was added again.
TEST(RowLayout, LongLinesFindCellsFromCheckpoints)
{
    CPlainCellMeasure measure;
    CLineStore store;
    CRowLayout layout(measure);
    layout.SetColumns(80);
    std::string line;
    for (int i = 0; line.size() < 5 * CRowLayout::kCheckpointEvery; ++i)
        line += i == 3 ? "\t" : i % 5 == 0 ? "\xc3\xa9" : "word "; // a tab would absorb errors before it
    store.Append("first\n");
    AppendInChunks(store, line, 5);
    layout.Sync(store);
    for (int i = 0; i < 40; ++i)
        store.EraseLastChar();
    layout.Sync(store);
    store.Append("tail\tend");
    layout.Sync(store);
    const std::string held = store.Text().substr(6);
    const uint64_t start = store.LineStart(1);
    for (std::size_t at = 0; at < held.size(); at += 9973) {
        while ((static_cast<unsigned char>(held[at]) & 0xC0) == 0x80)
            ++at;
        bool plain = true;
        const uint32_t cells = measure.Advance(0, held.data(), at, plain);
        ASSERT_EQ(layout.CellOf(store, 1, start + at), cells) << at;
        ASSERT_EQ(layout.BoundaryAt(store, 1, cells), start + at) << at;
    }
    bool plain = true;
    EXPECT_EQ(layout.Cells(1), measure.Advance(0, held.data(), held.size(), plain));
}
