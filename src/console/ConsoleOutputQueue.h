#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// One piece of console output, in the order it was printed: text in the
// colour of its kind, a fresh prompt (printing exactly kConsolePrompt), or
// the clearing of the pane.
struct SConsoleRun {
    enum Type { kText, kPrompt, kClear };
    Type type = kText;
    int kind = 0;
    std::string text; // kText only
};

// The run that printing `text` in `kind` stands for.
SConsoleRun MakeConsoleRun(const std::string& text, int kind);

// Console output on its way from the threads that print (the Tcl thread above
// all) to the console pane. A writer queues its text and goes on at once; the
// pane takes the runs in batches on its own thread, so a script that prints
// line after line costs the pane one insert per batch instead of a round trip
// per line. Text of one kind printed in a row joins one run. When the bound is
// reached a writer waits instead of dropping: memory stays bounded and
// nothing is lost. Abort (shut-down) releases waiting writers and drops what
// is printed later.
class CConsoleOutputQueue {
public:
    static constexpr std::size_t kDefaultBound = 4 << 20;
    // Longest text of one run: joined text stops growing there and a long
    // print is cut (between characters), so that the pane takes output in
    // slices that fit in a frame.
    static constexpr std::size_t kRunLimit = 8 << 10;

    explicit CConsoleOutputQueue(std::size_t bound = kDefaultBound) : m_bound(bound) {}

    // The writers' side, any thread but the pane's. Print returns once the
    // text is queued, waiting first while the bound is reached.
    void Print(const std::string& text, int kind);
    // Queues the clearing of the pane. What waits before it would be cleared
    // anyway: it is dropped now, which also makes room for writers.
    void Clear();
    void Abort();

    // The pane's side. The handler runs on the writer's thread, under the
    // queue's lock, when output starts waiting: it only posts work to the
    // pane's thread and never calls back into the queue. No further call
    // comes until the pane has taken everything.
    void SetDataWaitingHandler(std::function<void()> handler);
    // Moves whole runs from the front into `runs`, at least one and no more
    // text than maxBytes beyond the first. True when output is left: the pane
    // comes back for it without being told.
    bool Take(std::size_t maxBytes, std::vector<SConsoleRun>& runs);
    // What counts against the bound: the text waiting plus a cost per run.
    std::size_t Waiting() const;

private:
    void Append(SConsoleRun run);

    const std::size_t m_bound;
    mutable std::mutex m_mutex;     // guards every member below
    std::condition_variable m_room; // writers wait here while the bound is reached
    std::deque<SConsoleRun> m_runs;
    std::size_t m_waiting = 0;
    std::function<void()> m_dataWaiting;
    bool m_paneTold = false; // the handler ran and the pane has not yet taken everything
    bool m_aborted = false;
};
