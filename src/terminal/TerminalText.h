#pragma once

#include <string>

// Turns received chunks into the text the terminal pane shows: CR LF, a lone
// CR and a lone LF each become one line break, also when a CR ends one chunk
// and its LF begins the next. Nothing else is changed.
class CTerminalText {
public:
    // Appends the shown form of chunk to out.
    void Append(const char* chunk, std::string& out);
    void Reset() { m_lastWasCr = false; }

private:
    bool m_lastWasCr = false;
};
