#pragma once

#include <cstdint>

// How a stretch of text looks: foreground and background colour, bold and
// inverse. Packed into 64 bits, so that a run of the store stays small and a
// style travels in the received text as a fixed number of hex digits. The
// default style (all bits 0) is the view's own colours in the regular weight.
//
// A colour is a 32-bit word: kDefaultColour, an xterm 256-colour index
// (IndexedColour) or a 24-bit RGB value (RgbColour).
class CTextStyle {
public:
    static constexpr uint32_t kDefaultColour = 0;
    static constexpr uint32_t IndexedColour(uint8_t index) { return kIndexed | index; }
    static constexpr uint32_t RgbColour(uint32_t rgb) { return kRgb | (rgb & 0xFFFFFF); }
    // The 24-bit value of a colour other than the default.
    static uint32_t ToRgb(uint32_t colour);
    // The xterm colour of a 256-colour index.
    static uint32_t XtermRgb(uint8_t index);

    constexpr CTextStyle() = default;
    static constexpr CTextStyle FromBits(uint64_t bits) { return CTextStyle(bits); }
    constexpr uint64_t Bits() const { return m_bits; }

    constexpr uint32_t Foreground() const { return static_cast<uint32_t>(m_bits) & kColourMask; }
    constexpr uint32_t Background() const { return static_cast<uint32_t>(m_bits >> 32) & kColourMask; }
    constexpr bool Bold() const { return m_bits & kBold; }
    constexpr bool Inverse() const { return m_bits & kInverse; }
    constexpr CTextStyle& SetForeground(uint32_t colour)
    {
        m_bits = (m_bits & ~uint64_t{kColourMask}) | (colour & kColourMask);
        return *this;
    }
    constexpr CTextStyle& SetBackground(uint32_t colour)
    {
        m_bits = (m_bits & ~(uint64_t{kColourMask} << 32)) | uint64_t{colour & kColourMask} << 32;
        return *this;
    }
    constexpr CTextStyle& SetBold(bool on) { return SetFlag(kBold, on); }
    constexpr CTextStyle& SetInverse(bool on) { return SetFlag(kInverse, on); }

    constexpr bool operator==(const CTextStyle& other) const { return m_bits == other.m_bits; }
    constexpr bool operator!=(const CTextStyle& other) const { return m_bits != other.m_bits; }

private:
    // A colour word: its kind in bits 24..25, the index or RGB value below.
    static constexpr uint32_t kIndexed = 1u << 24;
    static constexpr uint32_t kRgb = 2u << 24;
    static constexpr uint32_t kColourMask = 0x03FFFFFF;
    // The flags sit in the foreground's word above its colour.
    static constexpr uint64_t kBold = 1u << 28;
    static constexpr uint64_t kInverse = 1u << 29;

    explicit constexpr CTextStyle(uint64_t bits) : m_bits(bits) {}
    constexpr CTextStyle& SetFlag(uint64_t flag, bool on)
    {
        m_bits = on ? m_bits | flag : m_bits & ~flag;
        return *this;
    }

    uint64_t m_bits = 0;
};
