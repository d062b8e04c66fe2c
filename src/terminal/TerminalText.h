#pragma once

#include <cstddef>
#include <string>

// Turns received chunks into the text the terminal pane shows: CR LF, a lone
// CR and a lone LF each become one line break, also when a CR ends one chunk
// and its LF begins the next; a run of CRs before an LF (a modem's echo
// "AT\r" followed by "\r\nOK") is one break too. A CR's break is shown when
// the byte after it arrives. A Backspace removes the previous character of
// the current line, as a terminal does: at the start of a line it does
// nothing, and it never removes a line break. Nothing else is changed.
class CTerminalText {
public:
    // Appends the shown form of chunk to out. out[0, shownUpTo) has already
    // gone to the pane and is never changed: a Backspace that reaches back
    // there stays in out as '\b', for the pane to apply to its own text by
    // the same rule. Such Backspaces only ever lead the text after shownUpTo.
    void Append(const char* chunk, std::string& out, std::size_t shownUpTo = 0);
    void Reset() { m_crPending = false; }
    // With ANSI display a lone CR returns to the start of the line, as on a
    // terminal: it becomes CAnsiParser::kClearLineMark (progress lines
    // rewrite themselves) instead of a line break.
    void SetCrClearsLine(bool on) { m_crClearsLine = on; }

private:
    static void Erase(std::string& out, std::size_t shownUpTo);

    bool m_crPending = false; // a CR arrived; its line break waits for the next byte
    bool m_crClearsLine = false;
};
