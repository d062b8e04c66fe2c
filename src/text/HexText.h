#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Bytes written as hex, both ways: the hex dump rows of the hex view and
// the hex text the user types to send bytes.

// What hex text typed by the user stands for. On refusal `error` names the
// first fault and `position` (1-based, in characters of the text) where it
// is; `bytes` is then empty.
struct SHexParse {
    bool ok = false;
    std::string bytes;
    std::string error;
    std::size_t position = 0;
};

// Pairs of hex digits, either case, with or without white space between the
// pairs ("48 65 6C 6c 6F", "48656C6C6F"). A lone digit (an odd count of
// digits between two spaces), a character that is no hex digit, and text
// without a digit are refused.
SHexParse ParseHexBytes(std::string_view text);

// The columns of one hex dump row:
//   00000010  48 65 6C 6C 6F 00 FF 41  42 43 44 45 46 47 48 49  |Hello..ABCDEFGHI|
// offset (8 hex digits, more when needed), the 16 bytes in hex with a gap
// after the eighth, and the bytes as characters (printable ASCII, '.' for
// the rest). Slots before `lead` and after the bytes given are blank, so a
// row that is not full keeps its columns.
class CHexRow {
public:
    static constexpr int kBytesPerRow = 16;
    static constexpr int kOffsetDigits = 8;

    static std::string Format(uint64_t rowOffset, const unsigned char* bytes, int lead, int count);
    // Text columns (0-based, offset digits at 0) of byte slot `slot`.
    static int HexColumn(int slot) { return kOffsetDigits + 2 + 3 * slot + (slot >= 8 ? 1 : 0); }
    static int CharColumn(int slot) { return kOffsetDigits + 2 + 3 * kBytesPerRow + 3 + slot; }
    static int Width() { return CharColumn(kBytesPerRow) + 1; }
    // The byte slot shown at text column `column`, or -1 (the offset, a gap).
    static int SlotAt(int column);
};
