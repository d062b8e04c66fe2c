#include "serial/MatchBuffer.h"

#include <algorithm>

#include "core/CancelSignal.h"

void CMatchBuffer::Append(const char* bytes, std::size_t n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_eof || n == 0)
        return;
    m_bytes.append(bytes, n);
    DropOverflow();
    Changed();
}

void CMatchBuffer::MarkEof()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_eof)
        return;
    m_eof = true;
    Changed();
}

void CMatchBuffer::Reopen()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_start += m_bytes.size() - m_head;
    m_bytes.clear();
    m_head = 0;
    m_dropped = 0;
    m_eof = false;
    ++m_epoch;
    ++m_generation;
    m_cv.notify_all();
}

CMatchBuffer::SSnapshot CMatchBuffer::Snapshot(uint64_t from) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    SSnapshot s;
    const std::size_t held = m_bytes.size() - m_head;
    const std::size_t skip = from > m_start ? static_cast<std::size_t>(std::min<uint64_t>(from - m_start, held)) : 0;
    s.bytes.assign(m_bytes, m_head + skip, std::string::npos);
    s.start = m_start + skip;
    s.first = m_start;
    s.generation = m_generation;
    s.dropped = m_dropped;
    s.epoch = m_epoch;
    s.eof = m_eof;
    return s;
}

void CMatchBuffer::ConsumeTo(uint64_t end)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (end <= m_start)
        return; // already dropped by overflow or consumed
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(end - m_start, m_bytes.size() - m_head));
    m_head += n;
    m_start += n;
    // Give the space back once most of the string is consumed, so that
    // consuming stays linear in what is consumed.
    if (m_head == m_bytes.size()) {
        m_bytes.clear();
        m_head = 0;
    } else if (m_head > 64 * 1024 && m_head > m_bytes.size() / 2) {
        m_bytes.erase(0, m_head);
        m_head = 0;
    }
    ++m_generation;
}

void CMatchBuffer::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_start += m_bytes.size() - m_head;
    m_bytes.clear();
    m_head = 0;
    ++m_generation;
}

uint64_t CMatchBuffer::Dropped() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dropped;
}

std::size_t CMatchBuffer::Max() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_max;
}

void CMatchBuffer::SetMax(std::size_t max)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_max = max;
    DropOverflow();
    ++m_generation;
}

CMatchBuffer::EWait CMatchBuffer::WaitForChange(uint64_t seen,
                                                std::optional<std::chrono::steady_clock::time_point> deadline,
                                                const CCancelSignal* cancel) const
{
    CCancelSignal::Subscription wakeOnCancel;
    if (cancel)
        wakeOnCancel = cancel->OnCancel([this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_cv.notify_all();
        });
    std::unique_lock<std::mutex> lock(m_mutex); // released before wakeOnCancel is dropped
    auto done = [&] { return m_generation != seen || (cancel && cancel->IsCancelled()); };
    if (deadline) {
        if (!m_cv.wait_until(lock, *deadline, done))
            return EWait::TimedOut;
    } else {
        m_cv.wait(lock, done);
    }
    return m_generation != seen ? EWait::Changed : EWait::Cancelled;
}

void CMatchBuffer::SetListener(std::function<void()> listener)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listener = std::move(listener);
}

void CMatchBuffer::DropOverflow()
{
    const std::size_t held = m_bytes.size() - m_head;
    if (held <= m_max)
        return;
    const std::size_t drop = held - m_max;
    m_head += drop;
    m_start += drop;
    m_dropped += drop;
    if (m_head > 64 * 1024 && m_head > m_bytes.size() / 2) {
        m_bytes.erase(0, m_head);
        m_head = 0;
    }
}

void CMatchBuffer::Changed()
{
    ++m_generation;
    m_cv.notify_all();
    if (m_listener)
        m_listener();
}
