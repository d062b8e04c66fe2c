#include "widgets/TextPresentation.h"

#include <algorithm>

#include "text/LineStore.h"

namespace {

bool IsContinuationByte(unsigned char b) { return (b & 0xC0) == 0x80; }

// Control characters take their cell but show nothing.
QChar Shown(char32_t c) { return c < 0x20 || c == 0x7F ? QChar(' ') : QChar(static_cast<char16_t>(c)); }

// Reads a stretch of the store a buffer at a time.
class CByteReader {
public:
    CByteReader(const CLineStore& store, uint64_t from, uint64_t to) : m_store(store), m_next(from), m_end(to) {}
    bool Peek(unsigned char& b)
    {
        if (m_at == m_have) {
            if (m_next >= m_end)
                return false;
            m_have = m_store.Copy(m_next, static_cast<std::size_t>(std::min<uint64_t>(sizeof m_buffer, m_end - m_next)),
                                  m_buffer);
            m_next += m_have;
            m_at = 0;
        }
        b = static_cast<unsigned char>(m_buffer[m_at]);
        return true;
    }
    bool Next(unsigned char& b)
    {
        if (!Peek(b))
            return false;
        ++m_at;
        return true;
    }
    uint64_t Position() const { return m_next - m_have + m_at; }

private:
    const CLineStore& m_store;
    uint64_t m_next;
    const uint64_t m_end;
    char m_buffer[4096];
    std::size_t m_have = 0;
    std::size_t m_at = 0;
};

// Decodes the character whose first byte is `lead`; a malformed sequence is
// U+FFFD and takes its cell all the same, as the cell measure counts it.
char32_t Decode(unsigned char lead, CByteReader& reader)
{
    const int more = lead >= 0xF8 ? -1 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (more < 0)
        return 0xFFFD;
    char32_t c = lead & (0x3F >> more);
    for (int i = 0; i < more; ++i) {
        unsigned char b;
        if (!reader.Peek(b) || !IsContinuationByte(b))
            return 0xFFFD;
        reader.Next(b);
        c = (c << 6) | (b & 0x3F);
    }
    return c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) ? 0xFFFD : c;
}

} // namespace

void CPlainPresentation::Shape(const CLineStore& store, const CRowLayout& layout, std::size_t line,
                               uint32_t firstCell, uint32_t count, SShapedRow& row) const
{
    row.text.clear();
    row.cellStarts.clear();
    row.styles.clear();
    const uint32_t cells = layout.Cells(line);
    if (firstCell >= cells)
        return;
    count = std::min(count, cells - firstCell);
    if (!layout.IsPlain(line)) {
        ShapeDecoded(store, layout, line, firstCell, count, row);
        return;
    }
    // ASCII without tabs: byte for cell.
    const uint64_t from = store.LineStart(line) + firstCell;
    row.text.resize(count);
    char buffer[1024];
    for (uint32_t done = 0; done < count;) {
        const std::size_t n = store.Copy(from + done, std::min<std::size_t>(count - done, sizeof buffer), buffer);
        if (n == 0) {
            row.text.truncate(static_cast<qsizetype>(done)); // the layout is behind the store
            break;
        }
        for (std::size_t i = 0; i < n; ++i)
            row.text[done + i] = Shown(static_cast<unsigned char>(buffer[i]));
        done += static_cast<uint32_t>(n);
    }
    AddStyles(store, from, from + count, static_cast<int>(firstCell), layout, line, row);
}

void CPlainPresentation::ShapeDecoded(const CLineStore& store, const CRowLayout& layout, std::size_t line,
                                      uint32_t firstCell, uint32_t count, SShapedRow& row) const
{
    // The cells of the stretch are found by walking the line from the
    // layout's last checkpoint before them: the cost is bounded by the
    // checkpoints' spacing, never by the line or the text held.
    const uint32_t last = firstCell + count;
    const CRowLayout::SCheckpoint start = layout.WalkStart(store, line, firstCell);
    CByteReader reader(store, start.pos, store.LineEnd(line));
    uint64_t shownFrom = UINT64_MAX;
    uint32_t cells = start.cells;
    while (cells < last) {
        const uint64_t at = reader.Position();
        unsigned char b;
        if (!reader.Next(b))
            break;
        if (IsContinuationByte(b))
            continue; // a stray continuation byte takes no cell
        const char32_t c = b == '\t' ? U' ' : b < 0x80 ? char32_t(b) : Decode(b, reader);
        const uint32_t width = b == '\t' ? CPlainCellMeasure::kTabWidth - cells % CPlainCellMeasure::kTabWidth : 1;
        for (uint32_t cell = std::max(cells, firstCell); cell < std::min(cells + width, last); ++cell) {
            row.cellStarts.push_back(static_cast<int>(row.text.size()));
            if (c >= 0x10000)
                row.text += QString::fromUcs4(&c, 1);
            else
                row.text += Shown(c);
        }
        if (shownFrom == UINT64_MAX && cells + width > firstCell)
            shownFrom = at;
        cells += width;
    }
    if (shownFrom != UINT64_MAX)
        AddStyles(store, shownFrom, reader.Position(), static_cast<int>(firstCell), layout, line, row);
}

void CPlainPresentation::AddStyles(const CLineStore& store, uint64_t from, uint64_t to, int firstCell,
                                   const CRowLayout& layout, std::size_t line, SShapedRow& row) const
{
    const std::vector<CLineStore::SRun> runs = store.Runs(from, to);
    if (runs.size() == 1 && runs[0].style == CTextStyle())
        return; // all in the default style
    for (const CLineStore::SRun& run : runs)
        row.styles.emplace_back(std::max(0, static_cast<int>(layout.CellOf(store, line, run.from)) - firstCell),
                                run.style);
}
