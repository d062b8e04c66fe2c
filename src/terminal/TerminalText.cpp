#include "terminal/TerminalText.h"

#include "terminal/TerminalOptions.h"

TerminalOptions& GetTerminalOptions()
{
    static TerminalOptions options;
    return options;
}

void CTerminalText::Append(const char* chunk, std::string& out)
{
    for (const char* p = chunk; *p; ++p) {
        const char ch = *p;
        if (ch == '\n' && m_lastWasCr) {
            m_lastWasCr = false; // the LF of a CR LF pair: the break is shown already
            continue;
        }
        m_lastWasCr = ch == '\r';
        out += (ch == '\r') ? '\n' : ch;
    }
}
