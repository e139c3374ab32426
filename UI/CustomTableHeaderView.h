#pragma once
// A plain white header cell with black hairlines (a cell, despite its name).

#include "ZRCell.h"

class CustomTableHeaderView : public ZRTableHeaderCell
{
public:
    using ZRTableHeaderCell::ZRTableHeaderCell;

    std::unique_ptr<ZRCell> copy() const override;

    void drawWithFrame(QPainter& painter, const QRectF& cellFrame, bool highlighted, QWidget* controlView);
    void drawWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* controlView) override;
    void highlight(bool flag, QPainter& painter, const QRectF& cellFrame, QWidget* controlView) override;
};
