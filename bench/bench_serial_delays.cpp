// Accuracy of the transmit delays (time per SendByte against CharDelay and
// LineDelay) and of SendAndCollect's windows (its duration, and where an
// answer stops being collected).
#include <algorithm>
#include <thread>
#include <vector>

#include "BenchSerialSupport.h"

using namespace bench;

namespace {

void TransmitDelays()
{
    SBenchPort p(CDevSim::EMode::Silent);
    struct {
        int charDelay, lineDelay;
        unsigned char byte;
        int count;
    } cases[] = {{0, 0, 'a', 200}, {1, 0, 'a', 200}, {10, 0, 'a', 50}, {50, 0, 'a', 20}, {0, 100, '\r', 10},
                 {0, 500, '\n', 4}};
    std::printf("transmit delays (per SendByte):\n");
    for (auto& c : cases) {
        p.port.SetTransmitDelays(c.charDelay, c.lineDelay);
        std::vector<double> times;
        for (int i = 0; i < c.count; ++i) {
            auto start = Clock::now();
            p.port.SendByte(c.byte);
            times.push_back(MsBetween(start, Clock::now()));
        }
        std::sort(times.begin(), times.end());
        double sum = 0;
        for (double t : times)
            sum += t;
        int target = c.byte == 'a' ? c.charDelay : c.lineDelay;
        std::printf("  %-9s %4d ms: mean %8.3f ms, median %8.3f, max %8.3f (mean over target %+.3f ms)\n",
                    c.byte == 'a' ? "CharDelay" : "LineDelay", target, sum / times.size(), times[times.size() / 2],
                    times.back(), sum / times.size() - target);
    }
}

void CollectWindows()
{
    std::printf("SendAndCollect (InternalReadDelay 5, ReadDelay 200):\n");
    {
        SBenchPort p(CDevSim::EMode::Silent);
        p.port.SetInternalReadDelay(5);
        p.port.SetReadDelay(200);
        std::vector<double> times;
        for (int i = 0; i < 10; ++i) {
            auto start = Clock::now();
            p.port.SendAndCollect("AT\r");
            times.push_back(MsBetween(start, Clock::now()));
        }
        std::sort(times.begin(), times.end());
        std::printf("  duration with a silent device: median %.2f ms, max %.2f ms (target 205 + 3 bytes)\n",
                    times[times.size() / 2], times.back());
    }
    std::printf("  answer delay -> collected? (the window closes 200 ms after the 5 ms clear)\n   ");
    for (int delay = 185; delay <= 225; delay += 5) {
        SBenchPort p(CDevSim::EMode::Modem, delay);
        p.port.SetInternalReadDelay(5);
        p.port.SetReadDelay(200);
        int collected = 0;
        for (int i = 0; i < 5; ++i) {
            collected += p.port.SendAndCollect("AT\r").find("OK") != std::string::npos;
            // Let a late answer pass before the next attempt clears the buffer.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        std::printf(" %d ms: %d/5", delay, collected);
        std::fflush(stdout);
    }
    std::printf("\n");
}

} // namespace

int main()
{
    TransmitDelays();
    CollectWindows();
    return 0;
}
