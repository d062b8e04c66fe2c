#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What a session log holds and how it marks it.
struct SLogOptions {
    bool timestamps = false; // "[2026-12-08 12:00:00.123] " before each line
    bool sent = false;       // sent bytes too, each line tagged with its direction
    bool raw = false;        // received bytes exactly as they came, nothing added
    bool append = false;     // add to an existing file instead of replacing it
};

// "[2026-12-08 12:00:00.123] ": local time of ms since the epoch.
std::string FormatLogTime(int64_t msSinceEpoch);

// Turns the bytes of a session into the text of its log, a piece at a time.
//
// Received bytes are written as they came. With timestamps, each line of the
// log starts with the arrival time of its first byte. With sent data, each
// line starts (after the timestamp) with its direction, "RX: " or "TX: ",
// so that a reader can separate the two streams again: when the direction
// changes within a line the log breaks the line there, and the next line
// starts "RX~ " or "TX~ " to say that the line break before it was the
// log's, not the data's. Raw mode writes received bytes only, unchanged.
class CLogFormatter {
public:
    enum class EDirection { Received, Sent };

    explicit CLogFormatter(const SLogOptions& options) : m_options(options) {}

    // Appends to `out` the log text of bytes [0, n) that went `direction` at
    // msSinceEpoch. Sent bytes are left out unless the options ask for them.
    void Add(EDirection direction, int64_t msSinceEpoch, const char* data, std::size_t n, std::string& out);

private:
    SLogOptions m_options;
    bool m_lineOpen = false;                 // the log's current line has no line break yet
    EDirection m_lineDirection = EDirection::Received;
    bool m_breakMade = false;                // the log broke the line before the next one
    int64_t m_stampSecond = INT64_MIN;       // the second whose text is cached in m_stamp
    std::string m_stamp;
};
