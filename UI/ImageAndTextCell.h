#pragma once
// A text cell with a small (16 x 16) image before the text.

#include "ZRCell.h"

class ImageAndTextCell : public ZRTextFieldCell
{
public:
    using ZRTextFieldCell::ZRTextFieldCell;

    std::unique_ptr<ZRCell> copy() const override;

    QPixmap image() const override { return m_image; }
    void setImage(const QPixmap& image) override { m_image = image; }

    // Where the image sits for a frame (zero rectangle without an image).
    QRectF imageFrameForCellFrame(const QRectF& cellFrame) const;
    // Frame left for editing: 3 + image width split off the left side.
    QRectF editingFrameForCellFrame(const QRectF& cellFrame) const;
    // Where the 16 x 16 image is drawn by drawWithFrame.
    QRectF drawnImageRectForCellFrame(const QRectF& cellFrame) const;

    void drawWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* controlView) override;
    void drawInteriorWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* controlView) override;
    QRectF titleRectForBounds(const QRectF& bounds) const override;
    QSizeF cellSize() const override;

private:
    QPixmap m_image;
};
