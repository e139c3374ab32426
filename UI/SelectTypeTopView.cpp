#include "SelectTypeTopView.h"

#include <QPainter>
#include <QPaintEvent>

void SelectTypeTopView::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.fillRect(event->rect(), QColor(37, 41, 45));
}
