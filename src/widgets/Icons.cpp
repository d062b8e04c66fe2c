#include "widgets/Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

void DrawWindow(QPainter& p, const QRectF& r, const QColor& title)
{
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(Qt::white);
    p.drawRect(r);
    p.fillRect(QRectF(r.left(), r.top(), r.width(), r.height() * 0.22), title);
}

void DrawPrompt(QPainter& p, const QRectF& r)
{
    p.setPen(QPen(QColor(0, 0, 200), r.width() / 12.0, Qt::SolidLine, Qt::RoundCap));
    const qreal x = r.left() + r.width() * 0.15, y = r.top() + r.height() * 0.45, s = r.width() * 0.18;
    p.drawLine(QPointF(x, y), QPointF(x + s, y + s));
    p.drawLine(QPointF(x + s, y + s), QPointF(x, y + 2 * s));
    p.drawLine(QPointF(x + 1.4 * s, y + 2 * s), QPointF(x + 3.2 * s, y + 2 * s));
}

} // namespace

QIcon MakeIcon(VorlaIcon which, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    const QRectF full(0.5, 0.5, s - 1, s - 1);
    switch (which) {
    case VorlaIcon::App: {
        DrawWindow(p, full.adjusted(s * 0.05, s * 0.1, -s * 0.05, -s * 0.1), QColor(0, 90, 160));
        DrawPrompt(p, full.adjusted(s * 0.1, s * 0.1, -s * 0.1, -s * 0.1));
        break;
    }
    case VorlaIcon::Connect:
    case VorlaIcon::Disconnect: {
        const bool on = which == VorlaIcon::Connect;
        p.setPen(QPen(QColor(60, 60, 60), s / 16.0));
        p.setBrush(on ? QColor(40, 170, 60) : QColor(150, 150, 150));
        p.drawRoundedRect(QRectF(s * 0.08, s * 0.35, s * 0.36, s * 0.3), s * 0.05, s * 0.05);
        p.drawRoundedRect(QRectF(on ? s * 0.44 : s * 0.56, s * 0.35, s * 0.36, s * 0.3), s * 0.05, s * 0.05);
        if (!on) {
            p.setPen(QPen(QColor(210, 30, 30), s / 10.0, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(s * 0.42, s * 0.15), QPointF(s * 0.58, s * 0.85));
        }
        break;
    }
    case VorlaIcon::Settings: {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(90, 90, 110));
        p.translate(s / 2, s / 2);
        for (int i = 0; i < 8; ++i) {
            p.drawRect(QRectF(-s * 0.07, -s * 0.45, s * 0.14, s * 0.2));
            p.rotate(45);
        }
        p.drawEllipse(QPointF(0, 0), s * 0.3, s * 0.3);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(0, 0), s * 0.12, s * 0.12);
        break;
    }
    case VorlaIcon::RunScript: {
        DrawWindow(p, full.adjusted(s * 0.05, s * 0.05, -s * 0.25, -s * 0.05), QColor(120, 120, 120));
        QPainterPath play;
        play.moveTo(s * 0.5, s * 0.4);
        play.lineTo(s * 0.95, s * 0.67);
        play.lineTo(s * 0.5, s * 0.94);
        play.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 170, 60));
        p.drawPath(play);
        break;
    }
    case VorlaIcon::ConsoleShown:
    case VorlaIcon::ConsoleHidden: {
        const bool shown = which == VorlaIcon::ConsoleShown;
        DrawWindow(p, full.adjusted(s * 0.05, s * 0.1, -s * 0.05, -s * 0.1), QColor(0, 90, 160));
        if (shown) {
            DrawPrompt(p, full.adjusted(s * 0.1, s * 0.1, -s * 0.1, -s * 0.1));
        } else {
            p.setPen(QPen(QColor(160, 160, 160), s / 14.0));
            p.drawLine(QPointF(s * 0.2, s * 0.6), QPointF(s * 0.8, s * 0.6));
        }
        break;
    }
    case VorlaIcon::Fonts: {
        QFont font("DejaVu Serif");
        font.setPixelSize(static_cast<int>(s * 0.8));
        font.setBold(true);
        p.setFont(font);
        p.setPen(QColor(40, 40, 120));
        p.drawText(full, Qt::AlignCenter, "A");
        break;
    }
    case VorlaIcon::About:
    case VorlaIcon::Help:
    case VorlaIcon::HelpPressed: {
        const bool pressed = which == VorlaIcon::HelpPressed;
        p.setPen(Qt::NoPen);
        p.setBrush(pressed ? QColor(0, 60, 120) : QColor(0, 100, 200));
        p.drawEllipse(full.adjusted(s * 0.05, s * 0.05, -s * 0.05, -s * 0.05));
        QFont font("DejaVu Sans");
        font.setPixelSize(static_cast<int>(s * 0.75));
        font.setBold(true);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(full, Qt::AlignCenter, which == VorlaIcon::About ? "i" : "?");
        break;
    }
    }
    p.end();
    return QIcon(pixmap);
}
