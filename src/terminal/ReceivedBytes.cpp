#include "terminal/ReceivedBytes.h"

#include <algorithm>

void CReceivedBytes::BytesReceived(const char* data, std::size_t n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ring.Append(data, n);
    if (!m_viewTold && m_arrived) {
        m_viewTold = true;
        m_arrived();
    }
}

void CReceivedBytes::SetArrivedHandler(std::function<void()> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_arrived = std::move(handler);
}

void CReceivedBytes::Seen()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_viewTold = false;
}

void CReceivedBytes::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ring.Clear();
}

uint64_t CReceivedBytes::Begin() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ring.Begin();
}

uint64_t CReceivedBytes::End() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ring.End();
}

std::size_t CReceivedBytes::Copy(uint64_t pos, std::size_t n, unsigned char* out) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ring.Copy(pos, n, out);
}

uint64_t CReceivedBytes::RowEnd() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ring.Begin() == m_ring.End())
        return m_ring.Begin() / CHexRow::kBytesPerRow;
    return (m_ring.End() + CHexRow::kBytesPerRow - 1) / CHexRow::kBytesPerRow;
}

std::string CReceivedBytes::Row(uint64_t row) const
{
    const uint64_t start = row * CHexRow::kBytesPerRow;
    unsigned char bytes[CHexRow::kBytesPerRow];
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint64_t from = std::max(start, m_ring.Begin());
    const uint64_t to = std::min(start + CHexRow::kBytesPerRow, m_ring.End());
    const std::size_t n = from < to ? m_ring.Copy(from, static_cast<std::size_t>(to - from), bytes) : 0;
    return CHexRow::Format(start, bytes, static_cast<int>(from - start), static_cast<int>(n));
}
