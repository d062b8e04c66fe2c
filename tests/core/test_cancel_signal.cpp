#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/CancelSignal.h"

using namespace std::chrono;

TEST(CancelSignal, WaitEndsEarlyWhenCancelledFromAnotherThread)
{
    CCancelSignal signal;
    auto start = steady_clock::now();
    std::thread canceller([&] { signal.Cancel(); });
    EXPECT_FALSE(signal.WaitFor(60000));
    canceller.join();
    EXPECT_LT(steady_clock::now() - start, seconds(5));
    EXPECT_TRUE(signal.IsCancelled());
    signal.Reset();
    EXPECT_TRUE(signal.WaitFor(1));
}

TEST(CancelSignal, SubscriptionWakesForeignWaitAndUnregisters)
{
    CCancelSignal signal;
    std::mutex m;
    std::condition_variable cv;
    int wakes = 0;
    {
        auto sub = signal.OnCancel([&] {
            std::lock_guard<std::mutex> lock(m);
            ++wakes;
            cv.notify_all();
        });
        std::thread canceller([&] { signal.Cancel(); });
        std::unique_lock<std::mutex> lock(m);
        EXPECT_TRUE(cv.wait_for(lock, seconds(10), [&] { return wakes == 1; }));
        lock.unlock();
        canceller.join();
    }
    signal.Reset();
    signal.Cancel(); // the subscription is gone: no further wake
    EXPECT_EQ(wakes, 1);
}
