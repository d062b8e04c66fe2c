#include "console/CommandHistory.h"

void CCommandHistory::Add(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (text != m_slots[0]) {
        for (int i = kSlots - 1; i > 0; --i)
            m_slots[i] = std::move(m_slots[i - 1]);
        m_slots[0] = text;
        if (m_count < kSlots)
            ++m_count;
    }
    m_cursor = -1;
}

void CCommandHistory::AddEnteredLine(const std::string& line)
{
    std::string s;
    s.reserve(line.size());
    for (char c : line) {
        if (c != '\n')
            s.push_back(c);
    }
    const size_t first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return;
    s = s.substr(first, s.find_last_not_of(' ') - first + 1);
    if (s != "cmdhist")
        Add(s);
}

std::string CCommandHistory::Older()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_cursor < kSlots - 1)
        ++m_cursor;
    return m_slots[m_cursor];
}

std::string CCommandHistory::Newer()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_cursor < 0)
        return std::string();
    --m_cursor;
    return m_cursor < 0 ? std::string() : m_slots[m_cursor];
}

int CCommandHistory::GetCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_count;
}

std::string CCommandHistory::GetAt(int index) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return (index >= 0 && index < kSlots) ? m_slots[index] : std::string();
}

std::vector<std::string> CCommandHistory::Snapshot() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::vector<std::string>(m_slots.begin(), m_slots.begin() + m_count);
}
