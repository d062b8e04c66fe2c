#include "terminal/TerminalText.h"

#include <cstring>

#include "terminal/AnsiParser.h"

void CTerminalText::Append(const char* chunk, std::string& out, std::size_t shownUpTo)
{
    const char* p = chunk;
    while (*p) {
        if (m_crPending) {
            // A carriage return becomes a line break once the next byte shows
            // it was not the start of CR LF; a run of CRs is one break.
            if (*p == '\r') {
                ++p;
                continue;
            }
            if (*p != '\n')
                out += m_crClearsLine ? CAnsiParser::kClearLineMark : '\n';
            m_crPending = false;
        }
        // Everything up to the next CR or Backspace goes over as it is, in one piece.
        const std::size_t run = std::strcspn(p, "\r\b");
        // (ANSI marks go over as text: a Backspace after one is left to the view.)
        out.append(p, run);
        p += run;
        if (*p == '\r') {
            m_crPending = true;
            ++p;
        } else if (*p == '\b') {
            Erase(out, shownUpTo);
            ++p;
        }
    }
}

void CTerminalText::Erase(std::string& out, std::size_t shownUpTo)
{
    const char last = out.empty() ? '\0' : out.back();
    const std::size_t markSize = CAnsiParser::kStyleMarkSize;
    const bool afterMark = out.size() >= markSize && out[out.size() - markSize] == CAnsiParser::kStyleMark;
    if (out.size() > shownUpTo && last != '\b' && !afterMark) {
        if (last == '\n' || last == CAnsiParser::kClearLineMark) // at the start of a line a Backspace does nothing
            return;
        // The whole character: its UTF-8 continuation bytes and its first byte.
        std::size_t first = out.size() - 1;
        while (first > shownUpTo && (static_cast<unsigned char>(out[first]) & 0xC0) == 0x80)
            --first;
        out.erase(first);
        return;
    }
    // The character it removes, if any, is already in the pane.
    out += '\b';
}
