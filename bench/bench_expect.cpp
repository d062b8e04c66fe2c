// expect against a simulated device on a pseudo-terminal, evaluated by the
// Tcl host as the console does:
//   - latency: from the device writing the byte that completes a match to
//     the body of `expect` running (median and p99 of 200 waits; the clock
//     starts as the device is handed the byte, so its own hop is included);
//   - a 1 MB stream of lines at 1 MB/s matched by one expect with 10
//     patterns and exp_continue: every line matched, nothing dropped, and
//     how long after the last byte the expect returned; then the same
//     stream unpaced, for the rate the matching sustains.
// Each figure is given as min and median over the runs.
//
//   bench_expect [runs]

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/IUserPrompt.h"
#include "console/IConsole.h"
#include "console/TclHost.h"
#include "devsim/DevSim.h"
#include "serial/MatchBuffer.h"
#include "serial/PortMap.h"
#include "serial/SerialPort.h"
#include "BenchTclSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

CDevSim::SOptions SilentDevice()
{
    CDevSim::SOptions options;
    options.mode = CDevSim::EMode::Silent;
    return options;
}

// Waits until the engine's match buffer holds `text`.
void WaitForBuffered(CRig& rig, const std::string& text)
{
    CMatchBuffer& buffer = rig.m_owner.m_port.MatchBuffer();
    for (;;) {
        const CMatchBuffer::SSnapshot snap = buffer.Snapshot();
        if (snap.bytes.find(text) != std::string::npos)
            return;
        buffer.WaitForChange(snap.generation, Clock::now() + std::chrono::seconds(10), nullptr);
    }
}

long long WallMicroseconds()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct SLatency {
    double median = 0, p99 = 0;
};

// The body reports Tcl's [clock microseconds], the same wall clock.
SLatency MatchLatency(int waits)
{
    CRig rig(SilentDevice());
    std::vector<double> us;
    for (int i = 0; i < waits; ++i) {
        rig.Submit("expect -timeout 10 -ex {DONE} {clock microseconds}");
        rig.m_device.Inject("prompt> DON");
        WaitForBuffered(rig, "DON");
        const long long sent = WallMicroseconds();
        rig.m_device.Inject("E");
        const std::string result = rig.Result();
        us.push_back(static_cast<double>(std::atoll(result.c_str()) - sent));
    }
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2] / 1000.0, us[us.size() * 99 / 100] / 1000.0};
}

struct SStream {
    long matched = 0, lines = 0, dropped = -1;
    double lagMs = 0;  // last byte handed to the device -> expect returned
    double totalMs = 0;
};

// One expect, ten patterns (six anchored regexps, three anchored globs and
// the exact end marker), counting lines with exp_continue.
SStream Stream(std::size_t bytes, double bytesPerSecond)
{
    CRig rig(SilentDevice());
    std::string text;
    long lines = 0;
    char line[64];
    while (text.size() < bytes) {
        std::snprintf(line, sizeof line, "tag%ld seq=%08ld value=%06ld\r\n", lines % 9, lines, (lines * 7919) % 999983);
        text += line;
        ++lines;
    }
    text += "END\r\n";
    std::string script = "set n 0; expect -timeout 30";
    for (int t = 0; t < 6; ++t)
        script += " -re {^tag" + std::to_string(t) + " seq=(\\d+) value=(\\d+)\\r\\n} {incr n; exp_continue}";
    for (int t = 6; t < 9; ++t)
        script += " -gl \"^tag" + std::to_string(t) + " seq=*\\r\\n\" {incr n; exp_continue}";
    script += " -ex \"END\\r\\n\" {list $n $expect_out(dropped)} timeout {list timeout $n}";
    rig.Submit(script);

    const auto start = Clock::now();
    constexpr std::size_t kSlice = 1000;
    for (std::size_t at = 0; at < text.size(); at += kSlice) {
        if (bytesPerSecond > 0)
            std::this_thread::sleep_until(start + std::chrono::microseconds(
                                                      static_cast<long long>(at / bytesPerSecond * 1e6)));
        rig.m_device.Inject(text.substr(at, kSlice));
    }
    const auto lastHandedOn = Clock::now();
    const std::string result = rig.Result();
    const auto end = Clock::now();
    SStream s;
    s.lines = lines;
    std::sscanf(result.c_str(), "%ld %ld", &s.matched, &s.dropped);
    s.lagMs = std::chrono::duration<double, std::milli>(end - lastHandedOn).count();
    s.totalMs = std::chrono::duration<double, std::milli>(end - start).count();
    return s;
}

void Report(const char* what, std::vector<double> values, const char* unit)
{
    std::sort(values.begin(), values.end());
    std::printf("  %-44s min %8.3f  median %8.3f %s\n", what, values.front(), values[values.size() / 2], unit);
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::vector<double> medians, p99s, lags, totals, rates, fastLags;
    bool allMatched = true;
    for (int r = 0; r < runs; ++r) {
        const SLatency latency = MatchLatency(200);
        medians.push_back(latency.median);
        p99s.push_back(latency.p99);

        const SStream paced = Stream(1 << 20, 1 << 20);
        lags.push_back(paced.lagMs);
        totals.push_back(paced.totalMs);
        const SStream fast = Stream(1 << 20, 0);
        rates.push_back((1 << 20) / (fast.totalMs / 1000.0) / (1 << 20));
        fastLags.push_back(fast.lagMs);
        std::printf("run %d: latency median %.3f ms, p99 %.3f ms; 1 MB at 1 MB/s: %ld of %ld lines, %ld dropped, "
                    "%.0f ms; unpaced: %ld of %ld lines, %ld dropped, %.0f ms\n",
                    r + 1, latency.median, latency.p99, paced.matched, paced.lines, paced.dropped, paced.totalMs,
                    fast.matched, fast.lines, fast.dropped, fast.totalMs);
        allMatched = allMatched && paced.matched == paced.lines && paced.dropped == 0 && fast.matched == fast.lines &&
                     fast.dropped == 0;
    }
    std::printf("over %d runs:\n", runs);
    Report("expect latency, median", medians, "ms (target <= 1)");
    Report("expect latency, p99", p99s, "ms (target <= 5)");
    Report("1 MB at 1 MB/s, 10 patterns: whole run", totals, "ms");
    Report("1 MB at 1 MB/s: last byte -> expect done", lags, "ms");
    Report("1 MB unpaced, 10 patterns: rate", rates, "MB/s");
    std::printf("every line matched, no byte dropped: %s\n", allMatched ? "yes" : "NO");
    return allMatched ? 0 : 1;
}
