// Send rate with zero transmit delays: one sender, then three at once.
#include <thread>
#include <vector>

#include "BenchSerialSupport.h"

using namespace bench;

int main()
{
    const int total = 64 * 1024;
    SBenchPort p(CDevSim::EMode::Silent);
    for (int senders : {1, 3}) {
        p.device.ClearReceived();
        auto start = Clock::now();
        std::vector<std::thread> threads;
        std::atomic<int> failed{0};
        for (int s = 0; s < senders; ++s)
            threads.emplace_back([&] {
                for (int i = 0; i < total / senders; ++i)
                    if (!p.port.SendByte(static_cast<unsigned char>('a' + i % 26)))
                        ++failed;
            });
        for (auto& t : threads)
            t.join();
        double ms = MsBetween(start, Clock::now());
        int sent = (total / senders) * senders;
        p.device.WaitForReceived(static_cast<std::size_t>(sent), 10000);
        std::printf("%d sender(s): %d bytes in %.0f ms = %.0f bytes/s (%.1f us per byte), %d failed, device got %zu\n",
                    senders, sent, ms, sent / (ms / 1000.0), ms * 1000.0 / sent, failed.load(),
                    p.device.ReceivedCount());
    }
    return 0;
}
