// Received-text shaping: any bytes, cut into any chunks. The shown text must
// not depend on where the chunks were cut, whatever the pane had already
// shown, and contains no CR.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FuzzInput.h"
#include "terminal/TerminalText.h"

namespace {

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Applies the Backspaces that lead a fresh piece to text already shown, as
// the pane does: one character of the current line each (its UTF-8
// continuation bytes and its first byte), never a line break.
void ApplyToShown(std::string& shown, const std::string& piece)
{
    std::size_t i = 0;
    for (; i < piece.size() && piece[i] == '\b'; ++i) {
        while (!shown.empty() && IsContinuation(shown.back()))
            shown.pop_back();
        if (!shown.empty() && shown.back() != '\n')
            shown.pop_back();
    }
    shown.append(piece, i, std::string::npos);
}

// One received byte as the queue hands it to the shaping: the engine keeps
// printable ASCII and BS..CR, shows other control bytes as '.', and bytes
// above 0x7F arrive as one character each (UTF-8 encoded).
std::string AsQueued(unsigned char b)
{
    if ((b >= 0x20 && b <= 0x7E) || (b >= 0x08 && b <= 0x0D))
        return std::string(1, char(b));
    if (b < 0x80)
        return ".";
    return {char(0xC0 | (b >> 6)), char(0x80 | (b & 0x3F))};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFuzzInput in(data, size);
    const uint8_t cut = in.Byte();
    std::vector<std::string> chars;
    std::string stream;
    for (unsigned char b : in.Rest()) {
        chars.push_back(AsQueued(b));
        stream += chars.back();
    }

    CTerminalText whole;
    std::string all;
    whole.Append(stream.c_str(), all);

    // The same characters in chunks (never inside a character, as the queue
    // cuts), each shown at once.
    CTerminalText chunked;
    std::string shown;
    std::size_t pos = 0, step = 0;
    while (pos < chars.size()) {
        const std::size_t n = std::min<std::size_t>(chars.size() - pos, 1 + ((cut + step * 7) % 13));
        std::string chunk, piece;
        for (std::size_t k = pos; k < pos + n; ++k)
            chunk += chars[k];
        chunked.Append(chunk.c_str(), piece, 0);
        ApplyToShown(shown, piece);
        pos += n;
        ++step;
    }
    std::string wholeShown;
    ApplyToShown(wholeShown, all);
    FUZZ_CHECK(shown == wholeShown);
    FUZZ_CHECK(wholeShown.find('\r') == std::string::npos);
    return 0;
}
