// ANSI display: the escape-sequence parser on streams cut at every byte,
// and the received-text queue under a flood of random bytes with ANSI and
// UTF-8 display on (a real reader thread against a slower view).
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "terminal/AnsiParser.h"
#include "terminal/ReceivedTextQueue.h"
#include "text/LineStore.h"
#include "text/Utf8Decoder.h"

namespace {

std::string Mark(CTextStyle style)
{
    std::string mark;
    CAnsiParser::AppendStyleMark(style, mark);
    return mark;
}

CTextStyle Fg(uint32_t colour) { return CTextStyle().SetForeground(colour); }
constexpr uint32_t Index(uint8_t n) { return CTextStyle::IndexedColour(n); }
constexpr uint32_t Rgb(uint32_t rgb) { return CTextStyle::RgbColour(rgb); }

// Applies a slice to a store as the terminal view does: text goes in, a
// style mark sets the style of what follows, a Backspace left in the slice
// removes the last character.
void ApplySlice(const std::string& slice, CLineStore& store)
{
    for (std::size_t i = 0; i < slice.size();) {
        const std::size_t special = std::min(slice.find_first_of("\x01\b", i), slice.size());
        store.Append(std::string_view(slice).substr(i, special - i));
        i = special;
        if (i < slice.size() && slice[i] == '\b') {
            store.EraseLastChar();
            ++i;
        } else if (i < slice.size()) {
            store.SetStyle(CAnsiParser::ReadStyleMark(std::string_view(slice).substr(i)));
            i = std::min(slice.size(), i + CAnsiParser::kStyleMarkSize);
        }
    }
}

std::string ParseInPieces(const std::string& bytes, std::size_t piece)
{
    CAnsiParser parser;
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += piece)
        parser.Parse(bytes.data() + i, std::min(piece, bytes.size() - i), out);
    return out;
}

bool IsValidUtf8(const std::string& s)
{
    CUtf8Decoder check;
    std::string out;
    check.Decode(s.data(), s.size(), out);
    check.Flush(out);
    return out == s;
}

} // namespace

TEST(AnsiParser, SgrAndEraseGiveTheSameMarksWhereverTheStreamIsCut)
{
    const std::string stream = "\x1b[1;31mred\x1b[0m ok \x1b[38;5;208mamber\x1b[m"
                               "\x1b[38;2;255;0;0mtrue\x1b[39m|\x1b[32;1mg\x1b[22m"
                               "\x1b[2J\x1b[H\x1b]0;title\x07\x1b(B\x1b[?25l\x1b]8;;x\x1b\\\x1b[Kz\x1b[2Kend\x1b[30mk"
                               "\x1b[48;2;0;0;128;38;2;1;2;3;1mbg\x1b[7;44mi\x1b[27;49;103mj\x1b[48;5;17m\x1b[0mk";
    const CTextStyle rgbBold = Fg(Rgb(0x010203)).SetBackground(Rgb(0x000080)).SetBold(true);
    const std::string expected =
        Mark(Fg(Index(9)).SetBold(true)) + "red" + Mark({}) + " ok " + Mark(Fg(Index(208))) + "amber" + Mark({}) +
        Mark(Fg(Rgb(0xFF0000))) + "true" + Mark({}) + "|" + Mark(Fg(Index(10)).SetBold(true)) + "g" +
        Mark(Fg(Index(2))) + "z" + CAnsiParser::kClearLineMark + "end" + Mark(Fg(Index(0))) + "k" + Mark(rgbBold) +
        "bg" + Mark(CTextStyle(rgbBold).SetInverse(true).SetBackground(Index(4))) + "i" +
        Mark(CTextStyle(rgbBold).SetBackground(Index(11))) + "j" +
        Mark(CTextStyle(rgbBold).SetBackground(Index(17))) + Mark({}) + "k";
    for (std::size_t piece = 1; piece <= stream.size(); ++piece)
        ASSERT_EQ(ParseInPieces(stream, piece), expected) << "pieces of " << piece;
}

TEST(AnsiParser, OutOfRangeAndMalformedParametersNeitherOverflowNorShow)
{
    EXPECT_EQ(ParseInPieces("\x1b[38;5;99999999999999999999m1\x1b[38;2;300;-1m2\x1b[;;;;;;;;;;;;;;;;;;;;;;;;;31m3"
                            "\x1b[48;2;999;0;256m4\x1b[48;5m5",
                            1),
              Mark(Fg(Index(255))) + "1" + "2" + Mark(Fg(Index(1))) + "3" +
                  Mark(Fg(Index(1)).SetBackground(Rgb(0xFF00FF))) + "45");
    // The colon forms: with and without a colour space; a group that makes no
    // sense is skipped alone and the parameters after it still count.
    EXPECT_EQ(ParseInPieces("\x1b[38:2::1:2:3mx\x1b[48:2:4:5:6;1my\x1b[38:5:17m\x1b[38:2:9;31mz", 1),
              Mark(Fg(Rgb(0x010203))) + "x" + Mark(Fg(Rgb(0x010203)).SetBackground(Rgb(0x040506)).SetBold(true)) +
                  "y" + Mark(Fg(Index(17)).SetBackground(Rgb(0x040506)).SetBold(true)) +
                  Mark(Fg(Index(9)).SetBackground(Rgb(0x040506)).SetBold(true)) + "z");
    EXPECT_EQ(ParseInPieces("a\x1b[12\x1b[31mb", 1), "a" + Mark(Fg(Index(1))) + "b"); // a sequence cut short by a new one
    EXPECT_EQ(ParseInPieces("a\x1b[1\n2m", 1), "a\n"); // a line break inside a sequence is kept
}

// Styles set by sequences cut anywhere across reads, and slices taken in any
// size, give the store the same runs: no mark is cut, shown as text or taken
// apart by a Backspace after it.
TEST(AnsiDisplay, StylesReachTheStoreAsRunsWhereverReadsAndSlicesAreCut)
{
    static_assert(CAnsiParser::kStyleMark == '\x01');
    const std::string stream = "a\x1b[1;38;2;10;20;30;48;2;200;0;0mbold!\x1b[7;31m\bi\x1b[0mz";
    const CTextStyle bold = Fg(Rgb(0x0A141E)).SetBackground(Rgb(0xC80000)).SetBold(true);
    const CTextStyle inverse = CTextStyle(bold).SetForeground(Index(9)).SetInverse(true);
    const std::vector<CTextStyle> expected{{}, bold, bold, bold, bold, inverse, {}};
    for (std::size_t cut1 = 1; cut1 < stream.size(); ++cut1)
        for (std::size_t cut2 = cut1; cut2 < stream.size(); ++cut2)
            for (const std::size_t sliceSize : {1, 7, 17, 18, 64}) {
                CReceivedTextQueue queue;
                queue.SetShowAnsi(true);
                for (const auto& chunk : {stream.substr(0, cut1), stream.substr(cut1, cut2 - cut1), stream.substr(cut2)})
                    queue.AppendReceivedText(chunk.c_str());
                CLineStore store;
                std::string slice;
                for (bool left = true; left;) {
                    left = queue.Take(sliceSize, slice);
                    ApplySlice(slice, store);
                }
                ASSERT_EQ(store.Text(), "aboldiz") << cut1 << " " << cut2 << " " << sliceSize;
                for (std::size_t i = 0; i < expected.size(); ++i)
                    ASSERT_EQ(store.StyleAt(i), expected[i]) << "char " << i << " cuts " << cut1 << " " << cut2;
            }
}

TEST(AnsiDisplay, RandomFloodStaysBoundedAndNeverShowsEscapesOrBrokenCharactersOrMarks)
{
    constexpr std::size_t kBound = 16 << 10, kTotal = 4 << 20;
    CReceivedTextQueue queue(kBound);
    queue.SetShowAnsi(true);
    queue.SetShowUtf8(true);
    std::atomic<bool> fed{false};
    std::thread reader([&] {
        std::mt19937 random(22);
        const char pieces[][8] = {"\x1b[", "31m", ";", "38;5;", "48;2;", "1;7m", "0m", "\x1b]",
                                  "\x07",  "\xC3", "\xA9", "\r", "\n", "\b", "\x1b"};
        char chunk[101];
        for (std::size_t sent = 0; sent < kTotal;) {
            std::size_t n = 0;
            const std::size_t size = 1 + random() % 100;
            while (n < size) {
                if (random() % 3 == 0) {
                    const char* piece = pieces[random() % std::size(pieces)];
                    for (; *piece && n < size; ++piece)
                        chunk[n++] = *piece;
                } else if (const char c = static_cast<char>(random() % 256)) {
                    chunk[n++] = c;
                }
            }
            chunk[n] = '\0';
            queue.AppendReceivedText(chunk); // waits while the bound is reached
            sent += n;
        }
        fed = true;
    });
    std::string slice, last;
    std::size_t largest = 0, shown = 0;
    bool ok = true;
    for (;;) {
        const bool done = fed.load();
        largest = std::max(largest, queue.Waiting());
        while (queue.Take(4096, slice)) {
            ok = ok && IsValidUtf8(slice) && slice.find('\x1b') == std::string::npos;
            for (std::size_t i = slice.find(CAnsiParser::kStyleMark); ok && i != std::string::npos;
                 i = slice.find(CAnsiParser::kStyleMark, i + 1))
                for (std::size_t k = 1; ok && k < CAnsiParser::kStyleMarkSize; ++k)
                    ok = i + k < slice.size() && std::isxdigit(static_cast<unsigned char>(slice[i + k]));
            shown += slice.size();
        }
        ok = ok && IsValidUtf8(slice) && slice.find('\x1b') == std::string::npos;
        shown += slice.size();
        if (done && queue.Waiting() == 0)
            break;
        std::this_thread::yield();
    }
    reader.join();
    EXPECT_TRUE(ok) << "an escape, a broken character or a cut mark reached the view";
    EXPECT_LE(largest, kBound + 4 * 100); // a chunk may grow (U+FFFD) past the bound once
    EXPECT_GT(shown, kTotal / 4);

    // The stream's state after the flood: a complete sequence still takes effect.
    queue.SetShowAnsi(false);
    queue.SetShowAnsi(true);
    queue.AppendReceivedText("\x1b[31mX");
    queue.Take(4096, slice);
    EXPECT_EQ(slice.substr(slice.size() - CAnsiParser::kStyleMarkSize - 1), Mark(Fg(Index(1))) + "X");
}
