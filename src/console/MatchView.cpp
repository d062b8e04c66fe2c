#include "console/MatchView.h"

#include <algorithm>
#include <vector>

CMatchBuffer::SSnapshot CMatchView::Refresh(const CMatchBuffer& buffer)
{
    const uint64_t end = m_start + (m_bytes.size() - m_head);
    CMatchBuffer::SSnapshot snap = buffer.Snapshot(end);
    if (snap.start != end) {
        // Overflow dropped bytes this copy had not seen: start again.
        m_bytes = snap.bytes;
        m_head = 0;
        m_start = snap.start;
        m_chars = CObjRef();
        return snap;
    }
    ConsumeTo(snap.first); // dropped by overflow, a flush or a new opening
    m_bytes += snap.bytes;
    if (m_chars.Get())
        AppendChars(snap.bytes);
    return snap;
}

Tcl_Obj* CMatchView::Chars(int& offset)
{
    if (!m_chars.Get() || Tcl_IsShared(m_chars.Get())) {
        m_chars = CObjRef(Tcl_NewUnicodeObj(nullptr, 0));
        m_charsFrom = m_head;
        AppendChars(Bytes());
    }
    offset = static_cast<int>(m_head - m_charsFrom);
    return m_chars.Get();
}

void CMatchView::AppendChars(std::string_view bytes)
{
    std::vector<Tcl_UniChar> chars(bytes.begin(), bytes.end());
    for (std::size_t i = 0; i < bytes.size(); ++i)
        chars[i] = static_cast<unsigned char>(bytes[i]);
    Tcl_AppendUnicodeToObj(m_chars.Get(), chars.data(), static_cast<int>(chars.size()));
}

void CMatchView::ConsumeTo(uint64_t end)
{
    if (end <= m_start)
        return;
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(end - m_start, m_bytes.size() - m_head));
    m_head += n;
    m_start += n;
    if (m_head > 64 * 1024 && m_head > m_bytes.size() / 2) {
        m_bytes.erase(0, m_head);
        m_head = 0;
        m_chars = CObjRef(); // remade from what is left when next needed
    }
}
