#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Takes the escape sequences out of received text for View > ANSI Colours.
// SGR sequences (colours 16, 256 and 24-bit, bold, reset) change the current
// attribute, which goes into the text as kAttributeMark and two hex digits;
// erase of the whole line (ESC [ 1 K, ESC [ 2 K) becomes kClearLineMark;
// every other sequence (cursor moves, OSC titles, charset selections) is
// consumed without a trace. A sequence cut across chunks is held until it
// completes, so none shows as text; held state is bounded whatever arrives.
//
// The attribute is an xterm 256-colour index for the foreground, 0 for the
// default colour (black, index 0, is written as its twin 16). Bold shows as
// the bright variant of the eight basic colours; 24-bit colours take the
// nearest index. Backgrounds are not shown.
class CAnsiParser {
public:
    static constexpr char kAttributeMark = '\x01';
    static constexpr char kClearLineMark = '\x02';

    void Parse(const char* data, std::size_t n, std::string& out);
    // Forgets a sequence in progress and the attribute (Clear Screen, a new opening).
    void Reset();

    // The 24-bit colour of an attribute (0: none, the text colour).
    static uint32_t PaletteRgb(uint8_t attribute);
    // The nearest xterm 256-colour index of a 24-bit colour (16..255).
    static uint8_t NearestIndex(int r, int g, int b);

private:
    enum class EState { Text, Escape, EscapeIntermediate, Csi, String, StringEscape };
    static constexpr int kMaxParams = 16;

    void EndCsi(char final, std::string& out);
    void ApplySgr();
    uint8_t Attribute() const;

    EState m_state = EState::Text;
    int m_params[kMaxParams] = {};
    int m_paramCount = 0;   // parameters begun, at most kMaxParams
    bool m_private = false; // '?', '<', '=' or '>' before the parameters: not SGR or EL
    int m_foreground = -1;  // 256-colour index, -1: default
    bool m_bold = false;
    uint8_t m_shown = 0;    // the attribute last written into the text
};
