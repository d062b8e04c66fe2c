#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "terminal/ReceivedTextQueue.h"
#include "terminal/TerminalText.h"

TEST(TerminalText, LineEndsBecomeOneBreakAcrossChunks)
{
    const struct {
        std::vector<const char*> chunks;
        const char* shown;
    } cases[] = {
        {{"a\r\nb"}, "a\nb"},
        {{"a\r", "\nb"}, "a\nb"},        // CR LF split between two chunks
        {{"a\nb"}, "a\nb"},              // lone LF
        {{"a\rb"}, "a\nb"},              // lone CR
        {{"AT\r", "\r\nOK\r\n"}, "AT\nOK\n"}, // modem echo then answer
        {{"a\r\r\rb"}, "a\nb"},          // a run of CRs
        {{"a\n\nb"}, "a\n\nb"},          // an empty line stays
        {{"a\r\n\r\nb"}, "a\n\nb"},
        {{"\t.\v\f"}, "\t.\v\f"},        // nothing else is touched
        {{"a\r", ""}, "a"},              // the break waits for the next byte
        {{""}, ""},
    };
    for (const auto& c : cases) {
        CTerminalText text;
        std::string out;
        for (const char* chunk : c.chunks)
            text.Append(chunk, out);
        EXPECT_EQ(out, c.shown);
    }
}

TEST(TerminalText, ResetForgetsAPendingCr)
{
    CTerminalText text;
    std::string out;
    text.Append("a\r", out);
    text.Reset();
    text.Append("b", out);
    EXPECT_EQ(out, "ab");
}

namespace {

// Plays the terminal pane on the real queue: received chunks are shaped into
// the queue, and Show takes a slice of at most `slice` bytes into the
// document the way the pane does, applying a leading Backspace to the
// document's current line.
struct SPaneModel {
    CReceivedTextQueue queue;
    std::string document;

    void Receive(const char* chunk) { queue.AppendReceivedText(chunk); }
    void Show(std::size_t slice = std::string::npos)
    {
        std::string batch;
        queue.Take(slice, batch);
        std::size_t erase = batch.find_first_not_of('\b');
        if (erase == std::string::npos)
            erase = batch.size();
        for (std::size_t i = 0; i < erase && !document.empty() && document.back() != '\n'; ++i)
            document.pop_back();
        document += batch.substr(erase);
    }
};

constexpr const char* kShow = nullptr; // the pane shows what is pending

} // namespace

TEST(TerminalText, BackspaceRemovesThePreviousCharacterOfTheLine)
{
    const struct {
        std::vector<const char*> chunks;
        const char* shown;
    } cases[] = {
        {{"abc", "\bd"}, "abd"},                     // BS at chunk start
        {{"abc", kShow, "\bd"}, "abd"},              // ... of a character already shown
        {{"ab\b\bc"}, "c"},
        {{"abc\b \b"}, "ab"},                        // the usual erase: BS, space, BS
        {{"\t\bx"}, "x"},
        {{"\b\bz"}, "z"},                            // nothing to remove
        {{"a\r\n", "\bb"}, "a\nb"},                  // never a line break
        {{"a\r\n", kShow, "\bb"}, "a\nb"},
        {{"a\r", "\bb"}, "a\nb"},                    // a CR's break comes first
        {{"a\r", kShow, "\b", kShow, "b"}, "a\nb"},
        {{"x\nab", "\b\b\b\b\bc"}, "x\nc"},           // a run longer than the line
        {{"x\nab", kShow, "\b\b\b\b\bc"}, "x\nc"},
        {{"ab", kShow, "c\b\b\b\b"}, ""},             // partly pending, partly shown
        {{"ab", kShow, "\b", kShow, "\b", kShow, "\bc"}, "c"},
    };
    for (const auto& c : cases) {
        SPaneModel pane;
        for (const char* chunk : c.chunks) {
            if (chunk == kShow)
                pane.Show();
            else
                pane.Receive(chunk);
        }
        pane.Show();
        EXPECT_EQ(pane.document, c.shown) << "after " << c.chunks.size() << " steps";
    }
}

// However a stream is cut into chunks, and however the pane takes it in
// slices, it shows the same text as when it arrives whole.
TEST(TerminalText, ChunkAndSliceBoundariesDoNotChangeWhatIsShown)
{
    std::mt19937 random(12);
    const char alphabet[] = {'a', 'b', '\r', '\n', '\b', '\b', '\t'};
    for (int round = 0; round < 500; ++round) {
        std::string stream;
        for (int i = std::uniform_int_distribution<int>(1, 60)(random); i > 0; --i)
            stream += alphabet[std::uniform_int_distribution<int>(0, sizeof alphabet - 1)(random)];

        SPaneModel whole;
        whole.Receive(stream.c_str());
        whole.Show();

        SPaneModel cut;
        for (std::size_t at = 0; at < stream.size();) {
            const std::size_t n = std::uniform_int_distribution<std::size_t>(1, 8)(random);
            cut.Receive(stream.substr(at, n).c_str());
            at += n;
            if (random() % 2)
                cut.Show(std::uniform_int_distribution<std::size_t>(1, 6)(random));
        }
        cut.Show();
        ASSERT_EQ(cut.document, whole.document) << "round " << round;
    }
}
