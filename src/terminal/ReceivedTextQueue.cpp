#include "terminal/ReceivedTextQueue.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

constexpr std::size_t kKeptRoom = 64 << 10;

// Received bytes above 0x7F (which only reach the queue with UTF-8 shown, or
// from a sink fed directly) as one Latin-1 character each, as the pane has
// always shown bytes.
void AppendLatin1(const char* bytes, std::size_t n, std::string& out)
{
    for (const char* p = bytes; p != bytes + n; ++p) {
        const auto b = static_cast<unsigned char>(*p);
        if (b < 0x80) {
            out += *p;
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
}

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

} // namespace

void CReceivedTextQueue::AppendReceivedText(const char* chunk)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_aborted)
        return;
    const char* bytes = chunk;
    std::size_t length = std::strlen(chunk);
    if (m_ansi) {
        m_bytes.assign(chunk, length);
        // The marks' own bytes never come from the line (the engine shows
        // them as '.'); a sink fed directly gets the same.
        for (char& c : m_bytes)
            if (c == CAnsiParser::kStyleMark || c == CAnsiParser::kClearLineMark)
                c = '.';
        m_parsed.clear();
        m_ansiParser.Parse(m_bytes.data(), m_bytes.size(), m_parsed);
        bytes = m_parsed.data();
        length = m_parsed.size();
    }
    m_text.clear();
    if (m_utf8) {
        m_decoder.Decode(bytes, length, m_text);
    } else if (m_ansi) {
        // One character per byte, as the engine shows bytes above 0x7F.
        for (std::size_t i = 0; i < length; ++i)
            m_text += static_cast<unsigned char>(bytes[i]) >= 0x80 ? '.' : bytes[i];
    } else {
        AppendLatin1(bytes, length, m_text);
    }
    // Without ANSI display an ESC shows as the engine's sanitising shows it.
    if (!m_ansi)
        std::replace(m_text.begin(), m_text.end(), '\x1b', '.');
    Queue(m_text);
    m_room.wait(lock, [this] { return m_pending.size() - m_taken < m_bound || m_aborted; });
}

void CReceivedTextQueue::Queue(const std::string& text)
{
    const std::size_t before = m_pending.size();
    m_shaper.Append(text.c_str(), m_pending, m_taken);
    // A Backspace may have shortened the text; only what is new can start a line.
    int64_t now = -1;
    for (std::size_t i = std::min(before, m_pending.size()); i < m_pending.size(); ++i) {
        if (!m_lineStamped) {
            if (now < 0)
                now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch()).count();
            m_stamps.emplace_back(m_base + i, now);
            m_lineStamped = true;
        }
        if (m_pending[i] == '\n')
            m_lineStamped = false;
    }
    if (!m_viewTold) {
        m_viewTold = true;
        if (m_dataWaiting)
            m_dataWaiting();
    }
}

void CReceivedTextQueue::AbortDelivery()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_aborted = true;
    }
    m_room.notify_all();
}

void CReceivedTextQueue::ResumeDelivery()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_aborted = false;
    m_shaper.Reset();
}

void CReceivedTextQueue::SetShowUtf8(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_utf8 = on;
    m_decoder.Reset(); // a character cut short by the switch is dropped
}

void CReceivedTextQueue::SetShowAnsi(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (on == m_ansi)
        return;
    m_ansi = on;
    m_ansiParser.Reset();
    m_shaper.SetCrClearsLine(on);
    if (!on) { // the text that follows is in the default style again
        std::string mark;
        CAnsiParser::AppendStyleMark(CTextStyle(), mark);
        Queue(mark);
    }
}

void CReceivedTextQueue::SetDataWaitingHandler(std::function<void()> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dataWaiting = std::move(handler);
}

bool CReceivedTextQueue::Take(std::size_t maxBytes, std::string& slice, std::vector<SLineStamp>* stamps)
{
    maxBytes = std::max<std::size_t>(maxBytes, 1);
    bool left = false;
    if (stamps)
        stamps->clear();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const uint64_t sliceStart = m_base + m_taken;
        const std::size_t waiting = m_pending.size() - m_taken;
        if (waiting <= maxBytes) {
            slice.assign(m_pending, m_taken, waiting);
            m_base += m_pending.size();
            // A backlog's room goes back once it is drained; a small one is kept for the next chunks.
            if (m_pending.capacity() > kKeptRoom)
                std::string().swap(m_pending);
            else
                m_pending.clear();
            m_taken = 0;
            m_viewTold = false;
        } else {
            const std::size_t end = m_taken + maxBytes;
            std::size_t cut = m_pending.rfind('\n', end - 1);
            cut = (cut == std::string::npos || cut < m_taken + maxBytes / 2) ? end : cut + 1;
            // Never inside a character: the view takes whole UTF-8 characters
            // (a slice shorter than one character takes the whole character).
            std::size_t back = cut;
            while (back > m_taken && IsContinuation(m_pending[back]))
                --back;
            if (back > m_taken)
                cut = back;
            else
                while (cut < m_pending.size() && IsContinuation(m_pending[cut]))
                    ++cut;
            // Nor inside a style mark: it goes before the mark, or after it
            // when the mark leads the slice.
            constexpr std::size_t kMarkSize = CAnsiParser::kStyleMarkSize;
            for (std::size_t k = 1; k < kMarkSize && cut >= m_taken + k; ++k)
                if (m_pending[cut - k] == CAnsiParser::kStyleMark) {
                    cut = cut - k > m_taken ? cut - k : std::min(m_pending.size(), cut - k + kMarkSize);
                    break;
                }
            slice.assign(m_pending, m_taken, cut - m_taken);
            m_taken = cut;
            // Drop the taken front only now and then: erasing it every slice
            // would move the whole backlog each time.
            if (m_taken > m_pending.size() / 2) {
                m_pending.erase(0, m_taken);
                m_base += m_taken;
                m_taken = 0;
            }
            left = true;
        }
        const uint64_t sliceEnd = sliceStart + slice.size();
        while (!m_stamps.empty() && m_stamps.front().first < sliceEnd) {
            if (stamps)
                stamps->push_back({static_cast<std::size_t>(
                                       m_stamps.front().first - std::min(m_stamps.front().first, sliceStart)),
                                   m_stamps.front().second});
            m_stamps.pop_front();
        }
    }
    m_room.notify_all();
    return left;
}

void CReceivedTextQueue::ForgetPendingCr()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_shaper.Reset();
}

std::size_t CReceivedTextQueue::Waiting() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pending.size() - m_taken;
}
