#include "text/RowLayout.h"

#include <algorithm>

#include "text/LineStore.h"

namespace {

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

} // namespace

uint32_t CPlainCellMeasure::Advance(uint32_t cells, const char* bytes, std::size_t n, bool& plain) const
{
    // Received text is ASCII without tabs almost always: such stretches are
    // counted a block at a time.
    constexpr std::size_t kBlock = 64;
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        unsigned char special = 0;
        for (std::size_t k = 0; k < kBlock; ++k) {
            const auto b = static_cast<unsigned char>(bytes[i + k]);
            special |= (b & 0x80) | (b == '\t');
        }
        if (special)
            break;
        cells += kBlock;
    }
    for (; i < n; ++i) {
        const char c = bytes[i];
        if (c == '\t') {
            cells = (cells / kTabWidth + 1) * kTabWidth;
            plain = false;
        } else if (static_cast<unsigned char>(c) >= 0x80) {
            plain = false;
            if (!IsContinuationByte(c))
                ++cells;
        } else {
            ++cells;
        }
    }
    return cells;
}

uint64_t CRowLayout::Rows(uint32_t cells) const
{
    return m_columns == 0 || cells == 0 ? 1 : (cells + m_columns - 1) / m_columns;
}

uint32_t CRowLayout::Measure(const CLineStore& store, uint64_t lineStart, uint64_t from, uint64_t to, uint32_t cells,
                             std::vector<SCheckpoint>* marks) const
{
    bool plain = !(cells & kNotPlain);
    uint32_t count = cells & kCellsMask;
    char buffer[4096];
    while (from < to) {
        if (marks && from - (marks->empty() ? lineStart : marks->back().pos) >= kCheckpointEvery &&
            !IsContinuationByte(store.At(from)))
            marks->push_back({from, count});
        const std::size_t n = store.Copy(from, static_cast<std::size_t>(std::min<uint64_t>(to - from, sizeof buffer)),
                                         buffer);
        count = m_measure->Advance(count, buffer, n, plain);
        from += n;
    }
    return std::min(count, kCellsMask) | (plain ? 0 : kNotPlain);
}

uint32_t CRowLayout::MeasureLine(const CLineStore& store, std::size_t line, uint64_t from, uint32_t cells)
{
    const uint64_t absolute = m_firstLine + line;
    std::vector<SCheckpoint> marks;
    if (const auto it = m_checkpoints.find(absolute); it != m_checkpoints.end()) {
        marks.swap(it->second);
        m_checkpoints.erase(it);
    }
    while (!marks.empty() && marks.back().pos > from)
        marks.pop_back(); // measured again from `from`
    const uint32_t measured = Measure(store, store.LineStart(line), from, store.LineEnd(line), cells, &marks);
    if (!marks.empty())
        m_checkpoints[absolute].swap(marks);
    return measured;
}

const std::vector<CRowLayout::SCheckpoint>* CRowLayout::Marks(std::size_t line) const
{
    const auto it = m_checkpoints.find(m_firstLine + line);
    return it == m_checkpoints.end() ? nullptr : &it->second;
}

CRowLayout::SCheckpoint CRowLayout::WalkStart(const CLineStore& store, std::size_t line, uint32_t cell) const
{
    SCheckpoint start{store.LineStart(line), 0};
    if (const std::vector<SCheckpoint>* marks = Marks(line)) {
        auto it = std::upper_bound(marks->begin(), marks->end(), cell,
                                   [](uint32_t c, const SCheckpoint& mark) { return c < mark.cells; });
        if (it != marks->begin())
            start = *std::prev(it);
    }
    return start;
}

void CRowLayout::SetLine(std::size_t line, uint32_t cells)
{
    m_maxCells = std::max(m_maxCells, cells & kCellsMask);
    if (line + 1 == m_cells.size()) {
        const uint64_t start = line == 0 ? Base() : m_rowEnds[line - 1];
        m_cells[line] = cells;
        m_rowEnds[line] = start + Rows(cells & kCellsMask);
    } else {
        m_cells[line] = cells; // line 0: the rows before it (Base) absorb the change
    }
}

void CRowLayout::AddLine(uint32_t cells)
{
    const uint64_t start = m_rowEnds.empty() ? 0 : m_rowEnds.back();
    m_cells.push_back(cells);
    m_rowEnds.push_back(start + Rows(cells & kCellsMask));
    m_maxCells = std::max(m_maxCells, cells & kCellsMask);
}

void CRowLayout::SetMeasure(const ICellMeasure& measure)
{
    m_measure = &measure;
    Reset();
}

void CRowLayout::Reset()
{
    m_checkpoints.clear();
    m_cells.clear();
    m_rowEnds.clear();
    m_maxCells = 0;
}

void CRowLayout::Sync(const CLineStore& store)
{
    // Lines dropped from the front (all of them after Clear).
    const uint64_t first = store.DroppedLines();
    if (first > m_firstLine) {
        const uint64_t gone = first - m_firstLine;
        if (gone >= m_cells.size()) {
            Reset();
        } else {
            m_cells.erase(m_cells.begin(), m_cells.begin() + static_cast<std::ptrdiff_t>(gone));
            m_rowEnds.erase(m_rowEnds.begin(), m_rowEnds.begin() + static_cast<std::ptrdiff_t>(gone));
            m_checkpoints.erase(m_checkpoints.begin(), m_checkpoints.lower_bound(first));
        }
        m_firstLine = first;
    }
    if (m_cells.empty()) {
        m_firstStart = store.LineStart(0);
        m_measured = m_firstStart;
        AddLine(0);
    }
    // A line break erased: the lines the store no longer has go.
    while (m_cells.size() > store.LineCount()) {
        m_checkpoints.erase(m_firstLine + m_cells.size() - 1);
        m_cells.pop_back();
        m_rowEnds.pop_back();
        m_measured = UINT64_MAX; // measure the last line again
    }
    const std::size_t last = m_cells.size() - 1;
    // The oldest line lost its oldest part (a line longer than the capacity).
    if (store.LineStart(0) != m_firstStart) {
        m_firstStart = store.LineStart(0);
        if (last > 0)
            SetLine(0, MeasureLine(store, 0, m_firstStart, 0));
        else
            m_measured = UINT64_MAX;
    }
    // The last line the layout knows grew, or lost characters (erasures are
    // synced before more text is appended, so what is left was measured).
    const uint64_t start = store.LineStart(last);
    const uint64_t end = store.LineEnd(last);
    if (m_measured == UINT64_MAX) {
        SetLine(last, MeasureLine(store, last, start, 0));
    } else if (end < m_measured) {
        if (IsPlain(last)) {
            SetLine(last, static_cast<uint32_t>(end - start));
            MeasureLine(store, last, end, 0); // drops the checkpoints past the end
        } else {
            // From the last checkpoint still inside the line.
            SCheckpoint from{start, 0};
            if (const std::vector<SCheckpoint>* marks = Marks(last))
                for (const SCheckpoint& mark : *marks)
                    if (mark.pos <= end)
                        from = mark;
            SetLine(last, MeasureLine(store, last, from.pos, from.cells | kNotPlain));
        }
    } else if (end > m_measured) {
        SetLine(last, MeasureLine(store, last, m_measured, m_cells[last]));
    }
    for (std::size_t line = last + 1; line < store.LineCount(); ++line) {
        AddLine(0);
        SetLine(line, MeasureLine(store, line, store.LineStart(line), 0));
    }
    m_measured = store.End();
}

void CRowLayout::Truncating(const CLineStore& store, uint64_t pos)
{
    if (m_cells.empty())
        return;
    const std::size_t line = store.LineOf(pos);
    while (m_cells.size() > line + 1) {
        m_checkpoints.erase(m_firstLine + m_cells.size() - 1);
        m_cells.pop_back();
        m_rowEnds.pop_back();
    }
    m_measured = store.LineEnd(line);
}

void CRowLayout::SetColumns(uint32_t columns)
{
    if (columns == m_columns)
        return;
    m_columns = columns;
    uint64_t rows = m_rowEnds.empty() ? 0 : Base();
    m_maxCells = 0;
    for (std::size_t line = 0; line < m_cells.size(); ++line) {
        const uint32_t cells = m_cells[line] & kCellsMask;
        rows += Rows(cells);
        m_rowEnds[line] = rows;
        m_maxCells = std::max(m_maxCells, cells);
    }
}

CRowLayout::SRowPlace CRowLayout::RowAt(uint64_t row) const
{
    if (m_rowEnds.empty())
        return {0, 0};
    const uint64_t absolute = std::min(row, RowCount() - 1) + Base();
    const auto it = std::upper_bound(m_rowEnds.begin(), m_rowEnds.end(), absolute);
    const std::size_t line = std::min<std::size_t>(it - m_rowEnds.begin(), m_rowEnds.size() - 1);
    const uint64_t lineFirstRow = line == 0 ? Base() : m_rowEnds[line - 1];
    return {line, static_cast<uint32_t>((absolute - lineFirstRow) * m_columns)};
}

uint32_t CRowLayout::CellOf(const CLineStore& store, std::size_t line, uint64_t pos) const
{
    const uint64_t start = store.LineStart(line);
    if (IsPlain(line))
        return static_cast<uint32_t>(pos - start);
    SCheckpoint from{start, 0};
    if (const std::vector<SCheckpoint>* marks = Marks(line)) {
        auto it = std::upper_bound(marks->begin(), marks->end(), pos,
                                   [](uint64_t p, const SCheckpoint& mark) { return p < mark.pos; });
        if (it != marks->begin())
            from = *std::prev(it);
    }
    return Measure(store, start, from.pos, pos, from.cells, nullptr) & kCellsMask;
}

uint64_t CRowLayout::BoundaryAt(const CLineStore& store, std::size_t line, uint32_t cell) const
{
    const uint64_t start = store.LineStart(line);
    const uint64_t end = store.LineEnd(line);
    if (IsPlain(line))
        return std::min<uint64_t>(start + cell, end);
    // Walk the characters until the one that reaches past the cell.
    const SCheckpoint from = WalkStart(store, line, cell);
    uint32_t cells = from.cells;
    bool plain = true;
    for (uint64_t pos = from.pos; pos < end;) {
        uint64_t next = pos + 1;
        while (next < end && IsContinuationByte(store.At(next)))
            ++next;
        char bytes[8];
        const std::size_t n = store.Copy(pos, static_cast<std::size_t>(std::min<uint64_t>(next - pos, sizeof bytes)), bytes);
        const uint32_t after = m_measure->Advance(cells, bytes, n, plain);
        if (after > cell)
            return (cell - cells) * 2 >= after - cells ? next : pos;
        cells = after;
        pos = next;
    }
    return end;
}
