// ANSI display: the escape-sequence parser on streams cut at every byte,
// and the received-text queue under a flood of random bytes with ANSI and
// UTF-8 display on (a real reader thread against a slower view).
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "terminal/AnsiParser.h"
#include "terminal/ReceivedTextQueue.h"
#include "text/Utf8Decoder.h"

namespace {

std::string Mark(const char* hex) { return std::string(1, CAnsiParser::kAttributeMark) + hex; }

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
                               "\x1b[2J\x1b[H\x1b]0;title\x07\x1b(B\x1b[?25l\x1b]8;;x\x1b\\\x1b[Kz\x1b[2Kend\x1b[30mk";
    const std::string expected = Mark("09") + "red" + Mark("00") + " ok " + Mark("D0") + "amber" + Mark("00") +
                                 Mark("C4") + "true" + Mark("00") + "|" + Mark("0A") + "g" + Mark("02") + "z" +
                                 CAnsiParser::kClearLineMark + "end" + Mark("10") + "k";
    for (std::size_t piece = 1; piece <= stream.size(); ++piece)
        ASSERT_EQ(ParseInPieces(stream, piece), expected) << "pieces of " << piece;
}

TEST(AnsiParser, OutOfRangeAndMalformedParametersNeitherOverflowNorShow)
{
    EXPECT_EQ(ParseInPieces("\x1b[38;5;99999999999999999999m1\x1b[38;2;300;-1m2\x1b[;;;;;;;;;;;;;;;;;;;;;;;;;31m3", 1),
              Mark("FF") + "1" + "2" + Mark("01") + "3");
    EXPECT_EQ(ParseInPieces("a\x1b[12\x1b[31mb", 1), "a" + Mark("01") + "b"); // a sequence cut short by a new one
    EXPECT_EQ(ParseInPieces("a\x1b[1\n2m", 1), "a\n"); // a line break inside a sequence is kept
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
        const char pieces[][8] = {"\x1b[", "31m", ";", "38;5;", "\x1b]", "\x07", "\xC3", "\xA9", "\r", "\n", "\b", "\x1b"};
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
            for (std::size_t i = slice.find(CAnsiParser::kAttributeMark); ok && i != std::string::npos;
                 i = slice.find(CAnsiParser::kAttributeMark, i + 1))
                ok = i + 2 < slice.size() && std::isxdigit(static_cast<unsigned char>(slice[i + 1])) &&
                     std::isxdigit(static_cast<unsigned char>(slice[i + 2]));
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
    EXPECT_EQ(slice.substr(slice.size() - 4), Mark("01") + "X");
}
