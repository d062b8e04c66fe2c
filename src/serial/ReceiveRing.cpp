#include "serial/ReceiveRing.h"

#include <algorithm>
#include <cstring>

void CReceiveRing::Push(const char* data, std::size_t n, std::size_t limit)
{
    // While below the limit the bytes are added.
    if (m_count < limit && n > 0) {
        const std::size_t add = std::min(n, limit - m_count);
        if (m_count + add > m_bytes.size())
            Relayout(std::min(limit, std::max({m_count + add, 2 * m_bytes.size(), std::size_t{256}})));
        Write(data, add);
        m_count += add;
        data += add;
        n -= add;
    }
    if (n == 0 || m_count == 0)
        return;
    // Full: each further byte displaces the oldest, so the ring turns over
    // exactly the bytes held, and only the newest of the data can stay.
    if (m_bytes.size() != m_count)
        Relayout(m_count);
    if (n > m_count) {
        data += n - m_count;
        n = m_count;
    }
    m_head = (m_head + n) % m_count; // the bytes written go where the oldest were
    const std::size_t tail = (m_head + m_count - n) % m_count;
    const std::size_t first = std::min(n, m_count - tail);
    std::memcpy(m_bytes.data() + tail, data, first);
    std::memcpy(m_bytes.data(), data + first, n - first);
}

void CReceiveRing::Write(const char* data, std::size_t n)
{
    const std::size_t room = m_bytes.size();
    const std::size_t tail = (m_head + m_count) % room;
    const std::size_t first = std::min(n, room - tail);
    std::memcpy(m_bytes.data() + tail, data, first);
    std::memcpy(m_bytes.data(), data + first, n - first);
}

void CReceiveRing::Relayout(std::size_t room)
{
    std::vector<char> bytes(room);
    const std::string held = Contents();
    std::memcpy(bytes.data(), held.data(), held.size());
    m_bytes.swap(bytes);
    m_head = 0;
}

void CReceiveRing::Clear(std::size_t limit)
{
    m_head = m_count = 0;
    if (m_bytes.size() > limit)
        std::vector<char>().swap(m_bytes);
}

std::string CReceiveRing::Contents() const
{
    std::string text(m_count, '\0');
    const std::size_t first = std::min(m_count, m_bytes.size() - m_head);
    if (m_count > 0) {
        std::memcpy(text.data(), m_bytes.data() + m_head, first);
        std::memcpy(text.data() + first, m_bytes.data(), m_count - first);
    }
    return text;
}
