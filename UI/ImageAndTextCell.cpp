#include "ImageAndTextCell.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace
{
constexpr qreal kImageSlice = 19;  // width split off for the image
constexpr qreal kImageSide = 16;   // the image is always drawn 16 x 16
constexpr qreal kImageInset = 3;
}

std::unique_ptr<ZRCell> ImageAndTextCell::copy() const { return std::make_unique<ImageAndTextCell>(*this); }

QRectF ImageAndTextCell::imageFrameForCellFrame(const QRectF& cellFrame) const
{
    if (m_image.isNull())
        return {};
    const qreal height = m_image.height();
    return QRectF(cellFrame.x() + kImageInset, cellFrame.y() + std::ceil((cellFrame.height() - height) / 2), m_image.width(),
                  height);
}

QRectF ImageAndTextCell::editingFrameForCellFrame(const QRectF& cellFrame) const
{
    const qreal split = kImageInset + (m_image.isNull() ? 0 : m_image.width());
    return cellFrame.adjusted(std::min(split, cellFrame.width()), 0, 0, 0);
}

QRectF ImageAndTextCell::drawnImageRectForCellFrame(const QRectF& cellFrame) const
{
    if (m_image.isNull())
        return {};
    // Views here are flipped: the image sits centred on the row.
    const qreal y = cellFrame.y() - 17 + std::ceil((cellFrame.height() + kImageSide) / 2);
    return QRectF(cellFrame.x() + kImageInset, y, kImageSide, kImageSide);
}

void ImageAndTextCell::drawWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* controlView)
{
    QRectF rest = cellFrame;
    if (!m_image.isNull()) {
        const QRectF slice(cellFrame.x(), cellFrame.y(), std::min(kImageSlice, cellFrame.width()), cellFrame.height());
        rest.setLeft(slice.right());
        if (drawsBackground())
            painter.fillRect(slice, backgroundColor());
        painter.drawPixmap(drawnImageRectForCellFrame(cellFrame), m_image, QRectF(m_image.rect()));
    }
    ZRTextFieldCell::drawWithFrame(painter, rest, controlView);
}

void ImageAndTextCell::drawInteriorWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* /*controlView*/)
{
    const QString text = stringValue();
    if (text.isEmpty())
        return;
    const QRectF rect = titleRectForBounds(cellFrame);
    painter.save();
    painter.setFont(font());
    painter.setPen(isEnabled() ? textColor() : QColor(Qt::gray));
    const QString shown = truncatesTail() ? QFontMetricsF(font()).elidedText(text, Qt::ElideRight, rect.width()) : text;
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, shown);
    painter.restore();
}

QRectF ImageAndTextCell::titleRectForBounds(const QRectF& bounds) const
{
    QRectF rect = ZRTextFieldCell::titleRectForBounds(bounds);
    rect.translate(5, 0);
    const qreal textHeight = QFontMetricsF(font()).height();
    rect.moveTop(bounds.y() - 0.5 + (bounds.height() - textHeight) / 2);
    return rect;
}

QSizeF ImageAndTextCell::cellSize() const
{
    QSizeF size = ZRTextFieldCell::cellSize();
    size.setWidth(size.width() + kImageInset + (m_image.isNull() ? 0 : m_image.width()));
    return size;
}
