#include "text/HexText.h"

namespace {

int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

const char kDigits[] = "0123456789ABCDEF";

} // namespace

SHexParse ParseHexBytes(std::string_view text)
{
    SHexParse result;
    std::string bytes;
    int high = -1;            // the first digit of a pair waiting for its second
    std::size_t highAt = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : ' ';
        if (IsSpace(c)) {
            if (high >= 0) {
                result.error = "a lone hex digit: each byte takes two digits";
                result.position = highAt + 1;
                return result;
            }
            continue;
        }
        const int value = DigitValue(c);
        if (value < 0) {
            result.error = std::string("not a hex digit: '") + c + "'";
            result.position = i + 1;
            return result;
        }
        if (high < 0) {
            high = value;
            highAt = i;
        } else {
            bytes += static_cast<char>(high * 16 + value);
            high = -1;
        }
    }
    if (bytes.empty()) {
        result.error = "no hex digits to send";
        result.position = 1;
        return result;
    }
    result.ok = true;
    result.bytes = std::move(bytes);
    return result;
}

std::string CHexRow::Format(uint64_t rowOffset, const unsigned char* bytes, int lead, int count)
{
    std::string row(static_cast<std::size_t>(Width()), ' ');
    std::string offset;
    for (uint64_t v = rowOffset; v != 0 || offset.size() < kOffsetDigits; v >>= 4)
        offset.insert(offset.begin(), kDigits[v & 15]);
    if (offset.size() > kOffsetDigits) // past 4 GiB: the row grows by the extra digits
        row.insert(0, offset.size() - kOffsetDigits, ' ');
    const std::size_t shift = offset.size() - kOffsetDigits;
    row.replace(0, offset.size(), offset);
    row[shift + CharColumn(0) - 1] = '|';
    row[shift + CharColumn(kBytesPerRow)] = '|';
    for (int i = 0; i < count && lead + i < kBytesPerRow; ++i) {
        const int slot = lead + i;
        const unsigned char b = bytes[i];
        row[shift + HexColumn(slot)] = kDigits[b >> 4];
        row[shift + HexColumn(slot) + 1] = kDigits[b & 15];
        row[shift + CharColumn(slot)] = b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
    }
    return row;
}

int CHexRow::SlotAt(int column)
{
    for (int slot = 0; slot < kBytesPerRow; ++slot) {
        const int hex = HexColumn(slot);
        if (column == CharColumn(slot) || (column >= hex && column < hex + 3))
            return slot;
    }
    return -1;
}
