#include "text/LineStore.h"

#include <algorithm>
#include <cstring>

namespace {

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

} // namespace

CLineStore::CLineStore(std::size_t capacity) : m_capacity(std::max<std::size_t>(capacity, 1)) {}

void CLineStore::Append(std::string_view text)
{
    // A block at a time, trimming after each, so that one large append
    // never holds much more than the capacity.
    while (!text.empty()) {
        const std::size_t n = std::min(text.size(), kBlockSize);
        if (m_runs.back().style != m_style) {
            if (m_runs.back().from != m_end) {
                m_runs.push_back({m_end, m_style});
            } else {
                // The last run covers nothing yet: it takes the new style.
                m_runs.back().style = m_style;
                if (m_runs.size() > 1 && m_runs[m_runs.size() - 2].style == m_style)
                    m_runs.pop_back();
            }
        }
        const uint64_t base = m_end;
        Write(text.data(), n);
        for (const char* p = text.data(); (p = static_cast<const char*>(std::memchr(p, '\n', text.data() + n - p)));
             ++p)
            m_lineStarts.push_back(base + static_cast<uint64_t>(p - text.data()) + 1);
        text.remove_prefix(n);
        while (Size() > m_capacity)
            DropFront();
        ReleaseBlocks();
    }
}

void CLineStore::Write(const char* data, std::size_t n)
{
    while (n > 0) {
        const uint64_t used = m_end - m_blockBase;
        if (used == m_blocks.size() * kBlockSize)
            m_blocks.emplace_back(new char[kBlockSize]);
        const std::size_t at = static_cast<std::size_t>(used % kBlockSize);
        const std::size_t part = std::min(n, kBlockSize - at);
        std::memcpy(m_blocks.back().get() + at, data, part);
        m_end += part;
        data += part;
        n -= part;
    }
}

void CLineStore::DropFront()
{
    if (m_lineStarts.size() > 1) {
        m_lineStarts.pop_front();
        m_begin = m_lineStarts.front();
        ++m_droppedLines;
    } else {
        // One line longer than the capacity: it keeps its newest part.
        uint64_t cut = m_end - m_capacity;
        while (cut < m_end && IsContinuationByte(At(cut)))
            ++cut;
        m_begin = cut;
        m_lineStarts.front() = cut;
    }
    while (m_runs.size() > 1 && m_runs[1].from <= m_begin)
        m_runs.pop_front();
}

void CLineStore::ReleaseBlocks()
{
    while (!m_blocks.empty() && m_blockBase + kBlockSize <= m_begin) {
        m_blocks.pop_front();
        m_blockBase += kBlockSize;
    }
    // A block past the end (after erasing) holds nothing.
    while (!m_blocks.empty() && m_end - m_blockBase <= (m_blocks.size() - 1) * kBlockSize && m_blocks.size() > 1)
        m_blocks.pop_back();
}

bool CLineStore::EraseLastChar(bool lineBreakToo)
{
    const uint64_t start = m_lineStarts.back();
    if (m_end > start) {
        char removed;
        do {
            removed = At(--m_end);
        } while (IsContinuationByte(removed) && m_end > start);
    } else if (lineBreakToo && m_lineStarts.size() > 1) {
        m_lineStarts.pop_back();
        --m_end;
    } else {
        return false;
    }
    while (m_runs.size() > 1 && m_runs.back().from >= m_end)
        m_runs.pop_back();
    ReleaseBlocks();
    return true;
}

void CLineStore::Truncate(uint64_t pos)
{
    pos = std::clamp(pos, m_begin, m_end);
    // A line that starts at pos keeps its line break before it: it stays, empty.
    while (m_lineStarts.size() > 1 && m_lineStarts.back() > pos)
        m_lineStarts.pop_back();
    m_end = pos;
    while (m_runs.size() > 1 && m_runs.back().from >= m_end)
        m_runs.pop_back();
    ReleaseBlocks();
}

void CLineStore::SetCapacity(std::size_t capacity)
{
    m_capacity = std::max<std::size_t>(capacity, 1);
    while (Size() > m_capacity)
        DropFront();
    ReleaseBlocks();
}

void CLineStore::Clear()
{
    m_droppedLines += m_lineStarts.size();
    m_begin = m_end;
    m_lineStarts.assign(1, m_end);
    m_blocks.clear();
    m_blockBase = m_end;
    m_runs.assign(1, SRun{m_end, m_style});
}

std::size_t CLineStore::LineOf(uint64_t pos) const
{
    const auto it = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), pos);
    return it == m_lineStarts.begin() ? 0 : static_cast<std::size_t>(it - m_lineStarts.begin() - 1);
}

char CLineStore::At(uint64_t pos) const
{
    return BlockAt(pos)[(pos - m_blockBase) % kBlockSize];
}

std::size_t CLineStore::Copy(uint64_t pos, std::size_t length, char* out) const
{
    pos = std::clamp(pos, m_begin, m_end);
    length = static_cast<std::size_t>(std::min<uint64_t>(length, m_end - pos));
    std::size_t done = 0;
    while (done < length) {
        const std::size_t at = static_cast<std::size_t>((pos - m_blockBase) % kBlockSize);
        const std::size_t part = std::min(length - done, kBlockSize - at);
        std::memcpy(out + done, BlockAt(pos) + at, part);
        done += part;
        pos += part;
    }
    return length;
}

void CLineStore::Read(uint64_t pos, std::size_t length, std::string& out) const
{
    pos = std::clamp(pos, m_begin, m_end);
    length = static_cast<std::size_t>(std::min<uint64_t>(length, m_end - pos));
    const std::size_t old = out.size();
    out.resize(old + length);
    Copy(pos, length, out.data() + old);
}

std::string CLineStore::Text() const
{
    std::string text;
    Read(m_begin, Size(), text);
    return text;
}

CTextStyle CLineStore::StyleAt(uint64_t pos) const
{
    const auto it = std::upper_bound(m_runs.begin(), m_runs.end(), pos,
                                     [](uint64_t p, const SRun& run) { return p < run.from; });
    return it == m_runs.begin() ? m_runs.front().style : std::prev(it)->style;
}

std::vector<CLineStore::SRun> CLineStore::Runs(uint64_t from, uint64_t to) const
{
    std::vector<SRun> runs{{from, StyleAt(from)}};
    auto it = std::upper_bound(m_runs.begin(), m_runs.end(), from,
                               [](uint64_t p, const SRun& run) { return p < run.from; });
    for (; it != m_runs.end() && it->from < to; ++it)
        runs.push_back(*it);
    return runs;
}
