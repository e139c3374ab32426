#pragma once
// Dark outline of the disk page and the result trees: 39-point background
// stripes, the marked row dark blue, no standard selection highlight.

#include "ZRTableView.h"

class ZRCustomOutlineView : public ZRMarkedOutlineView
{
    Q_OBJECT
public:
    explicit ZRCustomOutlineView(QWidget* parent = nullptr);

protected:
    void drawRowBackground(QPainter& painter, int row, const QRect& rowRect) override;
    void drawBackgroundInClipRect(QPainter& painter, const QRect& clipRect) override;
};
