#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

class CLineStore;

// How many cells of the screen's grid a line's bytes take. A presentation of
// the text (plain text, later a hex dump or timestamps) says it; the layout
// only counts.
class ICellMeasure {
public:
    virtual ~ICellMeasure() = default;
    // The cells taken once bytes [0, n) follow `cells` cells of the same line.
    // Clears `plain` when a byte does not take exactly one cell, so that the
    // line's cells and byte offsets no longer coincide.
    virtual uint32_t Advance(uint32_t cells, const char* bytes, std::size_t n, bool& plain) const = 0;
};

// Plain text: a tab runs to the next multiple of 8 cells, a UTF-8 character
// takes one cell, every other byte one cell.
class CPlainCellMeasure : public ICellMeasure {
public:
    static constexpr uint32_t kTabWidth = 8;
    uint32_t Advance(uint32_t cells, const char* bytes, std::size_t n, bool& plain) const override;
};

// The visual rows of the lines of a CLineStore: per line its cells and where
// its rows begin, for a number of columns (0: no wrapping, one row a line).
// Sync follows the store's changes at a cost bounded by what changed (new
// text, a changed last line, dropped front lines), never by what is held;
// only a change of the column count recounts every line's rows, from cells
// kept per line. Long lines keep a checkpoint (position and cells before
// it) every 64 KiB, so that finding a cell or a position in them never
// walks more than that.
class CRowLayout {
public:
    struct SRowPlace {
        std::size_t line;   // line of the store
        uint32_t firstCell; // the row shows the line's cells from here
    };
    struct SCheckpoint {
        uint64_t pos;   // a character boundary of the line
        uint32_t cells; // the cells before it
    };
    static constexpr uint64_t kCheckpointEvery = 64 << 10;

    explicit CRowLayout(const ICellMeasure& measure) : m_measure(&measure) {}

    // Brings the layout up to date with the store after appends, erasures,
    // dropped lines and Clear.
    void Sync(const CLineStore& store);
    // Call with the layout synced, before the store's Truncate(pos): the
    // lines after pos go now, and the line that holds pos counts as measured
    // to its old end, so that the next Sync measures only what changed.
    void Truncating(const CLineStore& store, uint64_t pos);
    // Counts with another measure from the next Sync on.
    void SetMeasure(const ICellMeasure& measure);
    void SetColumns(uint32_t columns);
    uint32_t Columns() const { return m_columns; }

    uint64_t RowCount() const { return m_rowEnds.empty() ? 1 : m_rowEnds.back() - Base(); }
    SRowPlace RowAt(uint64_t row) const;
    uint64_t FirstRow(std::size_t line) const { return line == 0 ? 0 : m_rowEnds[line - 1] - Base(); }
    uint32_t Cells(std::size_t line) const { return m_cells[line] & kCellsMask; }
    bool IsPlain(std::size_t line) const { return !(m_cells[line] & kNotPlain); }
    // The widest line measured since the last recount.
    uint32_t MaxCells() const { return m_maxCells; }

    // The cell where the character at pos starts (pos held, in line `line`).
    uint32_t CellOf(const CLineStore& store, std::size_t line, uint64_t pos) const;
    // The character boundary of the line nearest to the boundary before
    // cell `cell` (a click between two cells).
    uint64_t BoundaryAt(const CLineStore& store, std::size_t line, uint32_t cell) const;
    // The last checkpoint of the line at or before cell `cell` (the line's
    // start if none): where a walk to that cell can begin.
    SCheckpoint WalkStart(const CLineStore& store, std::size_t line, uint32_t cell) const;

private:
    static constexpr uint32_t kNotPlain = 0x80000000u;
    static constexpr uint32_t kCellsMask = 0x7FFFFFFFu;

    uint64_t Rows(uint32_t cells) const;
    uint64_t Base() const { return m_rowEnds.front() - Rows(m_cells.front() & kCellsMask); }
    // Measures bytes [from, to) after the cells and plainness in `cells`,
    // adding checkpoints to `marks` if given.
    uint32_t Measure(const CLineStore& store, uint64_t lineStart, uint64_t from, uint64_t to, uint32_t cells,
                     std::vector<SCheckpoint>* marks) const;
    // Measures the rest of a line from `from` (a checkpoint or the end
    // measured so far) and keeps its checkpoints.
    uint32_t MeasureLine(const CLineStore& store, std::size_t line, uint64_t from, uint32_t cells);
    const std::vector<SCheckpoint>* Marks(std::size_t line) const;
    void SetLine(std::size_t line, uint32_t cells);
    void AddLine(uint32_t cells);

    void Reset();

    const ICellMeasure* m_measure;
    uint32_t m_columns = 0;
    uint64_t m_firstLine = 0;        // absolute number (CLineStore::DroppedLines) of the store's line 0
    uint64_t m_firstStart = 0;       // where line 0 started when measured
    uint64_t m_measured = 0;         // the last line is measured up to here
    std::deque<uint32_t> m_cells;    // per line: cells, and kNotPlain
    std::deque<uint64_t> m_rowEnds;  // per line: the running count of rows to its end
    uint32_t m_maxCells = 0;
    std::map<uint64_t, std::vector<SCheckpoint>> m_checkpoints; // by absolute line number, long lines only
};
