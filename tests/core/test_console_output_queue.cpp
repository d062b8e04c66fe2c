// The console's output queue between the threads that print and the console
// pane, with real writer threads and a slower pane (also run under
// ThreadSanitizer): every print shown once and in order, prompts in their
// place, writers held at the bound and released by a clear or an abort.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "console/ConsoleOutputQueue.h"
#include "console/IConsole.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kHang = std::chrono::seconds(30); // reached only when something hangs
constexpr std::size_t kAll = std::numeric_limits<std::size_t>::max();

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

// What writer `w` prints: numbered lines in its own kind, and with a prompt
// after every 500th line.
std::string WriterStream(int w, int lines)
{
    std::string text;
    for (int n = 0; n < lines; ++n) {
        text += std::to_string(w) + ":" + std::to_string(n) + "\n";
        if (n % 500 == 499)
            text += "<prompt>";
    }
    return text;
}

} // namespace

TEST(ConsoleOutputQueue, SlowPaneGetsEveryPrintOnceInOrderWhileWritersWaitAtTheBound)
{
    constexpr std::size_t kBound = 2048, kSlice = 100;
    constexpr int kWriters = 3, kLines = 3000;
    CConsoleOutputQueue queue(kBound);
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

    std::atomic<int> writersDone{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int n = 0; n < kLines; ++n) {
                queue.Print(std::to_string(w) + ":" + std::to_string(n), w); // Tcl writes the line feed apart
                queue.Print("\n", w);
                if (n % 500 == 499)
                    queue.Print(kConsolePrompt, w);
            }
            ++writersDone;
        });
    }

    // The pane comes when told, lets the backlog reach the bound (so that the
    // writers have to wait), then takes it in small slices.
    std::string shown[kWriters];
    int strays = 0;
    auto Show = [&](const SConsoleRun& run) {
        if (run.kind < 0 || run.kind >= kWriters || run.type == SConsoleRun::kClear)
            ++strays;
        else
            shown[run.kind] += run.type == SConsoleRun::kPrompt ? "<prompt>" : run.text;
    };
    std::size_t largest = 0;
    bool hung = false;
    while (writersDone < kWriters && !hung) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            hung = !wake.wait_until(lock, Clock::now() + kHang, [&] { return told; });
            told = false;
        }
        hung = hung || !Eventually([&] { return queue.Waiting() >= kBound || writersDone == kWriters; });
        for (bool left = true; left && !hung;) {
            largest = std::max(largest, queue.Waiting());
            std::vector<SConsoleRun> runs;
            left = queue.Take(kSlice, runs);
            for (const SConsoleRun& run : runs)
                Show(run);
        }
    }
    queue.Abort(); // a pane that gave up still lets the writers go
    for (std::thread& writer : writers)
        writer.join();
    std::vector<SConsoleRun> rest;
    queue.Take(kAll, rest);
    for (const SConsoleRun& run : rest)
        Show(run);

    ASSERT_FALSE(hung) << "the pane was not told that output was waiting";
    EXPECT_EQ(strays, 0) << "runs of a kind nobody printed, or a clear nobody asked for";
    for (int w = 0; w < kWriters; ++w)
        EXPECT_EQ(shown[w], WriterStream(w, kLines)) << "writer " << w;
    EXPECT_GE(largest, kBound);
    EXPECT_LT(largest, kBound + kWriters * 128); // each writer stopped at the bound, a print beyond it at most
}

TEST(ConsoleOutputQueue, AWriterAtTheBoundIsReleasedByAClearAndByAnAbort)
{
    constexpr std::size_t kBound = 1000;
    CConsoleOutputQueue queue(kBound);
    // Prints in alternating kinds are never joined: each one is a run.
    auto text = [](int i) { return std::string(200, static_cast<char>('a' + i % 26)); };
    std::atomic<int> returned{0};
    std::thread writer([&] {
        for (int i = 0; i < 1000; ++i) {
            queue.Print(text(i), i % 2);
            ++returned;
        }
    });

    // The 4th print reaches the bound: the writer waits inside it.
    ASSERT_TRUE(Eventually([&] { return queue.Waiting() >= kBound; }));
    EXPECT_EQ(returned.load(), 3);
    // A clear drops what waits before it, the 4th print too, and makes room.
    queue.Clear();
    ASSERT_TRUE(Eventually([&] { return returned.load() == 7 && queue.Waiting() >= kBound; }));
    queue.Abort();
    const bool released = Eventually([&] { return returned.load() == 1000; });
    std::vector<SConsoleRun> runs;
    while (returned.load() < 1000)
        queue.Take(kAll, runs); // not released: drain, so that the test fails instead of hanging
    writer.join();
    ASSERT_TRUE(released);

    // The clear, then the prints up to the abort, whole; nothing after it got in.
    runs.clear();
    EXPECT_FALSE(queue.Take(kAll, runs));
    ASSERT_EQ(runs.size(), 5u);
    EXPECT_EQ(runs[0].type, SConsoleRun::kClear);
    for (int i = 4; i < 8; ++i) {
        EXPECT_EQ(runs[i - 3].type, SConsoleRun::kText);
        EXPECT_EQ(runs[i - 3].kind, i % 2);
        EXPECT_EQ(runs[i - 3].text, text(i));
    }
}

// A huge print goes to the pane in runs it can take a slice at a time, and no
// cut falls inside a character: the pane decodes each run on its own.
TEST(ConsoleOutputQueue, AHugePrintIsCutBetweenCharacters)
{
    std::string text;
    while (text.size() < 5 * CConsoleOutputQueue::kRunLimit)
        text += "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"; // characters of 1, 2, 3 and 4 bytes
    CConsoleOutputQueue queue(text.size() + (1 << 20));
    queue.Print("x", kConsoleOutput);
    queue.Print(text, kConsoleOutput);
    std::vector<SConsoleRun> runs;
    EXPECT_FALSE(queue.Take(kAll, runs));
    ASSERT_GE(runs.size(), 5u);
    std::string joined;
    for (const SConsoleRun& run : runs) {
        EXPECT_LE(run.text.size(), CConsoleOutputQueue::kRunLimit);
        EXPECT_NE(static_cast<unsigned char>(run.text.at(0)) & 0xC0, 0x80) << "a run starts inside a character";
        joined += run.text;
    }
    EXPECT_EQ(joined, "x" + text);
}
