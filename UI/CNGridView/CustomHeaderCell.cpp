#include "CustomHeaderCell.h"

#include <QPainter>
#include <QPainterPath>

#include "CustomTableView.h"

CustomHeaderCell::CustomHeaderCell(const ZRCell* cell)
{
    if (cell) {
        setStringValue(cell->stringValue());
        setAlignment(cell->alignment());
    }
    QFont font(QStringLiteral("Helvetica"));
    font.setWeight(QFont::Light);
    font.setPixelSize(12);
    setFont(font);
    setTextColor(ZRListColors::HeaderTextColor());
}

std::unique_ptr<CustomHeaderCell> CustomHeaderCell::initWithCell(const ZRCell* cell)
{
    return std::make_unique<CustomHeaderCell>(cell);
}

std::unique_ptr<ZRCell> CustomHeaderCell::copy() const { return std::make_unique<CustomHeaderCell>(*this); }

void CustomHeaderCell::setSortAscending(bool ascending, long long priority)
{
    _ascending = ascending;
    _priority = priority;
}

QRectF CustomHeaderCell::titleRectForFrame(const QRectF& rect) const
{
    QRectF title = rect.translated(5, 5);
    if (_priority == 0)
        title.setWidth(title.width() - 8);
    return title;
}

void CustomHeaderCell::_drawInRect(QPainter& painter, const QRectF& rect, bool /*hilighted*/)
{
    QColor ground = ZRListColors::PlainRowColor();
    ground.setAlphaF(0.98f);
    painter.fillRect(rect, ground);
    const QRectF title = titleRectForFrame(rect);
    painter.save();
    painter.setClipRect(rect, Qt::IntersectClip);
    painter.setFont(font());
    painter.setPen(textColor());
    painter.drawText(title, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, stringValue());
    painter.restore();
}

void CustomHeaderCell::drawSortIndicatorWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* /*controlView*/,
                                                  bool ascending, long long priority)
{
    if (priority != 0)
        return;  // drawn in the clear colour: nothing shows
    const qreal x0 = cellFrame.right() - 12;
    QPainterPath triangle;
    if (ascending) {
        triangle.moveTo(x0, cellFrame.bottom() - 10);
        triangle.lineTo(x0 + 4, cellFrame.bottom() - 17);
        triangle.lineTo(x0 + 8, cellFrame.bottom() - 10);
    } else {
        triangle.moveTo(x0, cellFrame.top() + 10);
        triangle.lineTo(x0 + 4, cellFrame.top() + 17);
        triangle.lineTo(x0 + 8, cellFrame.top() + 10);
    }
    triangle.closeSubpath();
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.fillPath(triangle, Qt::white);
    painter.restore();
}

void CustomHeaderCell::drawWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* controlView)
{
    _drawInRect(painter, cellFrame, false);
    drawSortIndicatorWithFrame(painter, cellFrame, controlView, _ascending, _priority);
}

void CustomHeaderCell::highlight(bool /*flag*/, QPainter& painter, const QRectF& cellFrame, QWidget* controlView)
{
    _drawInRect(painter, cellFrame, true);
    drawSortIndicatorWithFrame(painter, cellFrame, controlView, _ascending, _priority);
}
