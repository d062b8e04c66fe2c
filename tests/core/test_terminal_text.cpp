#include <gtest/gtest.h>

#include <string>
#include <vector>

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
        {{"\t.\b"}, "\t.\b"},            // nothing else is touched
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
