#include "terminal/AnsiParser.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

int HexValue(char c) { return c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= '0' && c <= '9' ? c - '0' : 0; }

} // namespace

void CAnsiParser::Reset()
{
    m_state = EState::Text;
    m_paramCount = 0;
    m_private = false;
    m_style = CTextStyle();
    m_shown = CTextStyle();
}

void CAnsiParser::AppendStyleMark(CTextStyle style, std::string& out)
{
    out += kStyleMark;
    for (int shift = 60; shift >= 0; shift -= 4)
        out += kHex[(style.Bits() >> shift) & 15];
}

CTextStyle CAnsiParser::ReadStyleMark(std::string_view text)
{
    uint64_t bits = 0;
    for (std::size_t i = 1; i < kStyleMarkSize; ++i)
        bits = bits << 4 | static_cast<uint64_t>(i < text.size() ? HexValue(text[i]) : 0);
    return CTextStyle::FromBits(bits);
}

void CAnsiParser::Parse(const char* data, std::size_t n, std::string& out)
{
    for (std::size_t i = 0; i < n; ++i) {
        const char c = data[i];
        switch (m_state) {
        case EState::Text: {
            if (c == '\x1b') {
                m_state = EState::Escape;
                break;
            }
            // A run of text goes over in one piece.
            const void* escape = std::memchr(data + i, '\x1b', n - i);
            const std::size_t end = escape ? static_cast<std::size_t>(static_cast<const char*>(escape) - data) : n;
            out.append(data + i, end - i);
            i = end - 1;
            break;
        }
        case EState::Escape:
            if (c == '[') {
                m_state = EState::Csi;
                m_paramCount = 0;
                m_private = false;
            } else if (c == ']' || c == 'P' || c == '_' || c == '^' || c == 'X') {
                m_state = EState::String; // OSC, DCS, APC, PM, SOS: up to BEL or ST
            } else if (c >= 0x20 && c <= 0x2F) {
                m_state = EState::EscapeIntermediate; // ESC ( B and the like
            } else if (c == '\x1b') {
                // ESC ESC: the first is dropped, the second starts afresh.
            } else {
                m_state = EState::Text; // a two-byte sequence (ESC 7, ESC M, ...) or a stray ESC
            }
            break;
        case EState::EscapeIntermediate:
            if (c == '\x1b')
                m_state = EState::Escape;
            else if (c < 0x20 || c > 0x2F)
                m_state = EState::Text;
            break;
        case EState::Csi:
            if (c >= '0' && c <= '9') {
                if (m_paramCount == 0)
                    m_params[m_paramCount++] = 0;
                int& p = m_params[m_paramCount - 1];
                p = std::min(p * 10 + (c - '0'), 65535); // no overflow however long
            } else if (c == ';' || c == ':') {
                if (m_paramCount == 0)
                    m_params[m_paramCount++] = 0;
                if (m_paramCount < kMaxParams) {
                    m_joined[m_paramCount] = c == ':';
                    m_params[m_paramCount++] = 0;
                }
            } else if (c == '?' || c == '<' || c == '=' || c == '>') {
                m_private = true;
            } else if (c >= 0x40 && c <= 0x7E) {
                EndCsi(c, out);
                m_state = EState::Text;
            } else if (c == '\x1b') {
                m_state = EState::Escape; // a sequence cut short by a new one
            } else if (c == '\n' || c == '\r' || c == '\b' || c == '\t') {
                // Terminals act on controls inside a sequence; the line break is kept.
                out += c;
            } else if (c < 0x20 || static_cast<unsigned char>(c) >= 0x80) {
                m_state = EState::Text; // not a sequence after all
                out += c;
            }
            // intermediate bytes 0x20..0x2F: part of the sequence
            break;
        case EState::String:
            if (c == '\x07')
                m_state = EState::Text;
            else if (c == '\x1b')
                m_state = EState::StringEscape;
            break;
        case EState::StringEscape:
            m_state = c == '\\' ? EState::Text : EState::String;
            if (c == '\x1b')
                m_state = EState::StringEscape;
            break;
        }
    }
}

void CAnsiParser::EndCsi(char final, std::string& out)
{
    if (m_private)
        return;
    if (final == 'm') {
        ApplySgr();
        const CTextStyle style = Style();
        if (style != m_shown) {
            m_shown = style;
            AppendStyleMark(style, out);
        }
    } else if (final == 'K') {
        // The caret is always at the end of the text, so erasing to the end
        // (ESC [ K) changes nothing; erasing to the caret or all of the
        // line clears the line.
        const int mode = m_paramCount ? m_params[0] : 0;
        if (mode == 1 || mode == 2)
            out += kClearLineMark;
    }
}

void CAnsiParser::ApplySgr()
{
    if (m_paramCount == 0) {
        m_style = CTextStyle();
        return;
    }
    for (int i = 0; i < m_paramCount; ++i) {
        const int p = m_params[i];
        if (p == 0)
            m_style = CTextStyle();
        else if (p == 1 || p == 22)
            m_style.SetBold(p == 1);
        else if (p == 7 || p == 27)
            m_style.SetInverse(p == 7);
        else if (p >= 30 && p <= 37)
            m_style.SetForeground(CTextStyle::IndexedColour(static_cast<uint8_t>(p - 30)));
        else if (p >= 90 && p <= 97)
            m_style.SetForeground(CTextStyle::IndexedColour(static_cast<uint8_t>(p - 90 + 8)));
        else if (p == 39)
            m_style.SetForeground(CTextStyle::kDefaultColour);
        else if (p >= 40 && p <= 47)
            m_style.SetBackground(CTextStyle::IndexedColour(static_cast<uint8_t>(p - 40)));
        else if (p >= 100 && p <= 107)
            m_style.SetBackground(CTextStyle::IndexedColour(static_cast<uint8_t>(p - 100 + 8)));
        else if (p == 49)
            m_style.SetBackground(CTextStyle::kDefaultColour);
        else if (p == 38 || p == 48) {
            uint32_t colour = 0;
            const EExtended read = ExtendedColour(i, colour);
            if (read == EExtended::Malformed)
                break; // the rest of the list means nothing
            if (read == EExtended::Skipped)
                continue;
            if (p == 38)
                m_style.SetForeground(colour);
            else
                m_style.SetBackground(colour);
        }
    }
}

CAnsiParser::EExtended CAnsiParser::ExtendedColour(int& i, uint32_t& colour) const
{
    auto level = [this](int at) { return static_cast<uint32_t>(std::clamp(m_params[at], 0, 255)); };
    auto rgb = [&](int at) { return CTextStyle::RgbColour(level(at) << 16 | level(at + 1) << 8 | level(at + 2)); };
    int parts = 0; // the colon form's parts after the 38 or 48
    while (i + 1 + parts < m_paramCount && m_joined[i + 1 + parts])
        ++parts;
    if (parts > 0) {
        // One group, so a group that makes no sense is skipped alone. The
        // direct colour may carry a colour-space field first (ITU T.416).
        const int kind = m_params[i + 1];
        const int first = i + 2;
        i += parts;
        if (kind == 5 && parts >= 2)
            colour = CTextStyle::IndexedColour(static_cast<uint8_t>(level(first)));
        else if (kind == 2 && parts >= 5)
            colour = rgb(first + 1);
        else if (kind == 2 && parts == 4)
            colour = rgb(first);
        else
            return EExtended::Skipped;
        return EExtended::Colour;
    }
    if (i + 2 < m_paramCount && m_params[i + 1] == 5) {
        colour = CTextStyle::IndexedColour(static_cast<uint8_t>(level(i + 2)));
        i += 2;
        return EExtended::Colour;
    }
    if (i + 4 < m_paramCount && m_params[i + 1] == 2) {
        colour = rgb(i + 2);
        i += 4;
        return EExtended::Colour;
    }
    return EExtended::Malformed;
}

CTextStyle CAnsiParser::Style() const
{
    CTextStyle style = m_style;
    // Bold brightens the eight basic colours, as xterm shows them.
    const uint32_t foreground = style.Foreground();
    if (style.Bold() && foreground >= CTextStyle::IndexedColour(0) && foreground <= CTextStyle::IndexedColour(7))
        style.SetForeground(foreground + 8);
    return style;
}
