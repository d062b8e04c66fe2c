// Received-text shaping: any bytes, cut into any chunks. The shown text must
// not depend on where the chunks were cut, whatever the pane had already
// shown, and contains no CR.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FuzzInput.h"
#include "terminal/TerminalText.h"

namespace {

// Applies the Backspaces that lead a fresh piece to text already shown, as
// the pane does: one character of the current line each, never a line break.
void ApplyToShown(std::string& shown, const std::string& piece)
{
    std::size_t i = 0;
    for (; i < piece.size() && piece[i] == '\b'; ++i)
        if (!shown.empty() && shown.back() != '\n')
            shown.pop_back();
    shown.append(piece, i, std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFuzzInput in(data, size);
    const uint8_t cut = in.Byte();
    // The engine hands on NUL-free text (NUL ends a C string here).
    std::string stream = in.Rest();
    for (char& c : stream)
        if (c == '\0')
            c = '.';

    CTerminalText whole;
    std::string all;
    whole.Append(stream.c_str(), all);

    // The same bytes in chunks, each shown at once (shownUpTo = all so far).
    CTerminalText chunked;
    std::string shown;
    std::size_t pos = 0, step = 0;
    while (pos < stream.size()) {
        const std::size_t n = std::min<std::size_t>(stream.size() - pos, 1 + ((cut + step * 7) % 13));
        std::string piece;
        chunked.Append(stream.substr(pos, n).c_str(), piece, 0);
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
