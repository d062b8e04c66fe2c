#pragma once

#include <string>

// Turns received chunks into the text the terminal pane shows: CR LF, a lone
// CR and a lone LF each become one line break, also when a CR ends one chunk
// and its LF begins the next; a run of CRs before an LF (a modem's echo
// "AT\r" followed by "\r\nOK") is one break too. A CR's break is shown when
// the byte after it arrives. Nothing else is changed.
class CTerminalText {
public:
    // Appends the shown form of chunk to out.
    void Append(const char* chunk, std::string& out);
    void Reset() { m_crPending = false; }

private:
    bool m_crPending = false; // a CR arrived; its line break waits for the next byte
};
