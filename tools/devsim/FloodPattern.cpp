#include "devsim/DevSim.h"

// 80-character lines (78 printable characters, CR, LF) whose characters
// shift by one each line, so that a lost or repeated byte shows.
char CDevSim::FloodByte(std::size_t pos)
{
    constexpr std::size_t kLineLength = 80;
    const std::size_t column = pos % kLineLength;
    if (column == kLineLength - 2)
        return '\r';
    if (column == kLineLength - 1)
        return '\n';
    return static_cast<char>('!' + (pos / kLineLength + column) % 94);
}
