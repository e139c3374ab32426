#include "NSProgressBar.h"

#include <QPainter>
#include <QPainterPath>

NSProgressBar::NSProgressBar(QWidget* parent) : QWidget(parent) {}

QColor NSProgressBar::FillColor() { return QColor(249, 171, 0); }

QColor NSProgressBar::GlowColor() { return QColor(59, 153, 252); }

void NSProgressBar::paintEvent(QPaintEvent*)
{
    const QRectF bar = QRectF(rect()).adjusted(1, 1, -1, -1);
    if (bar.width() <= 0 || bar.height() <= 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(bar, 1, 1);

    // The glow: a soft blue halo of about two points round the bar.
    const QColor glow = GlowColor();
    for (int ring = 2; ring >= 1; --ring) {
        QColor c = glow;
        c.setAlphaF(ring == 2 ? 0.35 : 0.7);
        painter.setPen(QPen(c, ring * 2.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
    }
    // Outline in the plain drawing colour, then the orange fill.
    painter.setPen(QPen(Qt::black, 1));
    painter.drawPath(path);
    painter.fillPath(path, FillColor());
}
