#include "app/ThinSplitter.h"

#include <QMouseEvent>
#include <QPainter>

CThinSplitterWnd::CThinSplitterWnd(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
}

void CThinSplitterWnd::SetPane(int row, QWidget* pane)
{
    m_panes[row] = pane;
    pane->setParent(this);
    pane->show();
}

QWidget* CThinSplitterWnd::GetPane(int row, int col) const
{
    return (col == 0 && row >= 0 && row < 2) ? m_panes[row] : nullptr;
}

void CThinSplitterWnd::SetRowInfo(int row, int idealSize, int minSize)
{
    m_rows[row].idealSize = idealSize;
    m_rows[row].minSize = minSize;
}

QRect CThinSplitterWnd::InsideRect() const
{
    return rect().adjusted(kSplitterBorder, kSplitterBorder, -kSplitterBorder, -kSplitterBorder);
}

void CThinSplitterWnd::RecalcLayout()
{
    const QRect inside = InsideRect();
    LayoutSplitterRows(m_rows, inside.height());
    int y = inside.top();
    for (int row = 0; row < 2; ++row) {
        QWidget* pane = m_panes[row];
        const int height = m_rows[row].currentSize;
        if (pane) {
            if (height <= 0 || inside.width() <= 0) {
                pane->hide();
            } else {
                // The pane's sunken edge lies over the splitter's border.
                const QRect cell(inside.left(), y, inside.width(), height);
                const QRect target = cell.adjusted(-1, -1, 1, 1);
                if (pane->geometry() != target)
                    pane->setGeometry(target);
                pane->show();
            }
        }
        y += height + kSplitterGap;
    }
    update();
}

QRect CThinSplitterWnd::BarRect() const
{
    const QRect inside = InsideRect();
    if (m_rows[1].currentSize <= 0)
        return {};
    return QRect(inside.left(), inside.top() + m_rows[0].currentSize, inside.width(), kSplitterGap);
}

void CThinSplitterWnd::resizeEvent(QResizeEvent*) { RecalcLayout(); }

void CThinSplitterWnd::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect r = rect();
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());
}

void CThinSplitterWnd::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && BarRect().contains(event->position().toPoint())) {
        m_tracking = true;
        grabMouse();
    }
}

void CThinSplitterWnd::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    setCursor(m_tracking || BarRect().contains(pos) ? Qt::SplitVCursor : Qt::ArrowCursor);
}

void CThinSplitterWnd::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_tracking)
        return;
    m_tracking = false;
    releaseMouse();
    // Dropping the bar makes its position the terminal row's ideal height.
    const int ideal = event->position().toPoint().y() - InsideRect().top();
    m_rows[0].idealSize = ideal < 0 ? 0 : ideal;
    RecalcLayout();
}
