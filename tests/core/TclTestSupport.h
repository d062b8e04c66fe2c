#pragma once

// Recording stand-ins for the console pane, the user prompt and the main
// window, for tests of the Tcl host and its commands.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/CancelSignal.h"
#include "core/IUserPrompt.h"
#include "console/IConsole.h"
#include "console/TclHost.h"
#include "console/TclLogCommands.h"
#include "log/SessionLog.h"

// Generous bounds: the tests also run under sanitizers on a busy machine.
inline constexpr int kIdleTimeoutMs = 20000;
inline constexpr int kClearMark = -1; // kind recorded for ClearAll()

struct SConsoleEntry {
    std::string text;
    int kind;
    bool operator==(const SConsoleEntry& other) const { return text == other.text && kind == other.kind; }
};

inline std::ostream& operator<<(std::ostream& os, const SConsoleEntry& e)
{
    return os << "{" << e.kind << ", \"" << e.text << "\"}";
}

// Joins neighbouring entries of the same kind, so that expectations do not
// depend on how Tcl splits its writes.
inline std::vector<SConsoleEntry> Merged(const std::vector<SConsoleEntry>& entries)
{
    std::vector<SConsoleEntry> out;
    for (const SConsoleEntry& e : entries) {
        if (!out.empty() && out.back().kind == e.kind && e.kind != kClearMark)
            out.back().text += e.text;
        else
            out.push_back(e);
    }
    return out;
}

// Records every print and clear; serves a history set by the test. Can hold
// every print until released, like a pane whose UI thread is busy.
class CRecordingConsole : public IConsole {
public:
    void PrintToConsole(const std::string& text, int kind) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return !m_blocked; });
        m_entries.push_back({text, kind});
        m_cv.notify_all();
    }
    void ClearAll() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.push_back({"", kClearMark});
        m_cv.notify_all();
    }
    int HistoryCount() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(m_history.size());
    }
    std::string HistoryAt(int index) const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_history.at(static_cast<size_t>(index));
    }

    void SetHistory(std::vector<std::string> newestFirst)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_history = std::move(newestFirst);
    }
    std::vector<SConsoleEntry> Entries(size_t from = 0) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::vector<SConsoleEntry>(m_entries.begin() + static_cast<long>(std::min(from, m_entries.size())),
                                          m_entries.end());
    }
    size_t Size() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_entries.size();
    }
    // All printed text from entry `from` on.
    std::string Text(size_t from = 0) const
    {
        std::string text;
        for (const SConsoleEntry& e : Entries(from))
            text += e.text;
        return text;
    }
    bool WaitForText(const std::string& fragment, int timeoutMs = kIdleTimeoutMs, size_t from = 0)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            std::string text;
            for (size_t i = from; i < m_entries.size(); ++i)
                text += m_entries[i].text;
            return text.find(fragment) != std::string::npos;
        });
    }
    void BlockPrints()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_blocked = true;
    }
    void ReleasePrints()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_blocked = false;
        m_cv.notify_all();
    }

private:
    mutable std::mutex m_mutex;   // guards everything below
    std::condition_variable m_cv; // a new entry, or prints released
    std::vector<SConsoleEntry> m_entries;
    std::vector<std::string> m_history; // slot 0 is the newest
    bool m_blocked = false;
};

// Records questions and quit requests. A question waits for Answer() (or
// takes an answer given beforehand) or until its abandon signal is set.
class CRecordingPrompt : public IUserPrompt {
public:
    void ShowMessage(const std::string& text, const CCancelSignal* abandon = nullptr) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.push_back(text);
    }
    bool AskYesNo(const std::string& text, const CCancelSignal* abandon = nullptr) override
    {
        // Subscribe before taking m_mutex: the wake-up takes it under the signal's lock.
        CCancelSignal::Subscription wake;
        if (abandon) {
            wake = abandon->OnCancel([this] {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_cv.notify_all();
            });
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        m_questions.push_back(text);
        m_abandons.push_back(abandon);
        m_cv.notify_all();
        m_cv.wait(lock, [&] { return m_answer.has_value() || (abandon && abandon->IsCancelled()); });
        bool answer = m_answer.value_or(false);
        m_answer.reset();
        lock.unlock();
        return answer;
    }
    void RequestQuit() override { ++m_quitRequests; }

    void Answer(bool yes)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answer = yes;
        m_cv.notify_all();
    }
    bool WaitForQuestions(size_t count, int timeoutMs = kIdleTimeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_questions.size() >= count; });
    }
    std::vector<std::string> Questions() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_questions;
    }
    std::vector<const CCancelSignal*> Abandons() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_abandons;
    }
    int QuitRequests() const { return m_quitRequests.load(); }

private:
    mutable std::mutex m_mutex;   // guards everything below but m_quitRequests
    std::condition_variable m_cv; // a question, an answer or an abandon
    std::vector<std::string> m_questions;
    std::vector<const CCancelSignal*> m_abandons;
    std::vector<std::string> m_messages;
    std::optional<bool> m_answer;
    std::atomic<int> m_quitRequests{0};
};

// The main window as the host sees it, made of the recorders above.
class CTestOwner : public ITclHostOwner, public ITclLogOwner {
public:
    CSessionLog log; // fed by an engine only when a test adds it as an observer
    CRecordingConsole console;
    CRecordingPrompt prompt;
    std::atomic<int> openPort{0};
    CSerialPort* port = nullptr; // set by tests that bring an engine

    IConsole* ConsolePane() override { return &console; }
    int OpenPort() const override { return openPort.load(); }
    CSerialPort& SerialPort() override
    {
        if (!port)
            std::abort(); // a test reached the engine without providing one
        return *port;
    }
    IUserPrompt& Prompt() override { return prompt; }
    CSessionLog& SessionLog() override { return log; }
};

// A host wired to a test owner, submitting as the console pane does.
class CTclHostHarness {
public:
    CTestOwner owner; // declared first: outlives the host
    CTclHost host;

    CTclHostHarness() { host.SetMainWindow(&owner); }

    void Submit(const std::string& text)
    {
        host.AttachConsole();
        host.SubmitCommandText(text);
    }
    // Submits text, waits until the host is idle and returns what was printed
    // meanwhile, merged by kind.
    std::vector<SConsoleEntry> Run(const std::string& text)
    {
        size_t from = owner.console.Size();
        Submit(text);
        if (!host.WaitIdle(kIdleTimeoutMs))
            return {{"<host still busy>", -2}};
        return Merged(owner.console.Entries(from));
    }
};
