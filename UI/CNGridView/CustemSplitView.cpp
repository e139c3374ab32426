#include "CustemSplitView.h"

#include <QPainter>
#include <QSplitterHandle>

namespace
{
// The divider between the panes, filled black.
class CustemSplitHandle : public QSplitterHandle
{
public:
    using QSplitterHandle::QSplitterHandle;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        CustemSplitView::drawDividerInRect(painter, rect());
    }
};
}

CustemSplitView::CustemSplitView(QWidget* parent) : QSplitter(parent) {}

CustemSplitView::CustemSplitView(Qt::Orientation orientation, QWidget* parent) : QSplitter(orientation, parent) {}

void CustemSplitView::drawDividerInRect(QPainter& painter, const QRect& rect) { painter.fillRect(rect, Qt::black); }

QRect CustemSplitView::dividerRectAfterFirstSubview() const
{
    if (count() == 0)
        return {};
    const QRect first = widget(0)->geometry();
    return QRect(first.x(), first.height(), first.width(), handleWidth());
}

void CustemSplitView::drawRect()
{
    // Painting happens in the paint pass; ask for that rectangle to be redrawn.
    update(dividerRectAfterFirstSubview());
}

QSplitterHandle* CustemSplitView::createHandle() { return new CustemSplitHandle(orientation(), this); }
