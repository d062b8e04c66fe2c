#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/TextStyle.h"

// The text a pane holds: bytes in fixed-size blocks plus the start of every
// line, so that appending costs the same however much is held and dropping
// the oldest lines frees whole blocks without moving the rest.
//
// Positions are absolute offsets counted from the first byte ever appended:
// a position keeps naming the same character when older lines are dropped,
// and positions before Begin() name text that is gone. A line break is the
// byte '\n' and counts towards the capacity like any other byte. Text is
// UTF-8; a cut never splits a character.
//
// Optional style runs (colours, bold) mark where the style of the text
// changes; they are dropped with the text they cover.
class CLineStore {
public:
    static constexpr std::size_t kBlockSize = 64 << 10;
    static constexpr std::size_t kDefaultCapacity = 0xFFFFFF;

    struct SRun {
        uint64_t from; // absolute position where the style starts
        CTextStyle style;
    };

    explicit CLineStore(std::size_t capacity = kDefaultCapacity);

    // Appends text ('\n' ends a line). When the text held would exceed the
    // capacity, the oldest whole lines go; a line longer than the capacity
    // keeps only its newest part.
    void Append(std::string_view text);
    // Removes the last character of the last line. At the start of a line it
    // removes the line break only if lineBreakToo, else nothing. Returns
    // whether something was removed.
    bool EraseLastChar(bool lineBreakToo = false);
    // Removes the text from pos to the end (an editable end of the text, as
    // the console's input line). Positions before pos keep their text.
    void Truncate(uint64_t pos);
    // Drops everything; positions go on from where they were.
    void Clear();

    // A new capacity takes effect at once: the oldest lines go as on Append.
    void SetCapacity(std::size_t capacity);
    std::size_t Capacity() const { return m_capacity; }
    std::size_t Size() const { return static_cast<std::size_t>(m_end - m_begin); }
    bool Empty() const { return m_end == m_begin; }
    uint64_t Begin() const { return m_begin; }
    uint64_t End() const { return m_end; }

    std::size_t LineCount() const { return m_lineStarts.size(); } // at least 1
    uint64_t LineStart(std::size_t line) const { return m_lineStarts[line]; }
    // Where the line's text ends: its line break, or End() for the last line.
    uint64_t LineEnd(std::size_t line) const
    {
        return line + 1 < m_lineStarts.size() ? m_lineStarts[line + 1] - 1 : m_end;
    }
    std::size_t LineLength(std::size_t line) const { return static_cast<std::size_t>(LineEnd(line) - LineStart(line)); }
    // The line that holds position pos (clamped to what is held).
    std::size_t LineOf(uint64_t pos) const;
    // Lines dropped from the front since the store was made: the absolute
    // number of line 0.
    uint64_t DroppedLines() const { return m_droppedLines; }

    // The byte at pos, which must be held.
    char At(uint64_t pos) const;
    // Appends the held bytes of [pos, pos + length) to out.
    void Read(uint64_t pos, std::size_t length, std::string& out) const;
    // Copies the held bytes of [pos, pos + length) to out; returns how many.
    std::size_t Copy(uint64_t pos, std::size_t length, char* out) const;
    std::string Text() const;

    // The style of text appended from now on.
    void SetStyle(CTextStyle style) { m_style = style; }
    CTextStyle Style() const { return m_style; }
    CTextStyle StyleAt(uint64_t pos) const;
    // The runs that cover [from, to), the first starting at from.
    std::vector<SRun> Runs(uint64_t from, uint64_t to) const;

private:
    void Write(const char* data, std::size_t n);
    void DropFront();
    void ReleaseBlocks();
    char* BlockAt(uint64_t pos) const { return m_blocks[(pos - m_blockBase) / kBlockSize].get(); }

    std::size_t m_capacity;
    std::deque<std::unique_ptr<char[]>> m_blocks; // m_blocks[0] starts at m_blockBase
    uint64_t m_blockBase = 0;
    uint64_t m_begin = 0;
    uint64_t m_end = 0;
    std::deque<uint64_t> m_lineStarts{0};
    uint64_t m_droppedLines = 0;
    std::deque<SRun> m_runs{{0, CTextStyle()}}; // sorted; the first covers m_begin
    CTextStyle m_style;
};
