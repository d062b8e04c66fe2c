// Hex both ways: typed hex text is either refused with a position inside the
// text or gives bytes that read back from their own hex form; a dump row
// keeps its width and shows each byte's hex at its column; the byte ring
// holds exactly the newest bytes of what was appended.
#include <cstdio>
#include <cstdlib>

#include "FuzzInput.h"
#include "text/ByteRing.h"
#include "text/HexText.h"

namespace {

const char kDigits[] = "0123456789ABCDEF";

void CheckParse(const std::string& text)
{
    const SHexParse parsed = ParseHexBytes(text);
    if (!parsed.ok) {
        FUZZ_CHECK(parsed.bytes.empty() && !parsed.error.empty());
        FUZZ_CHECK(parsed.position >= 1 && parsed.position <= text.size() + 1);
        return;
    }
    std::string again;
    for (unsigned char b : parsed.bytes) {
        again += kDigits[b >> 4];
        again += kDigits[b & 15];
        again += ' ';
    }
    const SHexParse reread = ParseHexBytes(again);
    FUZZ_CHECK(reread.ok && reread.bytes == parsed.bytes);
}

void CheckRow(CFuzzInput& in)
{
    const uint64_t offset = uint64_t(in.Byte()) << (in.Byte() % 40);
    const int lead = in.Byte() % CHexRow::kBytesPerRow;
    const std::string bytes = in.Piece(CHexRow::kBytesPerRow - lead);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::string row = CHexRow::Format(offset, data, lead, int(bytes.size()));
    // Offsets past 8 digits widen the row by their extra digits only.
    FUZZ_CHECK(row.size() >= std::size_t(CHexRow::Width()));
    const std::size_t extra = row.size() - std::size_t(CHexRow::Width());
    FUZZ_CHECK(extra <= 8); // a 64-bit offset has at most 16 digits
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int slot = lead + int(i);
        const std::size_t at = extra + CHexRow::HexColumn(slot);
        FUZZ_CHECK(at + 1 < row.size());
        FUZZ_CHECK(row[at] == kDigits[data[i] >> 4] && row[at + 1] == kDigits[data[i] & 15]);
        FUZZ_CHECK(CHexRow::SlotAt(CHexRow::HexColumn(slot)) == slot);
    }
}

void CheckRing(CFuzzInput& in)
{
    CByteRing ring(1 + in.Byte() % 64);
    std::string all;
    while (!in.Empty()) {
        const uint8_t op = in.Byte();
        if (op % 8 == 0) {
            ring.Clear();
            all.clear();
            continue;
        }
        const std::string piece = in.Piece(op / 2);
        ring.Append(piece.data(), piece.size());
        all += piece;
        const std::size_t held = std::min(all.size(), ring.Capacity());
        FUZZ_CHECK(ring.End() - ring.Begin() == held);
        std::string out(held, '\0');
        FUZZ_CHECK(ring.Copy(ring.Begin(), held, reinterpret_cast<unsigned char*>(out.data())) == held);
        FUZZ_CHECK(out == all.substr(all.size() - held));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFuzzInput in(data, size);
    switch (in.Byte() % 3) {
    case 0:
        CheckParse(in.Rest());
        break;
    case 1:
        CheckRow(in);
        break;
    default:
        CheckRing(in);
        break;
    }
    return 0;
}
