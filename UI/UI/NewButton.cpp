#include "NewButton.h"

#include <QCoreApplication>
#include <QPainter>
#include <QTimer>

#include <cmath>

namespace
{
// One guard for every check-box cell of the program: after an accepted
// click, further clicks anywhere are ignored for a short while (a click is
// otherwise seen more than once while the view tracks it).
int s_clickGuard = 0;
}

std::unique_ptr<ZRCell> NewButton::copy() const
{
    auto copied = std::make_unique<NewButton>(*this);
    if (m_label)
        copied->m_label = std::shared_ptr<ZRCell>(m_label->copy());
    if (m_iconImageCell)
        copied->m_iconImageCell = std::shared_ptr<ZRCell>(m_iconImageCell->copy());
    return copied;
}

QRectF NewButton::imageRectForBounds(const QRectF& cellFrame) const
{
    if (!m_label)
        return {};
    const qreal x = cellFrame.x() + (m_iconImageCell ? 40 : 15);
    return QRectF(x, cellFrame.y() + std::ceil((cellFrame.height() - 16) / 2), 800, 16);
}

QRectF NewButton::iconImageRectForBounds(const QRectF& cellFrame) const
{
    if (!m_iconImageCell)
        return {};
    return QRectF(cellFrame.x() + 8, cellFrame.y() + std::ceil((cellFrame.height() - 30) / 2), 40, 30);
}

QRectF NewButton::imageFrameRectForBounds(const QRectF& cellFrame) const
{
    if (m_checkBoxImage.isNull())
        return {};
    return QRectF(cellFrame.x() + 5, cellFrame.y() + std::ceil((cellFrame.height() - 14) / 2), 14, 14);
}

void NewButton::drawWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* controlView)
{
    if (!m_checkBoxImage.isNull())
        painter.drawPixmap(imageFrameRectForBounds(cellFrame), m_checkBoxImage, QRectF(m_checkBoxImage.rect()));
    if (m_iconImageCell)
        m_iconImageCell->drawWithFrame(painter, iconImageRectForBounds(cellFrame), controlView);
    if (m_label) {
        m_label->drawWithFrame(painter, imageRectForBounds(cellFrame), controlView);
        m_label->setEditable(false);
    }
    ZRButtonCell::drawWithFrame(painter, cellFrame, controlView);
}

unsigned NewButton::hitTestForEvent(const QPointF& point, const QRectF& cellFrame, QWidget* controlView)
{
    // The check-box column at the cell's left edge.
    const QRectF zone(cellFrame.topLeft(), QSizeF(15, 30));
    const unsigned inherited = ZRButtonCell::hitTestForEvent(point, zone, controlView);
    const bool inside = point.x() >= zone.left() && point.x() < zone.right() && point.y() >= zone.top()
                        && point.y() < zone.bottom();
    if (!inside || s_clickGuard != 0)
        return ZRCellHitNone;
    if (m_delegate)
        m_delegate->clickButtonAction(this);
    ++s_clickGuard;
    // The cell may be gone in 0.2 s; the guard is process-wide, so the
    // reopening does not need it.
    QTimer::singleShot(kClickGuardMs, QCoreApplication::instance(), [] { s_clickGuard = 0; });
    return inherited | ZRCellHitTrackableArea;
}

void NewButton::changeVlaue(QObject*) { s_clickGuard = 0; }

int NewButton::clickGuard() { return s_clickGuard; }

void NewButton::resetClickGuard() { s_clickGuard = 0; }
