// The engine's receive buffer against a plain string model: any sequence of
// pushes of any length, clears and limit changes keeps exactly the newest
// bytes, oldest first.
#include <cstdio>
#include <cstdlib>

#include "FuzzInput.h"
#include "serial/ReceiveRing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFuzzInput in(data, size);
    CReceiveRing ring;
    std::string model;
    std::size_t limit = 1 + in.Byte();
    while (!in.Empty()) {
        const uint8_t op = in.Byte();
        switch (op % 8) {
        case 0: // a new limit, sometimes large, sometimes below what is held
            limit = op % 16 == 0 ? 1 + (std::size_t(in.Byte()) << 8 | in.Byte()) : 1 + in.Byte() % 64;
            break;
        case 1:
            ring.Clear(limit);
            model.clear();
            break;
        default: {
            const std::string piece = in.Piece(1 + op / 2);
            ring.Push(piece.data(), piece.size(), limit);
            // Held beyond a smaller limit: the length stays, the oldest go.
            const std::size_t allowed = std::max(limit, model.size());
            model += piece;
            if (model.size() > allowed)
                model.erase(0, model.size() - allowed);
            break;
        }
        }
        FUZZ_CHECK(ring.Size() == model.size());
    }
    FUZZ_CHECK(ring.Contents() == model);
    return 0;
}
