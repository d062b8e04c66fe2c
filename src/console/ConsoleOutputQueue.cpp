#include "console/ConsoleOutputQueue.h"

#include <chrono>

#include "console/IConsole.h"

namespace {

// What a run costs beyond its text (the run and its allocation), so that
// many tiny runs of alternating colours are bounded too.
constexpr std::size_t kRunCost = 64;

// How many bytes of text from `at` fit in `room` (at least 4) without cutting
// a UTF-8 sequence: the pane decodes each run on its own.
std::size_t CutLength(const std::string& text, std::size_t at, std::size_t room)
{
    if (text.size() - at <= room)
        return text.size() - at;
    std::size_t length = room;
    for (int back = 0; back < 3 && (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80; ++back)
        --length;
    return length;
}

} // namespace

SConsoleRun MakeConsoleRun(const std::string& text, int kind)
{
    if (text == kConsolePrompt)
        return {SConsoleRun::kPrompt, kind, {}};
    return {SConsoleRun::kText, kind, text};
}

void CConsoleOutputQueue::Print(const std::string& text, int kind)
{
    if (text.empty())
        return;
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_aborted)
        return;
    if (text == kConsolePrompt) {
        Append({SConsoleRun::kPrompt, kind, {}});
    } else {
        for (std::size_t at = 0; at < text.size();) {
            SConsoleRun* last = m_runs.empty() ? nullptr : &m_runs.back();
            const bool join = last && last->type == SConsoleRun::kText && last->kind == kind &&
                              last->text.size() + 4 <= kRunLimit;
            const std::size_t length = CutLength(text, at, kRunLimit - (join ? last->text.size() : 0));
            if (join) {
                last->text.append(text, at, length);
                m_waiting += length;
            } else {
                Append({SConsoleRun::kText, kind, text.substr(at, length)});
            }
            at += length;
        }
    }
    // Woken by Take, Clear and Abort. The timed re-check is a safety net: a
    // wake-up lost by a platform's condition variable costs 100 ms instead of
    // a hang (one test run under Wine hung with writers asleep here).
    while (!(m_waiting < m_bound || m_aborted))
        m_room.wait_for(lock, std::chrono::milliseconds(100));
}

void CConsoleOutputQueue::Clear()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_aborted)
            return;
        m_runs.clear();
        m_waiting = 0;
        Append({SConsoleRun::kClear, 0, {}});
    }
    m_room.notify_all();
}

void CConsoleOutputQueue::Abort()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_aborted = true;
    }
    m_room.notify_all();
}

void CConsoleOutputQueue::Append(SConsoleRun run)
{
    m_waiting += run.text.size() + kRunCost;
    m_runs.push_back(std::move(run));
    if (!m_paneTold) {
        m_paneTold = true;
        if (m_dataWaiting)
            m_dataWaiting();
    }
}

void CConsoleOutputQueue::SetDataWaitingHandler(std::function<void()> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dataWaiting = std::move(handler);
}

bool CConsoleOutputQueue::Take(std::size_t maxBytes, std::vector<SConsoleRun>& runs)
{
    bool left;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::size_t taken = 0;
        while (!m_runs.empty() && (taken == 0 || taken + m_runs.front().text.size() <= maxBytes)) {
            SConsoleRun& run = m_runs.front();
            taken += run.text.size() + 1; // a prompt or a clear counts too
            m_waiting -= run.text.size() + kRunCost;
            runs.push_back(std::move(run));
            m_runs.pop_front();
        }
        left = !m_runs.empty();
        if (!left)
            m_paneTold = false;
    }
    m_room.notify_all();
    return left;
}

std::size_t CConsoleOutputQueue::Waiting() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_waiting;
}
