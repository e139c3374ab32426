#include "CustomTableHeaderView.h"

#include <QPainter>

std::unique_ptr<ZRCell> CustomTableHeaderView::copy() const { return std::make_unique<CustomTableHeaderView>(*this); }

void CustomTableHeaderView::drawWithFrame(QPainter& painter, const QRectF& cellFrame, bool highlighted, QWidget* controlView)
{
    // A 1-point strip at the bottom edge stays for the hairline.
    const QRectF rest(cellFrame.x(), cellFrame.y(), cellFrame.width(), std::max<qreal>(0, cellFrame.height() - 1));
    painter.fillRect(rest, Qt::white);
    if (highlighted)
        painter.fillRect(rest, QColor(0, 0, 0, qRound(0.1 * 255)));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPen pen(Qt::black);
    pen.setWidthF(0.3);
    painter.setPen(pen);
    painter.drawLine(QPointF(rest.right(), rest.top()), QPointF(rest.right(), rest.bottom()));
    painter.drawLine(QPointF(cellFrame.left(), cellFrame.bottom()), QPointF(cellFrame.right(), cellFrame.bottom()));
    painter.drawLine(QPointF(rest.left(), rest.top()), QPointF(rest.right(), rest.top()));
    painter.restore();
    drawInteriorWithFrame(painter, cellFrame, controlView);
}

void CustomTableHeaderView::drawWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* controlView)
{
    drawWithFrame(painter, cellFrame, false, controlView);
}

void CustomTableHeaderView::highlight(bool flag, QPainter& painter, const QRectF& cellFrame, QWidget* controlView)
{
    drawWithFrame(painter, cellFrame, flag, controlView);
}
