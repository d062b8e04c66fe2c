#pragma once

// Reads a fuzzer's input as a sequence of choices and pieces, so one input
// can describe both data and how it is cut up or which call it goes to.

#include <cstddef>
#include <cstdint>
#include <string>

class CFuzzInput {
public:
    CFuzzInput(const uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool Empty() const { return m_pos >= m_size; }
    // One byte, 0 when the input is used up.
    uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    // Up to `most` bytes (at least one while input is left).
    std::string Piece(std::size_t most)
    {
        const std::size_t n = std::min(std::max<std::size_t>(1, most), m_size - std::min(m_pos, m_size));
        std::string out(reinterpret_cast<const char*>(m_data + m_pos), n);
        m_pos += n;
        return out;
    }
    // Everything up to the next `separator` (dropped) or the end.
    std::string Until(char separator)
    {
        std::string out;
        while (m_pos < m_size && m_data[m_pos] != uint8_t(separator))
            out += char(m_data[m_pos++]);
        if (m_pos < m_size)
            ++m_pos;
        return out;
    }
    std::string Rest() { return Piece(m_size); }

private:
    const uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// Stops the fuzzer with a message when an invariant fails: libFuzzer saves
// the input that did it.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
