#pragma once

// What the serial benchmarks share: a prompt that prints, a sink that only
// counts, and a port on a simulated device.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>

#include "core/IUserPrompt.h"
#include "devsim/DevSim.h"
#include "serial/ITerminalSink.h"
#include "serial/PortMap.h"
#include "serial/SerialPort.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double MsBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// The process's resident memory in kB, -1 if unknown.
inline long ResidentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

class CPrintingPrompt : public IUserPrompt {
public:
    void ShowMessage(const std::string& text, const CCancelSignal*) override
    {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
    bool AskYesNo(const std::string&, const CCancelSignal*) override { return false; }
    void RequestQuit() override {}
};

// Counts bytes and chunks; wakes a waiter when a target is reached.
class CCountingSink : public ITerminalSink {
public:
    void AppendReceivedText(const char* chunk) override
    {
        std::size_t n = 0;
        while (chunk[n])
            ++n;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bytes += n;
        ++m_chunks;
        if (m_bytes >= m_target)
            m_reached.notify_all();
    }
    void Reset(std::size_t target)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bytes = m_chunks = 0;
        m_target = target;
    }
    bool Wait(int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_reached.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_bytes >= m_target; });
    }
    std::size_t Chunks()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_chunks;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_reached;
    std::size_t m_bytes = 0, m_chunks = 0, m_target = 0;
};

// A connected port on COM1 with the given device behind it.
struct SBenchPort {
    CPrintingPrompt prompt;
    CCountingSink sink;
    CDevSim device;
    CPortMap ports;
    CSerialPort port{prompt, ports};

    explicit SBenchPort(CDevSim::EMode mode, int answerDelayMs = 0)
    {
        CDevSim::SOptions options;
        options.mode = mode;
        options.answerDelayMs = answerDelayMs;
        std::string error;
        if (!device.Start(options, error)) {
            std::fprintf(stderr, "devsim: %s\n", error.c_str());
            std::exit(1);
        }
        ports.Map(1, device.Path());
        port.AttachTerminal(&sink);
        if (!port.Open("COM1") || !port.ReadState()) {
            std::fprintf(stderr, "open: %s\n", port.LastOpenError().c_str());
            std::exit(1);
        }
        DCB dcb = port.Dcb();
        dcb.BaudRate = 115200;
        port.ApplySettings(dcb);
        port.StartThreads();
    }
};

} // namespace bench
