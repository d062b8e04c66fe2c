#include "terminal/HexView.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

#include "terminal/ReceivedBytes.h"

namespace {

constexpr int kMargin = 4; // pixels left of the text

} // namespace

CHexView::CHexView(CReceivedBytes& bytes, QWidget* parent) : QAbstractScrollArea(parent), m_bytes(bytes)
{
    setObjectName("hexView");
    setAccessibleName("Hex");
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setCursor(Qt::IBeamCursor);
    Refresh();
}

int CHexView::CharWidth() const { return std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('0'))); }

int CHexView::LineHeight() const { return std::max(1, fontMetrics().lineSpacing()); }

int CHexView::VisibleRows() const { return std::max(1, viewport()->height() / LineHeight()); }

void CHexView::Refresh()
{
    m_bytes.Seen();
    const uint64_t first = m_bytes.FirstRow();
    const uint64_t end = m_bytes.RowEnd();
    const uint64_t rows = static_cast<uint64_t>(VisibleRows());
    if (m_follow)
        m_topRow = end > first + rows ? end - rows : first;
    m_topRow = std::clamp(m_topRow, first, std::max(first, end > rows ? end - rows : first));
    if (m_hasSelection && m_selTo <= m_bytes.Begin())
        m_hasSelection = false; // the selected bytes are gone
    UpdateScrollBar();
    viewport()->update();
}

void CHexView::UpdateScrollBar()
{
    const uint64_t first = m_bytes.FirstRow();
    const uint64_t end = m_bytes.RowEnd();
    const uint64_t rows = static_cast<uint64_t>(VisibleRows());
    m_settingScroll = true;
    verticalScrollBar()->setRange(0, static_cast<int>(end > first + rows ? end - first - rows : 0));
    verticalScrollBar()->setPageStep(static_cast<int>(rows));
    verticalScrollBar()->setValue(static_cast<int>(m_topRow - first));
    horizontalScrollBar()->setRange(0, std::max(0, (CHexRow::Width() + 1) * CharWidth() + kMargin - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    m_settingScroll = false;
}

void CHexView::scrollContentsBy(int, int)
{
    if (!m_settingScroll) {
        m_topRow = m_bytes.FirstRow() + static_cast<uint64_t>(verticalScrollBar()->value());
        m_follow = verticalScrollBar()->value() == verticalScrollBar()->maximum();
    }
    viewport()->update();
}

void CHexView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    Refresh();
}

void CHexView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), palette().base());
    const int cw = CharWidth();
    const int lh = LineHeight();
    const int x0 = kMargin - horizontalScrollBar()->value();
    const int ascent = fontMetrics().ascent();
    const uint64_t end = m_bytes.RowEnd();
    const QColor selected = palette().highlight().color();
    for (int i = 0; i <= VisibleRows() && m_topRow + i < end; ++i) {
        const uint64_t row = m_topRow + static_cast<uint64_t>(i);
        const std::string text = m_bytes.Row(row);
        const int shift = static_cast<int>(text.size()) - CHexRow::Width(); // extra offset digits
        const int y = i * lh;
        if (m_hasSelection) {
            for (int slot = 0; slot < CHexRow::kBytesPerRow; ++slot) {
                const uint64_t pos = row * CHexRow::kBytesPerRow + static_cast<uint64_t>(slot);
                if (pos < m_selFrom || pos >= m_selTo)
                    continue;
                painter.fillRect(x0 + (shift + CHexRow::HexColumn(slot)) * cw, y, 2 * cw, lh, selected);
                painter.fillRect(x0 + (shift + CHexRow::CharColumn(slot)) * cw, y, cw, lh, selected);
            }
        }
        painter.setPen(palette().text().color());
        // Cell by cell: a proportional fallback font must not shift the columns.
        for (int c = 0; c < static_cast<int>(text.size()); ++c)
            if (text[c] != ' ')
                painter.drawText(x0 + c * cw, y + ascent, QString(QLatin1Char(text[c])));
    }
}

uint64_t CHexView::PositionAt(const QPoint& point) const
{
    const uint64_t row = m_topRow + static_cast<uint64_t>(std::max(0, point.y()) / LineHeight());
    const int column = (point.x() - kMargin + horizontalScrollBar()->value()) / CharWidth();
    const std::string sample = m_bytes.Row(row);
    const int shifted = column - (static_cast<int>(sample.size()) - CHexRow::Width());
    int slot = CHexRow::SlotAt(shifted);
    if (slot < 0) // a gap: the byte before it, or the row's first
        slot = shifted < CHexRow::HexColumn(0) ? 0 : std::min(CHexRow::kBytesPerRow - 1, std::max(0, CHexRow::SlotAt(shifted - 1)));
    const uint64_t pos = row * CHexRow::kBytesPerRow + static_cast<uint64_t>(slot);
    const uint64_t end = m_bytes.End();
    return std::clamp(pos, m_bytes.Begin(), end > 0 ? end - 1 : 0);
}

void CHexView::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton || m_bytes.End() == m_bytes.Begin())
        return;
    m_anchor = PositionAt(event->position().toPoint());
    SetSelection(m_anchor, m_anchor + 1);
}

void CHexView::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || !m_hasSelection)
        return;
    const uint64_t at = PositionAt(event->position().toPoint());
    SetSelection(std::min(at, m_anchor), std::max(at, m_anchor) + 1);
}

void CHexView::SetSelection(uint64_t from, uint64_t to)
{
    from = std::max(from, m_bytes.Begin());
    to = std::min(to, m_bytes.End());
    m_hasSelection = from < to;
    m_selFrom = from;
    m_selTo = to;
    viewport()->update();
}

void CHexView::SelectAll() { SetSelection(m_bytes.Begin(), m_bytes.End()); }

QString CHexView::SelectedText() const
{
    if (!m_hasSelection)
        return {};
    const uint64_t from = std::max(m_selFrom, m_bytes.Begin());
    std::string text;
    unsigned char bytes[CHexRow::kBytesPerRow];
    static const char digits[] = "0123456789ABCDEF";
    for (uint64_t pos = from; pos < m_selTo;) {
        const uint64_t rowEnd = (pos / CHexRow::kBytesPerRow + 1) * CHexRow::kBytesPerRow;
        const std::size_t n = m_bytes.Copy(pos, static_cast<std::size_t>(std::min(rowEnd, m_selTo) - pos), bytes);
        if (n == 0)
            break;
        if (!text.empty())
            text += '\n';
        for (std::size_t i = 0; i < n; ++i) {
            if (i)
                text += ' ';
            text += digits[bytes[i] >> 4];
            text += digits[bytes[i] & 15];
        }
        pos += n;
    }
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void CHexView::Copy()
{
    if (m_hasSelection)
        QApplication::clipboard()->setText(SelectedText());
}

void CHexView::keyPressEvent(QKeyEvent* event)
{
    const int rows = VisibleRows();
    QScrollBar* bar = verticalScrollBar();
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_PageUp: bar->setValue(bar->value() - rows); return;
    case Qt::Key_PageDown: bar->setValue(bar->value() + rows); return;
    case Qt::Key_Up: bar->setValue(bar->value() - 1); return;
    case Qt::Key_Down: bar->setValue(bar->value() + 1); return;
    case Qt::Key_Home:
        if (ctrl) {
            bar->setValue(0);
            return;
        }
        break;
    case Qt::Key_End:
        if (ctrl) {
            bar->setValue(bar->maximum());
            return;
        }
        break;
    default: break;
    }
    if (m_forwardKey)
        m_forwardKey(event);
}

void CHexView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    emit focusGained();
}
