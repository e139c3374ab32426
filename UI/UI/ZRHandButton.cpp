#include "ZRHandButton.h"

ZRHandButton::ZRHandButton(QWidget* parent) : QPushButton(parent) {}

ZRHandButton::ZRHandButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

void ZRHandButton::enterEvent(QEnterEvent* event)
{
    setCursor(Qt::PointingHandCursor);
    QPushButton::enterEvent(event);
}

void ZRHandButton::leaveEvent(QEvent* event)
{
    setCursor(Qt::ArrowCursor);
    QPushButton::leaveEvent(event);
}
