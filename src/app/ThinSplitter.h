#pragma once

#include <QWidget>

#include <vector>

#include "app/SplitterLayout.h"

// The two-row pane splitter: terminal pane on top, console pane below, a
// 7-pixel bar between them that the user may drag, and a 1-pixel sunken
// border. Rows follow the ideal/minimum/current rules of SplitterLayout.
class CThinSplitterWnd : public QWidget {
    Q_OBJECT
public:
    explicit CThinSplitterWnd(QWidget* parent = nullptr);

    void SetPane(int row, QWidget* pane);
    QWidget* GetPane(int row, int col) const;
    void SetRowInfo(int row, int idealSize, int minSize);
    const SplitterRow& RowInfo(int row) const { return m_rows[row]; }
    void RecalcLayout();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QRect InsideRect() const;
    QRect BarRect() const;

    std::vector<SplitterRow> m_rows{2};
    QWidget* m_panes[2] = {nullptr, nullptr};
    bool m_tracking = false;
};
