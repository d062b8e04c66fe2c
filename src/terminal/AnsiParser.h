#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "text/TextStyle.h"

// Takes the escape sequences out of received text for View > ANSI Colours.
// SGR sequences (foreground and background in 16, 256 and 24-bit colours,
// bold, inverse, reset) change the current style, which goes into the text
// as a style mark: kStyleMark and the style's 64 bits as 16 hex digits.
// Erase of the whole line (ESC [ 1 K, ESC [ 2 K) becomes kClearLineMark;
// every other sequence (cursor moves, OSC titles, charset selections) is
// consumed without a trace. A sequence cut across chunks is held until it
// completes, so none shows as text; held state is bounded whatever arrives.
//
// Bold is shown in a bold weight and, as xterm does, the eight basic
// foreground colours in their bright variant.
class CAnsiParser {
public:
    static constexpr char kStyleMark = '\x01';
    static constexpr std::size_t kStyleMarkSize = 17; // the mark and 16 hex digits
    static constexpr char kClearLineMark = '\x02';

    void Parse(const char* data, std::size_t n, std::string& out);
    // Forgets a sequence in progress and the style (Clear Screen, a new opening).
    void Reset();

    static void AppendStyleMark(CTextStyle style, std::string& out);
    // The style of the mark at text[0]; digits missing at the end count as 0.
    static CTextStyle ReadStyleMark(std::string_view text);

private:
    enum class EState { Text, Escape, EscapeIntermediate, Csi, String, StringEscape };
    static constexpr int kMaxParams = 16;

    void EndCsi(char final, std::string& out);
    void ApplySgr();
    // Reads 5;n or 2;r;g;b after parameter i (38 or 48), or the colon
    // forms 5:n, 2:r:g:b and 2:space:r:g:b, and moves i past them.
    enum class EExtended { Colour, Skipped, Malformed };
    EExtended ExtendedColour(int& i, uint32_t& colour) const;
    CTextStyle Style() const;

    EState m_state = EState::Text;
    int m_params[kMaxParams] = {};
    int m_paramCount = 0;   // parameters begun, at most kMaxParams
    bool m_joined[kMaxParams] = {}; // the parameter came after ':', a part of the one before
    bool m_private = false; // '?', '<', '=' or '>' before the parameters: not SGR or EL
    CTextStyle m_style;     // as the parameters set it; bold's bright colours are added by Style()
    CTextStyle m_shown;     // the style last written into the text
};
