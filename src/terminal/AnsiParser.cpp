#include "terminal/AnsiParser.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr int kCubeLevels[6] = {0, 95, 135, 175, 215, 255};

// The xterm colours of indexes 0..15.
constexpr uint32_t kBasic[16] = {0x000000, 0xCD0000, 0x00CD00, 0xCDCD00, 0x0000EE, 0xCD00CD, 0x00CDCD, 0xE5E5E5,
                                 0x7F7F7F, 0xFF0000, 0x00FF00, 0xFFFF00, 0x5C5CFF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

int Clamp255(int v) { return std::clamp(v, 0, 255); }

} // namespace

void CAnsiParser::Reset()
{
    m_state = EState::Text;
    m_paramCount = 0;
    m_private = false;
    m_foreground = -1;
    m_bold = false;
    m_shown = 0;
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
            std::size_t end = i + 1;
            while (end < n && data[end] != '\x1b')
                ++end;
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
                if (m_paramCount < kMaxParams)
                    m_params[m_paramCount++] = 0;
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
        const uint8_t attribute = Attribute();
        if (attribute != m_shown) {
            m_shown = attribute;
            out += kAttributeMark;
            out += kHex[attribute >> 4];
            out += kHex[attribute & 15];
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
        m_foreground = -1;
        m_bold = false;
        return;
    }
    for (int i = 0; i < m_paramCount; ++i) {
        const int p = m_params[i];
        if (p == 0) {
            m_foreground = -1;
            m_bold = false;
        } else if (p == 1) {
            m_bold = true;
        } else if (p == 22) {
            m_bold = false;
        } else if (p >= 30 && p <= 37) {
            m_foreground = p - 30;
        } else if (p >= 90 && p <= 97) {
            m_foreground = p - 90 + 8;
        } else if (p == 39) {
            m_foreground = -1;
        } else if (p == 38 || p == 48) {
            // Extended colour: 5;n or 2;r;g;b. A background is skipped over.
            int colour = -1;
            if (i + 2 < m_paramCount && m_params[i + 1] == 5) {
                colour = std::min(m_params[i + 2], 255);
                i += 2;
            } else if (i + 4 < m_paramCount && m_params[i + 1] == 2) {
                colour = NearestIndex(Clamp255(m_params[i + 2]), Clamp255(m_params[i + 3]), Clamp255(m_params[i + 4]));
                i += 4;
            } else {
                break; // malformed: the rest of the list means nothing
            }
            if (p == 38)
                m_foreground = colour;
        }
    }
}

uint8_t CAnsiParser::Attribute() const
{
    int index = m_foreground;
    if (index < 0)
        return 0;
    if (m_bold && index < 8)
        index += 8;
    return static_cast<uint8_t>(index == 0 ? 16 : index);
}

uint8_t CAnsiParser::NearestIndex(int r, int g, int b)
{
    auto level = [](int v) {
        int best = 0;
        for (int i = 1; i < 6; ++i)
            if (std::abs(kCubeLevels[i] - v) < std::abs(kCubeLevels[best] - v))
                best = i;
        return best;
    };
    const int cube = 16 + 36 * level(r) + 6 * level(g) + level(b);
    const int grey = std::clamp((r + g + b) / 3 - 3, 0, 237) / 10; // 232 + grey: 8 + 10 * grey
    auto distance = [&](uint32_t rgb) {
        const int dr = static_cast<int>(rgb >> 16) - r, dg = static_cast<int>((rgb >> 8) & 255) - g,
                  db = static_cast<int>(rgb & 255) - b;
        return dr * dr + dg * dg + db * db;
    };
    const int greyIndex = 232 + std::min(grey, 23);
    return static_cast<uint8_t>(distance(PaletteRgb(static_cast<uint8_t>(greyIndex))) <
                                        distance(PaletteRgb(static_cast<uint8_t>(cube)))
                                    ? greyIndex
                                    : cube);
}

uint32_t CAnsiParser::PaletteRgb(uint8_t attribute)
{
    if (attribute < 16)
        return kBasic[attribute];
    if (attribute < 232) {
        const int i = attribute - 16;
        return static_cast<uint32_t>(kCubeLevels[i / 36] << 16 | kCubeLevels[(i / 6) % 6] << 8 | kCubeLevels[i % 6]);
    }
    const int v = 8 + 10 * (attribute - 232);
    return static_cast<uint32_t>(v << 16 | v << 8 | v);
}
