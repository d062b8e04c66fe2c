#include "app/Converter.h"

#include <cctype>

namespace {

unsigned BaseOf(Radix radix)
{
    switch (radix) {
    case kRadixHex: return 16;
    case kRadixOct: return 8;
    case kRadixBin: return 2;
    case kRadixDec: break;
    }
    return 10; // an unknown code reads and writes decimal
}

// The caption of the base's radio button.
const char* RadixName(Radix radix)
{
    switch (radix) {
    case kRadixHex: return "Hex";
    case kRadixOct: return "Oct";
    case kRadixBin: return "Bin";
    case kRadixDec: break;
    }
    return "Dec";
}

// The digit's value in the base, or -1 when c is not a digit of it.
int DigitValue(unsigned char c, unsigned base)
{
    int v = -1;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    return (v >= 0 && static_cast<unsigned>(v) < base) ? v : -1;
}

} // namespace

std::string FilterDigits(const std::string& text, Radix radix)
{
    const unsigned base = BaseOf(radix);
    std::string kept;
    kept.reserve(text.size());
    for (char ch : text) {
        if (DigitValue(static_cast<unsigned char>(ch), base) >= 0)
            kept.push_back(ch);
    }
    return kept;
}

std::optional<uint64_t> ParseNumber(const std::string& text, Radix radix)
{
    // value * base + digit from the left; a step that would pass 2^64 - 1
    // means the number does not fit (leading zeros never do).
    const unsigned base = BaseOf(radix);
    const uint64_t max = ~uint64_t{0};
    uint64_t value = 0;
    for (char ch : text) {
        const int d = DigitValue(static_cast<unsigned char>(ch), base);
        if (d < 0)
            continue;
        if (value > (max - static_cast<unsigned>(d)) / base)
            return std::nullopt;
        value = value * base + static_cast<unsigned>(d);
    }
    return value;
}

std::string FormatNumber(uint64_t value, Radix radix)
{
    static const char kDigits[] = "0123456789abcdef";
    const unsigned base = BaseOf(radix);
    char buf[64];
    size_t pos = sizeof buf;
    do {
        buf[--pos] = kDigits[value % base];
        value /= base;
    } while (value != 0);
    return std::string(buf + pos, sizeof buf - pos);
}

bool CConverter::Convert(const std::string& fieldText, Radix newBase, std::string& shown, std::string& error)
{
    const std::optional<uint64_t> value = ParseNumber(FilterDigits(fieldText, m_current), m_current);
    if (!value) {
        std::string largest = FormatNumber(~uint64_t{0}, m_current);
        for (char& c : largest)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c))); // as the field shows it
        error = std::string("Data Converter: the number is too large. A ") + RadixName(m_current) +
                " number must lie between 0 and " + largest + " (2^64 - 1).";
        return false;
    }
    m_current = newBase;
    shown = FormatNumber(*value, newBase);
    return true;
}
