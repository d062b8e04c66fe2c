#pragma once

#include <cstddef>

// Sees the bytes of the line as they are, for a session log or a hex view:
// received bytes before any shaping or sanitising (NUL and bytes above 0x7F
// included), sent bytes once the driver has taken them. Calls come on the
// engine's threads while it holds its observer lock: return quickly, never
// wait for another thread, and never call back into the engine.
class IByteObserver {
public:
    virtual ~IByteObserver() = default;
    // Reader thread, in arrival order.
    virtual void BytesReceived(const char* data, std::size_t n) = 0;
    // The thread of the sender whose turn it is, in the order bytes went out.
    virtual void ByteSent(unsigned char b) {}
    // An opening ended after its last byte: closed (unplugged false) or its
    // device went away. Called once per opening.
    virtual void LineClosed(bool unplugged) {}
};
