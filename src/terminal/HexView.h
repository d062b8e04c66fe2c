#pragma once

#include <QAbstractScrollArea>

#include <cstdint>
#include <functional>

class CReceivedBytes;

// The received bytes as a hex dump: offset, 16 bytes in hex and the same
// bytes as characters, a row per 16 positions. Only the rows on screen are
// formatted, from the held bytes, at each paint: showing it costs the same
// with a few bytes or with megabytes held. It follows the end while the
// user is at the end. Selection is by bytes (mouse, Select All); copy gives
// the selected bytes as hex, 16 to a line as shown.
class CHexView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit CHexView(CReceivedBytes& bytes, QWidget* parent = nullptr);

    // Bytes arrived or were cleared: scroll bar, end-following and paint.
    void Refresh();
    uint64_t FirstVisibleRow() const { return m_topRow; }
    int VisibleRows() const;
    bool IsFollowingEnd() const { return m_follow; }

    bool HasSelection() const { return m_hasSelection; }
    // The selected bytes as hex pairs, a line per row; empty without a selection.
    QString SelectedText() const;
    // Selects bytes [from, to) (absolute positions), clipped to those held.
    void SetSelection(uint64_t from, uint64_t to);
    void SelectAll();
    void Copy();
    // Keys the view does not use (characters for the device) go here.
    void SetKeyForwarder(std::function<void(QKeyEvent*)> forward) { m_forwardKey = std::move(forward); }

signals:
    void focusGained();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void UpdateScrollBar();
    uint64_t PositionAt(const QPoint& point) const;
    int CharWidth() const;
    int LineHeight() const;

    CReceivedBytes& m_bytes;
    uint64_t m_topRow = 0;       // absolute row at the top of the viewport
    bool m_follow = true;
    bool m_settingScroll = false; // the view moves its own scroll bar
    bool m_hasSelection = false;
    uint64_t m_selFrom = 0, m_selTo = 0; // selected bytes [from, to)
    uint64_t m_anchor = 0;       // the byte the mouse selection started on
    std::function<void(QKeyEvent*)> m_forwardKey;
};
