#pragma once

// Recorders and a fixture shared by the serial tests: a user prompt that
// records messages, a terminal sink that records chunks, and a port engine
// on COM1 with a simulated device behind it.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/CancelSignal.h"
#include "core/IUserPrompt.h"
#include "devsim/DevSim.h"
#include "serial/ITerminalSink.h"
#include "serial/PortMap.h"
#include "serial/SerialPort.h"

namespace serial_test {

// Starts `device` as a silent simulated device: it answers nothing and
// records what it receives.
inline ::testing::AssertionResult StartSilent(CDevSim& device)
{
    CDevSim::SOptions options;
    options.mode = CDevSim::EMode::Silent;
    std::string error;
    if (device.Start(options, error))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << error;
}

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// For states only the kernel knows (bytes waiting in a pseudo-terminal), which
// offer no event to wait on: tests the condition until the deadline.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = Clock::now() + milliseconds(timeoutMs);
    while (!condition()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

// Records every message. With blockUntilAbandoned it behaves like a message
// box nobody dismisses: the call returns only when its abandon signal is set.
class CRecordingPrompt : public IUserPrompt {
public:
    std::atomic<bool> blockUntilAbandoned{false};

    void ShowMessage(const std::string& text, const CCancelSignal* abandon) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_messages.push_back(text);
        }
        m_changed.notify_all();
        if (blockUntilAbandoned && abandon) {
            auto sub = abandon->OnCancel([this] {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_changed.notify_all();
            });
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [&] { return abandon->IsCancelled(); });
        }
    }
    bool AskYesNo(const std::string&, const CCancelSignal*) override { return false; }
    void RequestQuit() override {}

    std::vector<std::string> Messages() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }
    bool WaitForMessages(std::size_t n, int timeoutMs) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, milliseconds(timeoutMs), [&] { return m_messages.size() >= n; });
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_messages;
};

// Records every chunk the reader delivers. With blockUntilAborted it stands
// for a UI thread that never gets round to showing the chunk.
class CRecordingSink : public ITerminalSink {
public:
    std::atomic<bool> blockUntilAborted{false};
    std::atomic<bool> keepEscapesAndHighBytes{false};

    bool WantsEscapesAndHighBytes() const override { return keepEscapesAndHighBytes.load(); }

    void AppendReceivedText(const char* chunk) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_chunks.emplace_back(chunk);
        m_bytes += m_chunks.back().size();
        m_changed.notify_all();
        if (blockUntilAborted)
            m_changed.wait(lock, [&] { return m_aborted; });
    }
    void AbortDelivery() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_aborted = true;
        ++m_aborts;
        m_changed.notify_all();
    }
    void ResumeDelivery() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_aborted = false;
        ++m_resumes;
    }

    std::vector<std::string> Chunks() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_chunks;
    }
    std::string Text() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::string all;
        for (auto& c : m_chunks)
            all += c;
        return all;
    }
    int Aborts() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_aborts;
    }
    int Resumes() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_resumes;
    }
    bool WaitForChunks(std::size_t n, int timeoutMs) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, milliseconds(timeoutMs), [&] { return m_chunks.size() >= n; });
    }
    bool WaitForBytes(std::size_t n, int timeoutMs) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, milliseconds(timeoutMs), [&] { return m_bytes >= n; });
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_chunks;
    std::size_t m_bytes = 0;
    bool m_aborted = false;
    int m_aborts = 0;
    int m_resumes = 0;
};

// What Connect does after Open: read the line's state and apply it as 8N1 at
// 115200 without flow control.
inline void ApplyLineSettings(CSerialPort& port)
{
    ASSERT_TRUE(port.ReadState());
    DCB dcb = port.Dcb();
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    const SResult applied = port.ApplySettings(dcb);
    ASSERT_TRUE(applied.ok) << applied.reason;
}

// An engine whose COM1 leads to a simulated device.
class CSerialFixture : public ::testing::Test {
protected:
    void StartDevice(CDevSim::EMode mode, int answerDelayMs = 0)
    {
        CDevSim::SOptions options;
        options.mode = mode;
        options.answerDelayMs = answerDelayMs;
        std::string error;
        ASSERT_TRUE(m_device.Start(options, error)) << error;
        m_ports.Map(1, m_device.Path());
        m_port.AttachTerminal(&m_sink);
    }
    // Open, read the state, configure (8N1 at 115200, no flow control),
    // optionally start the threads: what Connect does.
    void Connect(bool startThreads = true)
    {
        ASSERT_TRUE(m_port.Open("COM1")) << m_port.LastOpenError();
        ApplyLineSettings(m_port);
        if (startThreads)
            m_port.StartThreads();
    }
    // Bytes injected by the device, waiting at the port before its reader runs.
    void InjectAndSettle(const std::string& bytes)
    {
        m_device.Inject(bytes);
        ASSERT_TRUE(WaitUntil([&] { return m_device.WaitingAtPort() >= bytes.size(); }, 5000))
            << "waiting: " << m_device.WaitingAtPort();
    }

    CRecordingPrompt m_prompt;
    CRecordingSink m_sink;
    CDevSim m_device;
    CPortMap m_ports;
    CSerialPort m_port{m_prompt, m_ports}; // declared last: closed and joined first
};

} // namespace serial_test
