// Receive ingest: a 16 MB flood from the simulated device through the reader
// into a sink that only counts.
#include "BenchSerialSupport.h"

using namespace bench;

int main()
{
    const std::size_t total = 16u << 20;
    SBenchPort p(CDevSim::EMode::Silent);
    for (int run = 1; run <= 3; ++run) {
        p.sink.Reset(total);
        auto start = Clock::now();
        p.device.Flood(total);
        if (!p.sink.Wait(120000)) {
            std::printf("run %d: flood did not arrive within 120 s\n", run);
            return 1;
        }
        double ms = MsBetween(start, Clock::now());
        std::printf("run %d: %zu bytes in %.0f ms = %.1f MB/s, %zu chunks (%.1f bytes each)\n", run, total, ms,
                    total / 1048576.0 / (ms / 1000.0), p.sink.Chunks(), double(total) / p.sink.Chunks());
    }
    return 0;
}
