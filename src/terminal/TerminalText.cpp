#include "terminal/TerminalText.h"

void CTerminalText::Append(const char* chunk, std::string& out, std::size_t shownUpTo)
{
    for (const char* p = chunk; *p; ++p) {
        const char ch = *p;
        if (ch == '\r') {
            // A carriage return becomes a line break once the next byte shows
            // it was not the start of CR LF; a run of CRs is one break.
            m_crPending = true;
            continue;
        }
        if (m_crPending && ch != '\n')
            out += '\n';
        m_crPending = false;
        if (ch == '\b')
            Erase(out, shownUpTo);
        else
            out += ch;
    }
}

void CTerminalText::Erase(std::string& out, std::size_t shownUpTo)
{
    if (out.size() > shownUpTo && out.back() != '\b') {
        if (out.back() != '\n') // at the start of a line a Backspace does nothing
            out.pop_back();
        return;
    }
    // The character it removes, if any, is already in the pane.
    out += '\b';
}
