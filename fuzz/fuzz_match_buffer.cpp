// The match buffer against a plain model (appends, overflow, consumes,
// snapshots from any position), and expect's glob and exact search against
// Tcl's own glob matcher on every substring.
#include <tcl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzInput.h"
#include "console/GlobFind.h"
#include "serial/MatchBuffer.h"

namespace {

void CheckBuffer(CFuzzInput& in)
{
    CMatchBuffer buffer;
    buffer.SetMax(1 + in.Byte());
    std::string model;     // the bytes held
    uint64_t first = 0;    // absolute position of model[0]
    uint64_t dropped = 0;
    auto overflow = [&] {
        if (model.size() > buffer.Max()) {
            const std::size_t n = model.size() - buffer.Max();
            model.erase(0, n);
            first += n;
            dropped += n;
        }
    };
    for (int steps = 0; !in.Empty() && steps < 64; ++steps) {
        const uint8_t op = in.Byte();
        switch (op % 6) {
        case 0: {
            const std::size_t max = 1 + in.Byte() % 96;
            buffer.SetMax(max);
            overflow();
            break;
        }
        case 1: { // consume up to a position around what is held
            const uint64_t end = first + in.Byte() % (model.size() + 8);
            buffer.ConsumeTo(end);
            if (end > first) {
                const std::size_t n = std::min<uint64_t>(end - first, model.size());
                model.erase(0, n);
                first += n;
            }
            break;
        }
        case 2: {
            const uint64_t from = first + in.Byte() % (model.size() + 4) - 2;
            const CMatchBuffer::SSnapshot snap = buffer.Snapshot(from);
            const uint64_t start = std::max(from, first);
            FUZZ_CHECK(snap.first == first);
            FUZZ_CHECK(snap.start == std::min<uint64_t>(start, first + model.size()));
            FUZZ_CHECK(snap.bytes == model.substr(std::min<uint64_t>(start - first, model.size())));
            break;
        }
        case 3:
            buffer.Clear();
            first += model.size();
            model.clear();
            break;
        default: {
            const std::string piece = in.Piece(op / 4);
            buffer.Append(piece.data(), piece.size());
            model += piece;
            overflow();
            break;
        }
        }
        FUZZ_CHECK(buffer.Dropped() == dropped);
        FUZZ_CHECK(buffer.Snapshot().bytes == model);
    }
}

// ASCII without NUL, so Tcl's matcher (which reads C strings) sees the same text.
std::string Ascii(std::string s)
{
    for (char& c : s)
        c = char(1 + (static_cast<unsigned char>(c) % 127));
    return s;
}

void CheckSearch(CFuzzInput& in)
{
    const bool nocase = in.Byte() & 1;
    const std::string pattern = Ascii(in.Until('\0').substr(0, 12));
    const std::string text = Ascii(in.Rest().substr(0, 48));

    SFoundSpan found;
    const bool exact = FindExact(text, pattern, nocase, found);
    if (!nocase) {
        const std::size_t at = text.find(pattern);
        FUZZ_CHECK(exact == (at != std::string::npos));
        FUZZ_CHECK(!exact || (found.start == at && found.end == at + pattern.size()));
    }

    if (pattern.empty() || pattern.front() == '^' || pattern.back() == '$')
        return; // anchors are expect's own; Tcl's matcher has none
    const int flags = nocase ? TCL_MATCH_NOCASE : 0;
    // The earliest start at which some substring matches the whole pattern.
    std::size_t earliest = std::string::npos;
    for (std::size_t s = 0; s <= text.size() && earliest == std::string::npos; ++s)
        for (std::size_t e = s; e <= text.size(); ++e)
            if (Tcl_StringCaseMatch(text.substr(s, e - s).c_str(), pattern.c_str(), flags)) {
                earliest = s;
                break;
            }
    const bool glob = FindGlob(text, pattern, nocase, found);
    FUZZ_CHECK(glob == (earliest != std::string::npos));
    if (glob) {
        FUZZ_CHECK(found.start == earliest && found.end <= text.size() && found.start <= found.end);
        FUZZ_CHECK(Tcl_StringCaseMatch(text.substr(found.start, found.end - found.start).c_str(), pattern.c_str(),
                                       flags));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFuzzInput in(data, size);
    if (in.Byte() & 1)
        CheckBuffer(in);
    else
        CheckSearch(in);
    return 0;
}
