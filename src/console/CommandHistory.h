#pragma once

#include <array>
#include <mutex>
#include <string>
#include <vector>

// The console pane's short history of entered lines, browsed with Up and
// Down. Slot 0 is the newest entry. Changed on the UI thread, read by the
// cmdhist command on the Tcl thread; every member function takes the lock.
class CCommandHistory {
public:
    static constexpr int kSlots = 15;

    // Stores text as the newest entry unless it equals the newest entry;
    // the oldest of 15 is dropped. Ends browsing either way.
    void Add(const std::string& text);
    // Adds a line entered at the prompt: line feeds removed and blanks
    // trimmed from both ends; empty lines and "cmdhist" are not stored.
    void AddEnteredLine(const std::string& line);
    // Up: the next older slot (stops at the oldest slot; an empty text past
    // the oldest stored entry).
    std::string Older();
    // Down: the next newer slot, or an empty text past the newest.
    std::string Newer();

    int GetCount() const;
    // The text in slot index; an empty text for an index outside 0..14.
    std::string GetAt(int index) const;
    // The stored entries, newest first, read under one lock.
    std::vector<std::string> Snapshot() const;

private:
    mutable std::mutex m_mutex;
    std::array<std::string, kSlots> m_slots; // guarded by m_mutex
    int m_count = 0;                          // guarded by m_mutex; 0..15
    int m_cursor = -1;                        // guarded by m_mutex; -1 = not browsing
};
