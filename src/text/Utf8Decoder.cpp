#include "text/Utf8Decoder.h"

namespace {

// The length of the sequence a lead byte starts; 0 for a byte that never leads.
int SequenceLength(unsigned char b)
{
    if (b >= 0xC2 && b <= 0xDF)
        return 2;
    if (b >= 0xE0 && b <= 0xEF)
        return 3;
    if (b >= 0xF0 && b <= 0xF4)
        return 4;
    return 0;
}

// Whether b may be the second byte after lead: the narrower ranges rule out
// overlong forms, surrogates and values past U+10FFFF.
bool SecondByteFits(unsigned char lead, unsigned char b)
{
    switch (lead) {
    case 0xE0: return b >= 0xA0 && b <= 0xBF;
    case 0xED: return b >= 0x80 && b <= 0x9F;
    case 0xF0: return b >= 0x90 && b <= 0xBF;
    case 0xF4: return b >= 0x80 && b <= 0x8F;
    default: return b >= 0x80 && b <= 0xBF;
    }
}

} // namespace

void CUtf8Decoder::Decode(const char* data, std::size_t n, std::string& out)
{
    for (std::size_t i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        if (m_have > 0) {
            const bool fits = m_have == 1 ? SecondByteFits(m_seq[0], b) : (b >= 0x80 && b <= 0xBF);
            if (fits) {
                m_seq[m_have++] = b;
                if (m_have == m_need) {
                    out.append(reinterpret_cast<const char*>(m_seq), static_cast<std::size_t>(m_need));
                    m_have = 0;
                }
                continue;
            }
            // The sequence broke off: one replacement for it, and this byte starts afresh.
            out += kReplacement;
            m_have = 0;
        }
        if (b < 0x80) {
            // A run of ASCII goes over in one piece.
            std::size_t end = i + 1;
            while (end < n && static_cast<unsigned char>(data[end]) < 0x80)
                ++end;
            out.append(data + i, end - i);
            i = end - 1;
        } else if (const int length = SequenceLength(b)) {
            m_seq[0] = b;
            m_have = 1;
            m_need = length;
        } else {
            out += kReplacement;
        }
    }
}

void CUtf8Decoder::Flush(std::string& out)
{
    if (m_have > 0)
        out += kReplacement;
    m_have = 0;
}
