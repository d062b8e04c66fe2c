#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

class CCancelSignal;

// The bytes a script's expect matches against: the newest received bytes,
// at most Max() of them, exactly as they came off the line (NUL and bytes
// above 0x7F included). It is independent of the terminal display and of
// the receive buffer that SendOutR reads. Overflow drops the oldest bytes
// and counts them. Positions are absolute (counted from the first byte of
// the opening), so a match found in a snapshot is consumed correctly even
// if more bytes arrived, or old ones were dropped, meanwhile.
//
// Any thread may append; waiters sleep on a condition variable that every
// append, end of file and cancel wakes.
class CMatchBuffer {
public:
    static constexpr std::size_t kDefaultMax = 1024 * 1024;

    struct SSnapshot {
        std::string bytes;       // oldest byte first (from the position asked for)
        uint64_t start = 0;      // absolute position of bytes[0]
        uint64_t first = 0;      // absolute position of the oldest byte held
        uint64_t generation = 0; // changes with every append, consume and end of file
        uint64_t dropped = 0;    // bytes lost to overflow since Reopen
        uint64_t epoch = 0;      // counts Reopen calls
        bool eof = false;
    };
    enum class EWait { Changed, TimedOut, Cancelled };

    // Appends received bytes; nothing once end of file is marked.
    void Append(const char* bytes, std::size_t n);
    // The source has ended (port closed, device gone): waiters wake.
    void MarkEof();
    // A new opening: empty, no end of file, no dropped bytes.
    void Reopen();

    // The bytes held from absolute position `from` on (all of them when
    // `from` is older than the oldest), so that a reader that keeps a copy
    // only takes what is new.
    SSnapshot Snapshot(uint64_t from = 0) const;
    // Drops every byte before absolute position `end` (a match's end).
    void ConsumeTo(uint64_t end);
    void Clear();
    uint64_t Dropped() const;

    std::size_t Max() const;
    void SetMax(std::size_t max); // drops (and counts) the oldest bytes beyond it

    // Waits until the generation differs from `seen`, the deadline passes
    // (none: forever) or cancel is set.
    EWait WaitForChange(uint64_t seen, std::optional<std::chrono::steady_clock::time_point> deadline,
                        const CCancelSignal* cancel) const;

    // Called after every append and at end of file, on the appending thread
    // and under the buffer's lock: it must only hand the news on (never call
    // back into this buffer). Empty removes it; once SetListener returns the
    // old listener is not running and will not be called again.
    void SetListener(std::function<void()> listener);

private:
    void DropOverflow(); // under m_mutex
    void Changed();      // under m_mutex

    mutable std::mutex m_mutex;            // guards everything below
    mutable std::condition_variable m_cv;  // generation changed, or a waiter's cancel
    std::string m_bytes;                   // held bytes start at m_head
    std::size_t m_head = 0;
    uint64_t m_start = 0;                  // absolute position of m_bytes[m_head]
    uint64_t m_generation = 0;
    uint64_t m_dropped = 0;
    uint64_t m_epoch = 0;
    std::size_t m_max = kDefaultMax;
    bool m_eof = false;
    std::function<void()> m_listener;
};
