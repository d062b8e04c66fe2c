#include "text/TextStyle.h"

namespace {

constexpr int kCubeLevels[6] = {0, 95, 135, 175, 215, 255};

// The xterm colours of indexes 0..15.
constexpr uint32_t kBasic[16] = {0x000000, 0xCD0000, 0x00CD00, 0xCDCD00, 0x0000EE, 0xCD00CD, 0x00CDCD, 0xE5E5E5,
                                 0x7F7F7F, 0xFF0000, 0x00FF00, 0xFFFF00, 0x5C5CFF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

} // namespace

uint32_t CTextStyle::ToRgb(uint32_t colour)
{
    return (colour & ~0xFFFFFFu) == kIndexed ? XtermRgb(static_cast<uint8_t>(colour)) : colour & 0xFFFFFF;
}

uint32_t CTextStyle::XtermRgb(uint8_t index)
{
    if (index < 16)
        return kBasic[index];
    if (index < 232) {
        const int i = index - 16;
        return static_cast<uint32_t>(kCubeLevels[i / 36] << 16 | kCubeLevels[(i / 6) % 6] << 8 | kCubeLevels[i % 6]);
    }
    const int v = 8 + 10 * (index - 232);
    return static_cast<uint32_t>(v << 16 | v << 8 | v);
}
