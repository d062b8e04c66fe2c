#pragma once

#include <QString>

#include <vector>

#include "text/RowLayout.h"
#include "text/TextStyle.h"

class CLineStore;

// One row on screen as a presentation shapes it.
struct SShapedRow {
    QString text;                                   // the row's characters, padding included
    std::vector<int> cellStarts;                    // where each cell starts in text; empty when each cell is one QChar
    std::vector<std::pair<int, CTextStyle>> styles; // (first cell, style) changes; none: all default
};

// How a CTextView shows the lines of its store: how many cells a line takes
// (the layout counts rows with it) and the characters and styles of a
// stretch of cells. The plain presentation shows the text itself; a hex
// dump, per-line timestamps, ANSI colours or another decoding are other
// presentations of the same store.
class ITextPresentation : public ICellMeasure {
public:
    // Cells [firstCell, firstCell + count) of `line`, cut at the line's end.
    virtual void Shape(const CLineStore& store, const CRowLayout& layout, std::size_t line, uint32_t firstCell,
                       uint32_t count, SShapedRow& row) const = 0;
};

// The text as it is: ASCII byte for cell, UTF-8 decoded where a line holds
// other bytes, tabs to multiples of 8, control characters blank, in the
// styles of the store's runs.
class CPlainPresentation : public ITextPresentation {
public:
    uint32_t Advance(uint32_t cells, const char* bytes, std::size_t n, bool& plain) const override
    {
        return m_measure.Advance(cells, bytes, n, plain);
    }
    void Shape(const CLineStore& store, const CRowLayout& layout, std::size_t line, uint32_t firstCell,
               uint32_t count, SShapedRow& row) const override;

private:
    void ShapeDecoded(const CLineStore& store, const CRowLayout& layout, std::size_t line, uint32_t firstCell,
                      uint32_t count, SShapedRow& row) const;
    void AddStyles(const CLineStore& store, uint64_t from, uint64_t to, int firstCell, const CRowLayout& layout,
                   std::size_t line, SShapedRow& row) const;

    CPlainCellMeasure m_measure;
};
