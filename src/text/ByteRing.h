#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The newest bytes of a stream, up to a capacity, in one circular buffer:
// appending past the capacity drops the oldest bytes. Positions count from
// the first byte ever appended, so a position keeps naming the same byte
// while older ones go; positions before Begin() name bytes that are gone.
class CByteRing {
public:
    explicit CByteRing(std::size_t capacity) : m_capacity(capacity) {}

    void Append(const char* data, std::size_t n);
    // Drops everything; positions go on from where they were.
    void Clear() { m_begin = m_end; }
    uint64_t Begin() const { return m_begin; }
    uint64_t End() const { return m_end; }
    std::size_t Capacity() const { return m_capacity; }
    // Copies the held bytes of [pos, pos + n) to out; returns how many.
    std::size_t Copy(uint64_t pos, std::size_t n, unsigned char* out) const;

private:
    std::size_t m_capacity;
    std::vector<unsigned char> m_buffer; // grows up to the capacity; byte p lives at p % capacity
    uint64_t m_begin = 0;
    uint64_t m_end = 0;
};
