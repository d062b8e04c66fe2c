// The received-text queue between the serial reader and the terminal view,
// with a real reader thread and a slower view (also run under
// ThreadSanitizer): nothing lost or duplicated, order kept, the reader held
// at the bound and released by an abort.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "terminal/ReceivedTextQueue.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kHang = std::chrono::seconds(30); // reached only when something hangs

// Waits until `condition` holds; false if it does not within kHang.
template <class F> bool Eventually(F condition)
{
    const auto deadline = Clock::now() + kHang;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

// Numbered lines: text the shaping passes unchanged.
std::string NumberedLines(int count)
{
    std::string text;
    char line[16];
    for (int i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, "line %06d\n", i);
        text += line;
    }
    return text;
}

} // namespace

TEST(ReceivedTextQueue, SlowViewGetsEveryByteOnceInOrderWhileTheReaderWaitsAtTheBound)
{
    constexpr std::size_t kBound = 1024, kChunk = 100, kSlice = 64;
    CReceivedTextQueue queue(kBound);
    std::mutex mutex;
    std::condition_variable wake;
    bool told = false; // as the pane's posted call
    queue.SetDataWaitingHandler([&] {
        {
            std::lock_guard<std::mutex> lock(mutex);
            told = true;
        }
        wake.notify_one();
    });

    const std::string text = NumberedLines(8000);
    std::atomic<bool> readerDone{false};
    std::thread reader([&] {
        // Chunks of 1 to 100 bytes, as the engine delivers them.
        for (std::size_t at = 0, n = 1; at < text.size(); at += n, n = n % kChunk + 1)
            queue.AppendReceivedText(text.substr(at, n).c_str());
        readerDone = true;
    });

    // The view comes when told, lets the backlog grow to the bound (so the
    // reader has to wait), then drains it in small slices.
    std::string shown;
    std::size_t largest = 0;
    bool hung = false;
    while (shown.size() < text.size() && !hung) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            hung = !wake.wait_until(lock, Clock::now() + kHang, [&] { return told; });
            told = false;
        }
        hung = hung || !Eventually([&] { return queue.Waiting() >= kBound || readerDone; });
        std::string slice;
        for (bool left = true; left;) {
            largest = std::max(largest, queue.Waiting());
            left = queue.Take(kSlice, slice);
            shown += slice;
        }
    }
    queue.AbortDelivery(); // a view that gave up still lets the reader go
    reader.join();

    EXPECT_FALSE(hung) << "the view was not told that text was waiting";
    ASSERT_EQ(shown.size(), text.size());
    const auto diff = std::mismatch(text.begin(), text.end(), shown.begin());
    EXPECT_TRUE(diff.first == text.end()) << "first difference at byte " << (diff.first - text.begin());
    EXPECT_GE(largest, kBound);
    EXPECT_LT(largest, kBound + kChunk); // the reader stopped at the bound: a chunk at most beyond it
}

TEST(ReceivedTextQueue, AbortReleasesAWaitingReaderAndResumeLetsTextInAgain)
{
    constexpr std::size_t kBound = 256;
    const std::string chunk = "0123456789abcdef";
    CReceivedTextQueue queue(kBound);
    std::atomic<int> returned{0};
    std::promise<void> finished;
    std::future<void> done = finished.get_future();
    std::thread reader([&] {
        for (int i = 0; i < 1000; ++i) {
            queue.AppendReceivedText(chunk.c_str());
            ++returned;
        }
        finished.set_value();
    });

    // The 16th chunk fills the bound: the reader waits inside it.
    ASSERT_TRUE(Eventually([&] { return queue.Waiting() >= kBound; }));
    EXPECT_EQ(returned.load(), int(kBound / chunk.size()) - 1);
    queue.AbortDelivery();
    const bool released = done.wait_for(kHang) == std::future_status::ready;
    std::string shown;
    while (done.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        queue.Take(1 << 20, shown); // not released: drain, so the test fails instead of hanging
    reader.join();
    ASSERT_TRUE(released);

    // What came before the abort is kept whole; nothing after it got in.
    EXPECT_FALSE(queue.Take(1 << 20, shown));
    std::string expected;
    for (std::size_t i = 0; i < kBound / chunk.size(); ++i)
        expected += chunk;
    EXPECT_EQ(shown, expected);

    queue.ResumeDelivery();
    queue.AppendReceivedText("next\r");
    queue.AppendReceivedText("\n");
    EXPECT_FALSE(queue.Take(1 << 20, shown));
    EXPECT_EQ(shown, "next\n");
}
