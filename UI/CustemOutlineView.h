#pragma once
// Dark outline: the marked row dark blue, every other row the plain dark
// colour, with the standard selection highlight.

#include "ZRTableView.h"

class CustemOutlineView : public ZRMarkedOutlineView
{
    Q_OBJECT
public:
    explicit CustemOutlineView(QWidget* parent = nullptr);

protected:
    void drawRowBackground(QPainter& painter, int row, const QRect& rowRect) override;
};
