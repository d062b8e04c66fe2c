#include "widgets/TextView.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QtMath>

#include <algorithm>
#include <climits>

#include "widgets/TextViewAccessible.h"

namespace {

constexpr int kMargin = 4;      // pixels left of the first column and right of the last
constexpr int kFrameMs = 16;    // at most one frame this often

bool IsWordByte(char c)
{
    const auto b = static_cast<unsigned char>(c);
    return (b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || b == '_' || b >= 0x80;
}

int ClampToInt(qint64 value) { return static_cast<int>(std::clamp<qint64>(value, 0, INT_MAX)); }

} // namespace

CTextView::CTextView(std::size_t capacity, QWidget* parent)
    : QAbstractScrollArea(parent), m_store(capacity), m_layout(m_plain)
{
    InstallTextViewAccessibility();
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    // A fixed vertical bar: one that came and went would change the width
    // and so every wrapped line's rows.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_frameTimer.setSingleShot(true);
    connect(&m_frameTimer, &QTimer::timeout, this, &CTextView::Frame);
    m_sinceFrame.start();
    UpdateMetrics();
}

CTextView::~CTextView() = default;

void CTextView::AppendText(std::string_view utf8)
{
    if (utf8.empty())
        return;
    const uint64_t at = m_store.End();
    m_store.Append(utf8);
    TextChanged();
    if (QAccessible::isActive()) {
        QAccessibleTextInsertEvent inserted(this, ClampToInt(Offset(std::max(at, m_store.Begin()))),
                                            QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
        QAccessible::updateAccessibility(&inserted);
    }
}

bool CTextView::EraseLastChar(bool lineBreakToo)
{
    // The layout follows appends and erasures apart (see CRowLayout::Sync).
    EnsureLayout();
    if (!m_store.EraseLastChar(lineBreakToo))
        return false;
    TextChanged();
    EnsureLayout();
    return true;
}

void CTextView::Clear()
{
    m_store.Clear();
    m_follow = true;
    horizontalScrollBar()->setValue(0);
    TextChanged();
    if (QAccessible::isActive()) {
        QAccessibleTextUpdateEvent updated(this, 0, QString(), QString());
        QAccessible::updateAccessibility(&updated);
    }
}

void CTextView::setPlainText(const QString& text)
{
    Clear();
    const QByteArray utf8 = text.toUtf8();
    AppendText(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    MoveCaretToEnd();
    ScrollToEnd();
}

QString CTextView::toPlainText() const
{
    const std::string text = m_store.Text();
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void CTextView::SetCapacity(std::size_t characters)
{
    EnsureLayout();
    m_store.SetCapacity(characters);
    TextChanged();
}

QColor CTextView::TextColourAt(qint64 offset) const
{
    QColor pen, fill;
    StyleColours(m_store.StyleAt(Position(offset)), pen, fill);
    return pen;
}

void CTextView::StyleColours(CTextStyle style, QColor& pen, QColor& fill) const
{
    auto colour = [](uint32_t word) {
        return word == CTextStyle::kDefaultColour ? QColor() : QColor::fromRgb(CTextStyle::ToRgb(word));
    };
    pen = colour(style.Foreground());
    fill = colour(style.Background());
    if (style.Inverse()) {
        std::swap(pen, fill);
        if (!pen.isValid())
            pen = palette().color(QPalette::Base);
        if (!fill.isValid())
            fill = palette().color(QPalette::Text);
    }
    if (!pen.isValid())
        pen = palette().color(QPalette::Text);
}

void CTextView::ReplaceRange(uint64_t from, uint64_t to, const std::vector<SPiece>& pieces, std::size_t keep)
{
    from = Clamp(from);
    to = std::max(from, Clamp(to));
    const uint64_t end = m_store.End();
    std::string rest;
    m_store.Read(to, static_cast<std::size_t>(end - to), rest);
    const std::vector<CLineStore::SRun> restRuns = m_store.Runs(to, end);
    const bool accessible = QAccessible::isActive();
    const QString removed = accessible ? TextRange(Offset(from), Offset(to)) : QString();

    // The layout follows the erasure before the text that comes after it.
    EnsureLayout();
    m_layout.Truncating(m_store, from);
    m_store.Truncate(from);
    m_layoutStale = true;
    EnsureLayout();

    const CTextStyle style = m_store.Style();
    const std::size_t capacity = m_store.Capacity();
    keep = std::min(keep, pieces.size());
    std::size_t kept = rest.size();
    for (std::size_t i = pieces.size() - keep; i < pieces.size(); ++i)
        kept += pieces[i].text.size();
    // The oldest lines make room for what stays whole before the rest comes in.
    if (kept > 0)
        m_store.SetCapacity(capacity > kept ? capacity - kept : 1);
    std::size_t inserted = 0;
    std::string insertedText;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i == pieces.size() - keep)
            m_store.SetCapacity(capacity);
        m_store.SetStyle(pieces[i].style);
        m_store.Append(pieces[i].text);
        inserted += pieces[i].text.size();
        if (accessible)
            insertedText.append(pieces[i].text);
    }
    m_store.SetCapacity(capacity);
    for (std::size_t i = 0; i < restRuns.size(); ++i) {
        const std::size_t a = static_cast<std::size_t>(restRuns[i].from - to);
        const std::size_t b = i + 1 < restRuns.size() ? static_cast<std::size_t>(restRuns[i + 1].from - to) : rest.size();
        m_store.SetStyle(restRuns[i].style);
        m_store.Append(std::string_view(rest).substr(a, b - a));
    }
    m_store.SetStyle(style);

    auto moved = [&](uint64_t p) { return p < from ? p : p <= to ? from + inserted : p - (to - from) + inserted; };
    m_anchor = moved(m_anchor);
    m_caret = moved(m_caret);
    if (m_matchTo > from)
        m_matchFrom = m_matchTo = 0;
    TextChanged();
    if (accessible) {
        QAccessibleTextUpdateEvent updated(this, ClampToInt(Offset(std::max(from, m_store.Begin()))), removed,
                                           QString::fromStdString(insertedText));
        QAccessible::updateAccessibility(&updated);
    }
}

void CTextView::SetSelectionPos(uint64_t anchor, uint64_t caret)
{
    m_anchor = Clamp(anchor);
    m_caret = Clamp(caret);
    SelectionChanged();
}

void CTextView::ShowCaret()
{
    EnsureLayout();
    if (m_store.LineOf(m_caret) + 1 == m_store.LineCount())
        ScrollToEnd();
    else
        ShowPosition(m_caret);
}

void CTextView::SetPresentation(ITextPresentation* presentation)
{
    m_presentation = presentation ? presentation : &m_plain;
    m_layout.SetMeasure(*m_presentation);
    TextChanged();
}

void CTextView::TextChanged()
{
    m_layoutStale = true;
    // Positions in text that was dropped or erased move to what is left.
    m_anchor = Clamp(m_anchor);
    m_caret = Clamp(m_caret);
    if (m_matchFrom < m_store.Begin() || m_matchTo > m_store.End())
        m_matchFrom = m_matchTo = 0;
    ScheduleFrame();
}

uint64_t CTextView::Clamp(uint64_t position) const { return std::clamp(position, m_store.Begin(), m_store.End()); }

uint64_t CTextView::Position(qint64 offset) const
{
    return m_store.Begin() + static_cast<uint64_t>(std::clamp<qint64>(offset, 0, CharacterCount()));
}

void CTextView::ScheduleFrame()
{
    if (m_frameTimer.isActive())
        return;
    m_frameTimer.start(static_cast<int>(std::max<qint64>(0, kFrameMs - m_sinceFrame.elapsed())));
}

void CTextView::Frame()
{
    m_sinceFrame.restart();
    UpdateScrollBars();
    viewport()->update();
}

void CTextView::EnsureLayout() const
{
    if (!m_layoutStale)
        return;
    m_layout.Sync(m_store);
    m_layoutStale = false;
}

void CTextView::UpdateMetrics()
{
    const QFontMetricsF metrics(font());
    m_cellWidth = std::max<qreal>(1, metrics.horizontalAdvance(QLatin1Char('M')));
    m_lineHeight = std::max(1, qCeil(metrics.lineSpacing()));
    m_ascent = qCeil(metrics.ascent());
    m_fixedPitch = QFontInfo(font()).fixedPitch();
    // Bold text keeps the grid: where its advance differs, it is drawn a cell at a time.
    m_boldFont = font();
    m_boldFont.setBold(true);
    m_boldFitsCells = qFuzzyCompare(QFontMetricsF(m_boldFont).horizontalAdvance(QLatin1Char('M')), m_cellWidth);
    Relayout();
}

void CTextView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    Relayout();
}

void CTextView::Relayout()
{
    EnsureLayout();
    const int width = viewport()->width() - 2 * kMargin;
    m_layout.SetColumns(m_wrap ? static_cast<uint32_t>(std::max(1, static_cast<int>(width / m_cellWidth))) : 0);
    UpdateScrollBars();
    viewport()->update();
}

void CTextView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        UpdateMetrics();
}

void CTextView::SetWrapping(bool wrap)
{
    if (wrap == m_wrap)
        return;
    m_wrap = wrap;
    setHorizontalScrollBarPolicy(wrap ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    horizontalScrollBar()->setValue(0);
    Relayout(); // the rows again, from the cells kept per line
}

int CTextView::VisibleRows() const { return std::max(1, viewport()->height() / m_lineHeight); }

qint64 CTextView::RowCount() const
{
    EnsureLayout();
    return static_cast<qint64>(m_layout.RowCount());
}

qint64 CTextView::FirstVisibleRow() const { return verticalScrollBar()->value(); }

std::vector<std::pair<int, std::size_t>> CTextView::LinesStartingOnScreen() const
{
    EnsureLayout();
    std::vector<std::pair<int, std::size_t>> lines;
    const qint64 first = verticalScrollBar()->value();
    const qint64 rows = static_cast<qint64>(m_layout.RowCount());
    for (qint64 i = 0; i <= VisibleRows() && first + i < rows; ++i) {
        const CRowLayout::SRowPlace place = m_layout.RowAt(static_cast<uint64_t>(first + i));
        if (place.firstCell == 0)
            lines.emplace_back(static_cast<int>(i * m_lineHeight), place.line);
    }
    return lines;
}

uint32_t CTextView::ColumnsShown() const
{
    if (m_wrap)
        return m_layout.Columns();
    return static_cast<uint32_t>(std::max(0, viewport()->width() - kMargin) / m_cellWidth) + 2;
}

void CTextView::UpdateScrollBars()
{
    EnsureLayout();
    m_settingScroll = true;
    const qint64 rows = static_cast<qint64>(m_layout.RowCount());
    const int visible = VisibleRows();
    QScrollBar* vertical = verticalScrollBar();
    vertical->setRange(0, ClampToInt(rows - visible));
    vertical->setPageStep(visible);
    if (m_follow) {
        vertical->setValue(vertical->maximum());
    } else {
        // The line read stays on top; if it was dropped, the oldest line is.
        const uint64_t dropped = m_store.DroppedLines();
        qint64 row = 0;
        if (m_topLine >= dropped) {
            const std::size_t line = static_cast<std::size_t>(m_topLine - dropped);
            const uint64_t first = m_layout.FirstRow(line);
            const uint64_t next = line + 1 < m_store.LineCount() ? m_layout.FirstRow(line + 1) : m_layout.RowCount();
            row = static_cast<qint64>(first + std::min(m_topRowInLine, next - first - 1));
        }
        vertical->setValue(ClampToInt(row));
    }
    QScrollBar* horizontal = horizontalScrollBar();
    if (m_wrap) {
        horizontal->setRange(0, 0);
    } else {
        const int columns = std::max(1, static_cast<int>((viewport()->width() - 2 * kMargin) / m_cellWidth));
        horizontal->setRange(0, ClampToInt(static_cast<qint64>(m_layout.MaxCells()) + 1 - columns));
        horizontal->setPageStep(columns);
    }
    m_settingScroll = false;
}

void CTextView::scrollContentsBy(int, int)
{
    if (!m_settingScroll)
        RememberTopLine();
    viewport()->update();
}

void CTextView::RememberTopLine()
{
    EnsureLayout();
    const QScrollBar* vertical = verticalScrollBar();
    m_follow = vertical->value() >= vertical->maximum();
    const CRowLayout::SRowPlace place = m_layout.RowAt(static_cast<uint64_t>(vertical->value()));
    m_topLine = m_store.DroppedLines() + place.line;
    m_topRowInLine = static_cast<uint64_t>(vertical->value()) - m_layout.FirstRow(place.line);
}

void CTextView::ScrollToEnd()
{
    m_follow = true;
    UpdateScrollBars();
    viewport()->update();
}

QString CTextView::TextRange(qint64 from, qint64 to) const
{
    const uint64_t start = Position(from);
    const uint64_t end = std::max(start, Position(to));
    std::string text;
    m_store.Read(start, static_cast<std::size_t>(end - start), text);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString CTextView::SelectedText() const { return TextRange(SelectionStart(), SelectionEnd()); }

void CTextView::SetSelection(qint64 anchor, qint64 caret)
{
    m_anchor = Position(anchor);
    m_caret = Position(caret);
    SelectionChanged();
}

void CTextView::MoveCaretToEnd()
{
    if (m_anchor == m_store.End() && m_caret == m_store.End())
        return;
    const bool hadSelection = HasSelection();
    m_anchor = m_caret = m_store.End();
    if (hadSelection) {
        SelectionChanged();
        return;
    }
    // Only the caret moved, with text that came in: shown with the next frame.
    ScheduleFrame();
    if (QAccessible::isActive()) {
        QAccessibleTextCursorEvent moved(this, ClampToInt(CaretPosition()));
        QAccessible::updateAccessibility(&moved);
    }
}

void CTextView::SelectAll()
{
    m_anchor = m_store.Begin();
    m_caret = m_store.End();
    SelectionChanged();
}

void CTextView::Copy()
{
    if (HasSelection())
        QApplication::clipboard()->setText(SelectedText());
}

void CTextView::SelectionChanged()
{
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleTextSelectionEvent selection(this, ClampToInt(SelectionStart()), ClampToInt(SelectionEnd()));
        selection.setCursorPosition(ClampToInt(CaretPosition()));
        QAccessible::updateAccessibility(&selection);
    }
}

bool CTextView::Find(const QString& what, const SFindOptions& options)
{
    const QByteArray utf8 = what.toUtf8();
    const std::string_view needle(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    uint64_t from = m_caret;
    if (HasSelection())
        from = options.forward ? std::max(m_anchor, m_caret) : std::min(m_anchor, m_caret);
    else if (m_matchTo > m_matchFrom)
        from = options.forward ? m_matchTo : m_matchFrom;
    uint64_t found = FindText(m_store, needle, from, options);
    if (found == kNotFound)
        found = FindText(m_store, needle, options.forward ? m_store.Begin() : m_store.End(), options);
    if (found == kNotFound)
        return false;
    m_matchFrom = m_anchor = found;
    m_matchTo = m_caret = found + needle.size();
    SelectionChanged();
    ShowPosition(found);
    return true;
}

CTextView::SPlace CTextView::PlaceOf(uint64_t position) const
{
    EnsureLayout();
    const std::size_t line = m_store.LineOf(position);
    return {line, m_layout.CellOf(m_store, line, position)};
}

void CTextView::ShowPosition(uint64_t position)
{
    UpdateScrollBars(); // the ranges may wait for the next frame
    const SPlace place = PlaceOf(position);
    const uint32_t columns = m_layout.Columns();
    const qint64 row = static_cast<qint64>(m_layout.FirstRow(place.line)) + (columns ? place.cell / columns : 0);
    QScrollBar* vertical = verticalScrollBar();
    if (row < vertical->value() || row >= vertical->value() + VisibleRows())
        vertical->setValue(ClampToInt(row - VisibleRows() / 2));
    if (!m_wrap) {
        QScrollBar* horizontal = horizontalScrollBar();
        const int cell = static_cast<int>(place.cell);
        if (cell < horizontal->value() || cell >= horizontal->value() + horizontal->pageStep())
            horizontal->setValue(cell - horizontal->pageStep() / 2);
    }
}

void CTextView::ScrollToOffset(qint64 offset) { ShowPosition(Position(offset)); }

uint64_t CTextView::PositionAt(const QPoint& point) const
{
    EnsureLayout();
    const qint64 rows = static_cast<qint64>(m_layout.RowCount());
    qint64 row = verticalScrollBar()->value() + (point.y() < 0 ? -1 : point.y() / m_lineHeight);
    if (row >= rows)
        return m_store.End();
    row = std::max<qint64>(row, 0);
    const CRowLayout::SRowPlace place = m_layout.RowAt(static_cast<uint64_t>(row));
    qint64 cell = qRound((point.x() - kMargin) / m_cellWidth) + (m_wrap ? 0 : horizontalScrollBar()->value());
    cell = std::clamp<qint64>(cell, 0, m_wrap ? m_layout.Columns() : UINT32_MAX);
    return m_layout.BoundaryAt(m_store, place.line, place.firstCell + static_cast<uint32_t>(cell));
}

qint64 CTextView::OffsetAt(const QPoint& viewportPoint) const { return Offset(PositionAt(viewportPoint)); }

QRect CTextView::CharacterRect(qint64 offset) const
{
    const SPlace place = PlaceOf(Position(offset));
    const uint32_t columns = m_layout.Columns();
    const qint64 row = static_cast<qint64>(m_layout.FirstRow(place.line)) + (columns ? place.cell / columns : 0);
    const qint64 cell = (columns ? place.cell % columns : place.cell) - (m_wrap ? 0 : horizontalScrollBar()->value());
    return QRect(kMargin + qRound(cell * m_cellWidth), static_cast<int>((row - verticalScrollBar()->value()) * m_lineHeight),
                 qCeil(m_cellWidth), m_lineHeight);
}

void CTextView::keyPressEvent(QKeyEvent* event)
{
    QScrollBar* vertical = verticalScrollBar();
    QScrollBar* horizontal = horizontalScrollBar();
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_PageUp: vertical->triggerAction(QAbstractSlider::SliderPageStepSub); break;
    case Qt::Key_PageDown: vertical->triggerAction(QAbstractSlider::SliderPageStepAdd); break;
    case Qt::Key_Up: vertical->triggerAction(QAbstractSlider::SliderSingleStepSub); break;
    case Qt::Key_Down: vertical->triggerAction(QAbstractSlider::SliderSingleStepAdd); break;
    case Qt::Key_Left: horizontal->triggerAction(QAbstractSlider::SliderSingleStepSub); break;
    case Qt::Key_Right: horizontal->triggerAction(QAbstractSlider::SliderSingleStepAdd); break;
    case Qt::Key_Home:
        (ctrl ? vertical : horizontal)->triggerAction(QAbstractSlider::SliderToMinimum);
        break;
    case Qt::Key_End:
        if (ctrl)
            ScrollToEnd();
        else
            horizontal->triggerAction(QAbstractSlider::SliderToMaximum);
        break;
    default:
        if (event->matches(QKeySequence::Copy))
            Copy();
        else if (event->matches(QKeySequence::SelectAll))
            SelectAll();
        else
            event->ignore();
        return;
    }
    event->accept();
}

void CTextView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const uint64_t position = PositionAt(event->position().toPoint());
    m_caret = position;
    if (!(event->modifiers() & Qt::ShiftModifier))
        m_anchor = position;
    m_selecting = true;
    SelectionChanged();
}

void CTextView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_selecting || !(event->buttons() & Qt::LeftButton))
        return;
    const QPoint point = event->position().toPoint();
    // Dragging past the top or bottom scrolls a row per move.
    if (point.y() < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (point.y() >= viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    m_caret = PositionAt(point);
    SelectionChanged();
}

void CTextView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_selecting) {
        m_selecting = false;
        QClipboard* clipboard = QApplication::clipboard();
        if (HasSelection() && clipboard->supportsSelection())
            clipboard->setText(SelectedText(), QClipboard::Selection);
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void CTextView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    // The word under the pointer.
    const uint64_t position = PositionAt(event->position().toPoint());
    const std::size_t line = m_store.LineOf(position);
    uint64_t from = position;
    uint64_t to = position;
    while (from > m_store.LineStart(line) && IsWordByte(m_store.At(from - 1)))
        --from;
    while (to < m_store.LineEnd(line) && IsWordByte(m_store.At(to)))
        ++to;
    m_anchor = from;
    m_caret = to;
    m_selecting = true;
    SelectionChanged();
}

void CTextView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void CTextView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void CTextView::paintEvent(QPaintEvent* event)
{
    EnsureLayout();
    QPainter painter(viewport());
    painter.setFont(font());
    const uint64_t selFrom = std::min(m_anchor, m_caret);
    const uint64_t selTo = std::max(m_anchor, m_caret);
    const qint64 first = verticalScrollBar()->value();
    const qint64 rows = static_cast<qint64>(m_layout.RowCount());
    const QRect area = event->rect();
    for (qint64 i = area.top() / m_lineHeight; i <= area.bottom() / m_lineHeight && first + i < rows; ++i)
        DrawRow(painter, first + i, static_cast<int>(i * m_lineHeight), selFrom, selTo);

    if (hasFocus()) {
        // The caret; at the end of a full wrapped row it stands after its last cell.
        const SPlace place = PlaceOf(m_caret);
        const uint32_t columns = m_layout.Columns();
        qint64 rowInLine = columns ? place.cell / columns : 0;
        if (columns && rowInLine > 0 && place.cell % columns == 0 && place.cell >= m_layout.Cells(place.line))
            --rowInLine;
        const qint64 row = static_cast<qint64>(m_layout.FirstRow(place.line)) + rowInLine;
        const qint64 cell = static_cast<qint64>(place.cell) - rowInLine * columns -
                            (m_wrap ? 0 : horizontalScrollBar()->value());
        const int x = kMargin + qRound(cell * m_cellWidth);
        painter.fillRect(x, static_cast<int>((row - first) * m_lineHeight), 1, m_lineHeight,
                         palette().color(QPalette::Text));
    }
}

void CTextView::DrawRow(QPainter& painter, qint64 row, int y, uint64_t selFrom, uint64_t selTo) const
{
    const CRowLayout::SRowPlace place = m_layout.RowAt(static_cast<uint64_t>(row));
    const uint32_t firstCell = place.firstCell + (m_wrap ? 0 : static_cast<uint32_t>(horizontalScrollBar()->value()));
    const uint32_t count = ColumnsShown();
    m_presentation->Shape(m_store, m_layout, place.line, firstCell, count, m_shaped);
    const int cells = static_cast<int>(m_shaped.cellStarts.empty() ? m_shaped.text.size() : m_shaped.cellStarts.size());

    // The selected cells of this row; a selected line break shows as one cell.
    int selA = 0, selB = 0;
    const uint64_t lineStart = m_store.LineStart(place.line);
    const uint64_t lineEnd = m_store.LineEnd(place.line);
    if (selFrom < selTo && selTo > lineStart && selFrom <= lineEnd) {
        const qint64 from = selFrom <= lineStart ? 0 : m_layout.CellOf(m_store, place.line, selFrom);
        const qint64 to = selTo > lineEnd ? qint64(m_layout.Cells(place.line)) + 1
                                          : qint64(m_layout.CellOf(m_store, place.line, selTo));
        selA = static_cast<int>(std::clamp<qint64>(from - firstCell, 0, count));
        selB = static_cast<int>(std::clamp<qint64>(to - firstCell, 0, count));
    }
    const QPalette& colours = palette();
    if (selA < selB)
        painter.fillRect(QRectF(kMargin + selA * m_cellWidth, y, (selB - selA) * m_cellWidth, m_lineHeight),
                         colours.color(QPalette::Highlight));

    // The text, in pieces of one style: style runs split by the selection.
    std::vector<int> cuts{0, cells};
    for (const auto& change : m_shaped.styles)
        cuts.push_back(std::clamp(change.first, 0, cells));
    cuts.push_back(std::clamp(selA, 0, cells));
    cuts.push_back(std::clamp(selB, 0, cells));
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    auto styleAt = [&, run = std::size_t{0}](int cell) mutable {
        while (run + 1 < m_shaped.styles.size() && m_shaped.styles[run + 1].first <= cell)
            ++run;
        return !m_shaped.styles.empty() && m_shaped.styles[run].first <= cell ? m_shaped.styles[run].second
                                                                             : CTextStyle();
    };
    // Backgrounds first, so that no fill covers a glyph that reaches past its cell.
    std::vector<CTextStyle> styles(cuts.size() - 1);
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        styles[i] = styleAt(cuts[i]);
        QColor pen, fill;
        StyleColours(styles[i], pen, fill);
        const bool selected = cuts[i] >= selA && cuts[i] < selB;
        if (fill.isValid() && !selected)
            painter.fillRect(
                QRectF(kMargin + cuts[i] * m_cellWidth, y, (cuts[i + 1] - cuts[i]) * m_cellWidth, m_lineHeight), fill);
    }
    const int baseline = y + m_ascent;
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        QColor pen, fill;
        StyleColours(styles[i], pen, fill);
        if (cuts[i] >= selA && cuts[i] < selB)
            pen = colours.color(QPalette::HighlightedText);
        painter.setPen(pen);
        const bool bold = styles[i].Bold();
        if (bold)
            painter.setFont(m_boldFont);
        DrawCells(painter, m_shaped, cuts[i], cuts[i + 1], kMargin, baseline, bold);
        if (bold)
            painter.setFont(font());
    }
}

void CTextView::DrawCells(QPainter& painter, const SShapedRow& shaped, int from, int to, qreal x, int baseline,
                          bool bold) const
{
    if (from >= to)
        return;
    if (shaped.cellStarts.empty() && m_fixedPitch && (!bold || m_boldFitsCells)) {
        painter.drawText(QPointF(x + from * m_cellWidth, baseline), shaped.text.mid(from, to - from));
        return;
    }
    // One cell at a time, so that every character stands in its cell
    // whatever its own width.
    for (int cell = from; cell < to; ++cell) {
        const int start = shaped.cellStarts.empty() ? cell : shaped.cellStarts[cell];
        const int end = shaped.cellStarts.empty() || cell + 1 >= static_cast<int>(shaped.cellStarts.size())
                            ? (shaped.cellStarts.empty() ? cell + 1 : static_cast<int>(shaped.text.size()))
                            : shaped.cellStarts[cell + 1];
        const QString text = shaped.text.mid(start, end - start);
        if (text != QLatin1String(" "))
            painter.drawText(QPointF(x + cell * m_cellWidth, baseline), text);
    }
}
