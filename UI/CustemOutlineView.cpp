#include "CustemOutlineView.h"

#include <QPainter>

#include "CustomTableView.h"

CustemOutlineView::CustemOutlineView(QWidget* parent) : ZRMarkedOutlineView(parent) {}

void CustemOutlineView::drawRowBackground(QPainter& painter, int row, const QRect& rowRect)
{
    painter.fillRect(rowRect, row == isSelectRow() ? ZRListColors::MarkedRowColor() : ZRListColors::PlainRowColor());
}
