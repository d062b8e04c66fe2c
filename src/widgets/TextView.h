#pragma once

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QFont>
#include <QTimer>

#include <memory>
#include <string_view>
#include <vector>

#include "text/LineStore.h"
#include "text/RowLayout.h"
#include "text/TextSearch.h"
#include "widgets/TextPresentation.h"

// A read-mostly text pane over a CLineStore, for text that arrives fast and
// in bulk: appending costs the same however much is held, only the rows on
// screen are shaped and painted, at most once per frame, and wrapping never
// lays out more than the lines that changed. It follows the end while the
// user is at the end and stays on the same text while the user has scrolled
// up. Selection with the mouse, Select All, copy and find work on the store;
// screen readers read it through Qt's accessible text interface.
//
// Offsets in the public interface count characters from the start of what
// is held (one byte each for ASCII; text is held as UTF-8). Line breaks are
// "\n".
//
// A subclass may edit the end of the text (ReplaceRange): what follows the
// edit is taken out and appended again, so an edit costs what stands after
// it, and the oldest lines make room for that part first.
class CTextView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit CTextView(std::size_t capacity = CLineStore::kDefaultCapacity, QWidget* parent = nullptr);
    ~CTextView() override;

    // The text. Appending at the end drops the oldest lines beyond the capacity.
    void AppendText(std::string_view utf8);
    // Removes the last character of the last line (a line break only if lineBreakToo).
    bool EraseLastChar(bool lineBreakToo = false);
    void Clear();
    void setPlainText(const QString& text);
    QString toPlainText() const;
    const CLineStore& Store() const { return m_store; }
    qint64 CharacterCount() const { return static_cast<qint64>(m_store.Size()); }
    bool IsEmpty() const { return m_store.Empty(); }
    // The most characters held; fewer drops the oldest lines at once.
    void SetCapacity(std::size_t characters);
    // The style of text appended from now on: its colours (the default
    // ones are the palette's Text and Base), bold and inverse.
    void SetTextStyle(CTextStyle style) { m_store.SetStyle(style); }
    // The colour the character at offset is drawn in.
    QColor TextColourAt(qint64 offset) const;
    // Another way of showing the same store (hex dump, timestamps); nullptr
    // goes back to plain text. The view does not own it.
    void SetPresentation(ITextPresentation* presentation);

    void SetWrapping(bool wrap);
    bool IsWrapping() const { return m_wrap; }
    // Visual rows of the whole text as laid out now.
    qint64 RowCount() const;
    // The first row on screen and how many fit.
    qint64 FirstVisibleRow() const;
    int VisibleRows() const;
    bool IsFollowingEnd() const { return m_follow; }
    void ScrollToEnd();
    // The lines whose first row is on screen: (the row's top in viewport
    // pixels, the store's line), for a margin drawn beside them.
    std::vector<std::pair<int, std::size_t>> LinesStartingOnScreen() const;
    int LineHeight() const { return m_lineHeight; }

    // Caret and selection.
    qint64 CaretPosition() const { return Offset(m_caret); }
    bool HasSelection() const { return m_anchor != m_caret; }
    qint64 SelectionStart() const { return Offset(std::min(m_anchor, m_caret)); }
    qint64 SelectionEnd() const { return Offset(std::max(m_anchor, m_caret)); }
    QString SelectedText() const;
    QString TextRange(qint64 from, qint64 to) const;
    void SetSelection(qint64 anchor, qint64 caret);
    // The caret to the end of the text, with no selection; the view does not move.
    void MoveCaretToEnd();
    void SelectAll();
    // Puts the selection on the clipboard; nothing selected leaves it as it is.
    void Copy();

    // Finds text from the selection (forward from its end, backward from its
    // start), else from the last match, else from the caret, and wraps
    // around. A match becomes the selection and is scrolled into view.
    bool Find(const QString& what, const SFindOptions& options);
    // Scrolls so that the character at offset is on screen.
    void ScrollToOffset(qint64 offset);
    // Where the character at offset is drawn, in viewport coordinates, and the reverse.
    QRect CharacterRect(qint64 offset) const;
    qint64 OffsetAt(const QPoint& viewportPoint) const;

protected:
    // Text in one style, for ReplaceRange.
    struct SPiece {
        std::string_view text;
        CTextStyle style;
    };
    // Replaces the text between absolute positions from and to (CLineStore
    // positions) with the pieces. Caret and selection ends after the range
    // move with the text; inside it they go to the end of the new text.
    // When the capacity is reached, the oldest lines make room for the text
    // after the range and for the last `keep` pieces: those stay whole.
    void ReplaceRange(uint64_t from, uint64_t to, const std::vector<SPiece>& pieces, std::size_t keep = 0);
    uint64_t CaretPos() const { return m_caret; }
    uint64_t AnchorPos() const { return m_anchor; }
    void SetSelectionPos(uint64_t anchor, uint64_t caret);
    // Scrolls the caret into view; on the last line the view follows the end again.
    void ShowCaret();

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct SPlace {
        std::size_t line;
        uint32_t cell;
    };

    qint64 Offset(uint64_t position) const { return static_cast<qint64>(position - m_store.Begin()); }
    uint64_t Position(qint64 offset) const;
    uint64_t Clamp(uint64_t position) const;
    void TextChanged();
    void ScheduleFrame();
    void Frame();
    void EnsureLayout() const;
    void UpdateMetrics();
    // Columns from the width (when wrapping), then rows and scroll bars.
    void Relayout();
    void UpdateScrollBars();
    void RememberTopLine();
    void SelectionChanged();
    SPlace PlaceOf(uint64_t position) const;
    uint64_t PositionAt(const QPoint& point) const;
    void ShowPosition(uint64_t position);
    void DrawRow(QPainter& painter, qint64 row, int y, uint64_t selFrom, uint64_t selTo) const;
    // The pen and the fill behind the text (invalid: none) of a style.
    void StyleColours(CTextStyle style, QColor& pen, QColor& fill) const;
    void DrawCells(QPainter& painter, const SShapedRow& shaped, int from, int to, qreal x, int baseline,
                   bool bold) const;
    uint32_t ColumnsShown() const;

    CLineStore m_store;
    CPlainPresentation m_plain;
    mutable SShapedRow m_shaped; // scratch for painting
    ITextPresentation* m_presentation = &m_plain;
    mutable CRowLayout m_layout;
    mutable bool m_layoutStale = true; // text changed since the layout last followed it

    bool m_wrap = true;
    qreal m_cellWidth = 8;
    int m_lineHeight = 16;
    int m_ascent = 12;
    bool m_fixedPitch = true;
    QFont m_boldFont;
    bool m_boldFitsCells = true; // the bold font's advance is the cell width

    // Where the user reads while not following the end: the absolute line
    // number (CLineStore::DroppedLines counting) and the row within it.
    bool m_follow = true;
    uint64_t m_topLine = 0;
    uint64_t m_topRowInLine = 0;
    bool m_settingScroll = false; // the view moves its own scroll bars

    uint64_t m_anchor = 0; // selection: from anchor to caret, absolute positions
    uint64_t m_caret = 0;
    uint64_t m_matchFrom = 0, m_matchTo = 0; // the last find match
    bool m_selecting = false;

    // Painting at most once per frame.
    QTimer m_frameTimer;
    QElapsedTimer m_sinceFrame;
};
