#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The engine's receive buffer: the newest received bytes, at most `limit`
// of them, oldest first. Once full, each new byte displaces the oldest; a
// buffer that holds more than a smaller limit set since keeps its length
// the same way. Bytes are copied in blocks, not one at a time, and the room
// grows with what is held, up to the limit.
class CReceiveRing {
public:
    void Push(const char* data, std::size_t n, std::size_t limit);
    // Empties the buffer; room beyond `limit` is given back.
    void Clear(std::size_t limit);
    std::string Contents() const;
    std::size_t Size() const { return m_count; }

private:
    void Write(const char* data, std::size_t n);
    void Relayout(std::size_t room);

    std::vector<char> m_bytes; // the ring; its size is the room
    std::size_t m_head = 0;    // the oldest byte
    std::size_t m_count = 0;
};
