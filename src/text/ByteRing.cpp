#include "text/ByteRing.h"

#include <algorithm>
#include <cstring>

void CByteRing::Append(const char* data, std::size_t n)
{
    if (m_capacity == 0)
        return;
    if (n > m_capacity) { // only the newest part fits
        data += n - m_capacity;
        m_end += n - m_capacity;
        n = m_capacity;
    }
    while (n > 0) {
        // Until the buffer has grown to the capacity, no byte wraps.
        if (m_buffer.size() < m_capacity && m_end + n > m_buffer.size()) {
            m_buffer.resize(std::min(m_capacity, std::max<std::size_t>(m_buffer.size() * 2, m_end + n)));
            continue;
        }
        const std::size_t at = static_cast<std::size_t>(m_end % m_capacity);
        const std::size_t part = std::min(n, m_capacity - at);
        std::memcpy(m_buffer.data() + at, data, part);
        data += part;
        n -= part;
        m_end += part;
    }
    m_begin = std::max(m_begin, m_end > m_capacity ? m_end - m_capacity : 0);
}

std::size_t CByteRing::Copy(uint64_t pos, std::size_t n, unsigned char* out) const
{
    if (pos < m_begin || pos >= m_end)
        return 0;
    n = static_cast<std::size_t>(std::min<uint64_t>(n, m_end - pos));
    for (std::size_t done = 0; done < n;) {
        const std::size_t at = static_cast<std::size_t>((pos + done) % m_capacity);
        const std::size_t part = std::min(n - done, m_capacity - at);
        std::memcpy(out + done, m_buffer.data() + at, part);
        done += part;
    }
    return n;
}
