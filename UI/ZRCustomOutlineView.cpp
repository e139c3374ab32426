#include "ZRCustomOutlineView.h"

#include <QPainter>

#include "CustomTableView.h"

ZRCustomOutlineView::ZRCustomOutlineView(QWidget* parent) : ZRMarkedOutlineView(parent)
{
    setSelectionHighlightStyle(SelectionHighlightStyleNone);
    setRowHeight(kZRStripeHeight);
}

void ZRCustomOutlineView::drawRowBackground(QPainter& painter, int row, const QRect& rowRect)
{
    if (row >= 0 && row == isSelectRow())
        painter.fillRect(rowRect, ZRListColors::MarkedRowColor());
}

void ZRCustomOutlineView::drawBackgroundInClipRect(QPainter& painter, const QRect&)
{
    ZRDrawStripedBackground(painter, viewport()->width(), boundsHeight(), verticalOffset());
}
