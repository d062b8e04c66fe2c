// The serial Tcl commands against a simulated device on a pseudo-terminal,
// evaluated by the Tcl host as the console does:
//   - how long `SendOutR AT\r` takes against the modem with the default read
//     delays (median of 20), for a modem answering after 30 ms and at once;
//   - bytes per second of `SendOut` with a 64 KB text and no transmit delays.
//
//   bench_tcl_serial [rounds]

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "core/IUserPrompt.h"
#include "console/IConsole.h"
#include "console/TclHost.h"
#include "devsim/DevSim.h"
#include "serial/PortMap.h"
#include "serial/SerialPort.h"
#include "BenchTclSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::string Visible(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

void SendOutRDuration(int answerDelayMs, int rounds)
{
    CDevSim::SOptions options;
    options.mode = CDevSim::EMode::Modem;
    options.answerDelayMs = answerDelayMs;
    CRig rig(options);
    std::vector<double> ms;
    // What the results held: exactly the answer, nothing, or something else
    // (an echo that came after the internal read delay, part of the answer).
    int exact = 0, empty = 0;
    std::string other;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        const std::string result = rig.Eval("SendOutR AT\\r");
        ms.push_back(Ms(Clock::now() - start));
        if (result == "\r\nOK\r\n\n")
            ++exact;
        else if (result.empty())
            ++empty;
        else
            other = result;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("SendOutR AT\\r, modem answering after %3d ms: median %.1f ms (min %.1f, max %.1f) over %d; "
                "result the answer %d, empty %d, other %d%s%s%s\n",
                answerDelayMs, ms[ms.size() / 2], ms.front(), ms.back(), rounds, exact, empty, rounds - exact - empty,
                other.empty() ? "" : " (e.g. \"", Visible(other).c_str(), other.empty() ? "" : "\")");
}

void SendOutRate(int rounds)
{
    constexpr std::size_t kBytes = 64 * 1024;
    CDevSim::SOptions options;
    options.mode = CDevSim::EMode::Silent;
    CRig rig(options);
    rig.m_owner.m_port.SetTransmitDelays(0, 0);
    rig.Eval("set text [string repeat {0123456789abcdef} 4096]");
    std::vector<double> rates;
    for (int i = 0; i < std::max(1, rounds / 4); ++i) {
        rig.m_device.ClearReceived();
        const auto start = Clock::now();
        rig.Eval("SendOut $text");
        const double s = Ms(Clock::now() - start) / 1000.0;
        if (!rig.m_device.WaitForReceived(kBytes, 10000) || rig.m_device.ReceivedCount() != kBytes) {
            std::fprintf(stderr, "device received %zu of %zu bytes\n", rig.m_device.ReceivedCount(), kBytes);
            std::exit(1);
        }
        rates.push_back(kBytes / s);
    }
    std::sort(rates.begin(), rates.end());
    std::printf("SendOut of 64 KB, no transmit delays: median %.0f bytes/s (%.1f us per byte), min %.0f, max %.0f "
                "over %zu runs\n",
                rates[rates.size() / 2], 1e6 / rates[rates.size() / 2], rates.front(), rates.back(), rates.size());
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    SendOutRDuration(30, rounds);
    SendOutRDuration(0, rounds);
    SendOutRate(rounds);
    return 0;
}
