#include "ZRCoverFlowView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

// The chosen item is drawn as a square of this share of the view's height
// (at most this share of its width); neighbours at this share of it, each
// further one overlapping the previous by half.
constexpr double kCentreShareOfHeight = 0.7;
constexpr double kCentreShareOfWidth = 0.4;
constexpr double kSideScale = 0.6;
constexpr int kGap = 10;
constexpr int kTitleHeight = 20;

}  // namespace

ZRCoverFlowView::ZRCoverFlowView(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, Qt::white);
    setPalette(pal);
}

void ZRCoverFlowView::setSelectedIndex(qint64 index)
{
    if (m_count <= 0) {
        m_selectedIndex = index < 0 ? -1 : index;
    } else {
        m_selectedIndex = std::clamp<qint64>(index, 0, m_count - 1);
    }
    update();
}

void ZRCoverFlowView::reloadData()
{
    const qint64 count = m_dataSource ? m_dataSource->numberOfItemsInImageFlow(this) : 0;
    m_count = std::max<qint64>(0, count);
    m_cache.freeCache();
    if (m_count == 0)
        m_selectedIndex = -1;
    else
        m_selectedIndex = std::clamp<qint64>(m_selectedIndex, 0, m_count - 1);
    update();
}

void ZRCoverFlowView::reloadCellDataAtIndex(qint64 index)
{
    m_cache.forget(index);
    if (!itemRect(index).isEmpty())
        update(itemRect(index).adjusted(-1, -1, 1, 1 + kTitleHeight));
}

QRect ZRCoverFlowView::itemRect(qint64 index) const
{
    if (index < 0 || index >= m_count || m_selectedIndex < 0)
        return {};
    const qint64 offset = index - m_selectedIndex;
    if (offset < -kSideItems || offset > kSideItems)
        return {};
    const int side = std::max(
        1, static_cast<int>(std::min(height() * kCentreShareOfHeight, width() * kCentreShareOfWidth)));
    const int centreX = width() / 2;
    const int centreY = (height() - kTitleHeight) / 2;
    if (offset == 0)
        return QRect(centreX - side / 2, centreY - side / 2, side, side);
    const int small = std::max(1, static_cast<int>(side * kSideScale));
    const int steps = static_cast<int>(std::abs(offset)) - 1;
    const int reach = side / 2 + kGap + steps * small / 2;
    const int x = offset < 0 ? centreX - reach - small : centreX + reach;
    return QRect(x, centreY - small / 2, small, small);
}

qint64 ZRCoverFlowView::indexOfItemAt(const QPoint& point) const
{
    // Nearer items are drawn over farther ones, so they are hit first.
    for (qint64 distance = 0; distance <= kSideItems; ++distance) {
        for (const qint64 index : {m_selectedIndex - distance, m_selectedIndex + distance}) {
            if (itemRect(index).contains(point))
                return index;
        }
    }
    return -1;
}

std::optional<Photo> ZRCoverFlowView::shownItem(qint64 index)
{
    if (index < 0 || index >= m_count)
        return std::nullopt;
    if (!m_cache.contains(index)) {
        ZRCoverFlowCache::Entry& entry = m_cache.entry(index);
        if (m_dataSource)
            entry.item = m_dataSource->itemAtIndex(this, index);
    }
    return m_cache.entry(index).item;
}

const QPixmap& ZRCoverFlowView::scaledPicture(qint64 index, const QSize& size)
{
    shownItem(index);
    ZRCoverFlowCache::Entry& entry = m_cache.entry(index);
    if (entry.scaledFor != size) {
        entry.scaledFor = size;
        const QPixmap source = entry.item ? entry.item->imageRepresentation() : QPixmap();
        entry.scaled = source.isNull() ? QPixmap()
                                       : source.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    return entry.scaled;
}

void ZRCoverFlowView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (m_selectedIndex < 0)
        return;
    // Farthest first, so nearer items cover them.
    for (qint64 distance = kSideItems; distance >= 0; --distance) {
        for (const qint64 index : {m_selectedIndex - distance, m_selectedIndex + distance}) {
            const QRect box = itemRect(index);
            if (box.isEmpty())
                continue;
            const QPixmap& picture = scaledPicture(index, box.size());
            painter.setOpacity(distance == 0 ? 1.0 : 0.6);
            if (picture.isNull()) {
                painter.setPen(QColor(90, 90, 90));
                painter.setBrush(QColor(30, 30, 30));
                painter.drawRect(box.adjusted(0, 0, -1, -1));
            } else {
                const QPoint at(box.x() + (box.width() - picture.width()) / 2,
                                box.y() + (box.height() - picture.height()) / 2);
                painter.drawPixmap(at, picture);
            }
            if (distance == 0)
                break;
        }
    }
    painter.setOpacity(1.0);
    const QRect centre = itemRect(m_selectedIndex);
    const std::optional<Photo> chosen = shownItem(m_selectedIndex);
    if (chosen && !centre.isEmpty()) {
        painter.setPen(palette().color(QPalette::WindowText));
        const QRect titleBox(0, centre.bottom() + 4, width(), kTitleHeight);
        painter.drawText(titleBox, Qt::AlignHCenter | Qt::AlignTop,
                         painter.fontMetrics().elidedText(chosen->imageTitle(), Qt::ElideMiddle, width() - 20));
    }
}

void ZRCoverFlowView::pick(qint64 index)
{
    if (index < 0 || index >= m_count)
        return;
    setSelectedIndex(index);
    if (m_delegate)
        m_delegate->didSelectItemAtIndex(this, index);
}

void ZRCoverFlowView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    pick(indexOfItemAt(event->position().toPoint()));
}

void ZRCoverFlowView::wheelEvent(QWheelEvent* event)
{
    const QPoint delta = event->angleDelta();
    const int amount = std::abs(delta.x()) > std::abs(delta.y()) ? delta.x() : delta.y();
    if (amount == 0 || m_selectedIndex < 0)
        return;
    pick(m_selectedIndex + (amount < 0 ? 1 : -1));
    event->accept();
}

void ZRCoverFlowView::keyPressEvent(QKeyEvent* event)
{
    if (m_selectedIndex >= 0 && event->key() == Qt::Key_Left)
        pick(m_selectedIndex - 1);
    else if (m_selectedIndex >= 0 && event->key() == Qt::Key_Right)
        pick(m_selectedIndex + 1);
    else
        QWidget::keyPressEvent(event);
}
