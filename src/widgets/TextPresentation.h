#pragma once

#include <QColor>
#include <QString>

#include <map>
#include <vector>

#include "text/RowLayout.h"

class CLineStore;

// One row on screen as a presentation shapes it.
struct SShapedRow {
    QString text;                 // the row's characters, padding included
    std::vector<int> cellStarts;  // where each cell starts in text; empty when each cell is one QChar
    std::vector<std::pair<int, QColor>> colours; // (first cell, colour) changes; invalid: the text colour
};

// How a CTextView shows the lines of its store: how many cells a line takes
// (the layout counts rows with it) and the characters and colours of a
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
// other bytes, tabs to multiples of 8, control characters blank. Colours
// come from the store's attribute runs through a table.
class CPlainPresentation : public ITextPresentation {
public:
    uint32_t Advance(uint32_t cells, const char* bytes, std::size_t n, bool& plain) const override
    {
        return m_measure.Advance(cells, bytes, n, plain);
    }
    void Shape(const CLineStore& store, const CRowLayout& layout, std::size_t line, uint32_t firstCell,
               uint32_t count, SShapedRow& row) const override;
    // Attribute 0 is the text colour unless given one.
    void SetColour(uint8_t attribute, const QColor& colour) { m_colours[attribute] = colour; }
    // The attribute's colour; invalid when it has none (the text colour).
    QColor Colour(uint8_t attribute) const
    {
        const auto it = m_colours.find(attribute);
        return it == m_colours.end() ? QColor() : it->second;
    }

private:
    void ShapeDecoded(const CLineStore& store, const CRowLayout& layout, std::size_t line, uint32_t firstCell,
                      uint32_t count, SShapedRow& row) const;
    void AddColours(const CLineStore& store, uint64_t from, uint64_t to, int firstCell, const CRowLayout& layout,
                    std::size_t line, SShapedRow& row) const;

    CPlainCellMeasure m_measure;
    std::map<uint8_t, QColor> m_colours;
};
