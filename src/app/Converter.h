#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The code of a base in the command bar's number converter.
enum Radix : int {
    kRadixHex = 1,
    kRadixDec = 2,
    kRadixOct = 3,
    kRadixBin = 4
};

// Keeps, in order, only the characters that are digits of the base
// (hex accepts both cases). Everything else, bytes above 127 included, is dropped.
std::string FilterDigits(const std::string& text, Radix radix);

// Reads the digits of the base as an unsigned 64-bit value. Characters that
// are not digits of the base are skipped, so this equals parsing the filtered
// text. An empty text gives 0; a number above 2^64 - 1 gives no value.
std::optional<uint64_t> ParseNumber(const std::string& text, Radix radix);

// Writes the value in the base: no prefix, no leading zeros, "0" for zero,
// hex digits in lower case.
std::string FormatNumber(uint64_t value, Radix radix);

// The converter's state: the base in which the field's text is read at the
// next conversion. Owned by the command bar; used on the UI thread only.
class CConverter {
public:
    // Reads fieldText in the current base, writes the value in newBase into
    // shown and makes newBase the current base. A number that does not fit
    // in 64 bits is refused: false, a message naming the field and the
    // allowed range in error, and the current base stays.
    bool Convert(const std::string& fieldText, Radix newBase, std::string& shown, std::string& error);

    Radix CurrentBase() const { return m_current; }

private:
    Radix m_current = kRadixDec;
};
