#include "ZRCell.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QWidget>

#include "BundleResources.h"

ZRCell::ZRCell(const QString& text) { setStringValue(text); }

std::unique_ptr<ZRCell> ZRCell::copy() const { return std::make_unique<ZRCell>(*this); }

void ZRCell::setObjectValue(const QVariant& value)
{
    m_objectValue = value;
    if (value.canConvert<QString>() && value.typeId() != QMetaType::QPixmap && value.typeId() != QMetaType::QImage)
        m_stringValue = value.toString();
    else
        m_stringValue.clear();
}

void ZRCell::setStringValue(const QString& text)
{
    m_stringValue = text;
    m_objectValue = text;
}

void ZRCell::performAction()
{
    if (m_action)
        m_action(this);
}

void ZRCell::drawWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* controlView)
{
    if (m_drawsBackground && m_backgroundColor.alpha() > 0)
        painter.fillRect(cellFrame, m_backgroundColor);
    drawInteriorWithFrame(painter, cellFrame, controlView);
}

void ZRCell::drawInteriorWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* /*controlView*/)
{
    drawText(painter, titleRectForBounds(cellFrame), m_stringValue);
}

void ZRCell::highlight(bool /*flag*/, QPainter& painter, const QRectF& cellFrame, QWidget* controlView)
{
    drawWithFrame(painter, cellFrame, controlView);
}

QRectF ZRCell::titleRectForBounds(const QRectF& bounds) const
{
    // A text cell keeps two points free at either side.
    return bounds.adjusted(2, 0, -2, 0);
}

QSizeF ZRCell::cellSize() const
{
    const QFontMetricsF metrics(m_font);
    return QSizeF(metrics.horizontalAdvance(m_stringValue) + 4, metrics.height());
}

unsigned ZRCell::hitTestForEvent(const QPointF& point, const QRectF& cellFrame, QWidget* /*controlView*/)
{
    return cellFrame.contains(point) ? ZRCellHitContentArea : ZRCellHitNone;
}

void ZRCell::drawText(QPainter& painter, const QRectF& rect, const QString& text) const
{
    if (text.isEmpty() || rect.width() <= 0)
        return;
    painter.save();
    painter.setFont(m_font);
    painter.setPen(m_enabled ? m_textColor : QColor(Qt::gray));
    QString shown = text;
    if (m_truncatesTail)
        shown = QFontMetricsF(m_font).elidedText(text, Qt::ElideRight, rect.width());
    painter.drawText(rect, static_cast<int>(m_alignment) | Qt::TextSingleLine, shown);
    painter.restore();
}

std::unique_ptr<ZRCell> ZRTextFieldCell::copy() const { return std::make_unique<ZRTextFieldCell>(*this); }

unsigned ZRTextFieldCell::hitTestForEvent(const QPointF& point, const QRectF& cellFrame, QWidget* controlView)
{
    unsigned hit = ZRCell::hitTestForEvent(point, cellFrame, controlView);
    if (hit != ZRCellHitNone && isEditable())
        hit |= ZRCellHitEditableTextArea;
    return hit;
}

std::unique_ptr<ZRCell> ZRImageCell::copy() const { return std::make_unique<ZRImageCell>(*this); }

void ZRImageCell::setObjectValue(const QVariant& value)
{
    ZRCell::setObjectValue(value);
    if (value.typeId() == QMetaType::QPixmap)
        setImage(value.value<QPixmap>());
    else if (value.typeId() == QMetaType::QImage)
        setImage(QPixmap::fromImage(value.value<QImage>()));
}

void ZRImageCell::drawInteriorWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* /*controlView*/)
{
    const QPixmap picture = image();
    if (picture.isNull() || cellFrame.isEmpty())
        return;
    QSizeF size = picture.size();
    size.scale(cellFrame.size(), Qt::KeepAspectRatio);
    if (size.width() > picture.width() && size.height() > picture.height())
        size = picture.size();  // never blown up, only shrunk to fit
    QRectF target(QPointF(), size);
    target.moveCenter(cellFrame.center());
    painter.drawPixmap(target, picture, QRectF(picture.rect()));
}

unsigned ZRImageCell::hitTestForEvent(const QPointF& point, const QRectF& cellFrame, QWidget* controlView)
{
    return ZRCell::hitTestForEvent(point, cellFrame, controlView);
}

std::unique_ptr<ZRCell> ZRButtonCell::copy() const { return std::make_unique<ZRButtonCell>(*this); }

void ZRButtonCell::drawInteriorWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* /*controlView*/)
{
    const QPixmap picture = image();
    qreal textLeft = cellFrame.left();
    if (!picture.isNull()) {
        QRectF target(QPointF(), QSizeF(picture.size()).boundedTo(cellFrame.size()));
        if (title().isEmpty())
            target.moveCenter(cellFrame.center());
        else
            target.moveTopLeft(QPointF(cellFrame.left() + 2, cellFrame.center().y() - target.height() / 2));
        painter.drawPixmap(target, picture, QRectF(picture.rect()));
        textLeft = target.right() + 2;
    }
    if (!title().isEmpty())
        drawText(painter, QRectF(textLeft, cellFrame.top(), cellFrame.right() - textLeft, cellFrame.height()), title());
}

unsigned ZRButtonCell::hitTestForEvent(const QPointF& point, const QRectF& cellFrame, QWidget* /*controlView*/)
{
    if (!isEnabled() || !cellFrame.contains(point))
        return ZRCellHitNone;
    return ZRCellHitContentArea | ZRCellHitTrackableArea;
}

std::unique_ptr<ZRCell> ZRTableHeaderCell::copy() const { return std::make_unique<ZRTableHeaderCell>(*this); }

void ZRTableHeaderCell::drawWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* controlView)
{
    painter.fillRect(cellFrame, QColor(236, 236, 236));
    painter.save();
    painter.setPen(QColor(190, 190, 190));
    painter.drawLine(QPointF(cellFrame.right(), cellFrame.top()), QPointF(cellFrame.right(), cellFrame.bottom()));
    painter.restore();
    drawInteriorWithFrame(painter, cellFrame.adjusted(2, 0, 0, 0), controlView);
}

QString ZRCheckBoxImageName(int state, bool triState)
{
    if (state == ZRCheckStateOn)
        return QStringLiteral("checkbox_yes");
    if (state == ZRCheckStateOff || !triState)
        return QStringLiteral("checkbox_no");
    return QStringLiteral("checkbox_election");
}

QPixmap ZRCheckBoxImage(int state, bool triState) { return Bundle::ImageNamed(ZRCheckBoxImageName(state, triState)); }

int ZRNextCheckState(int state) { return state == ZRCheckStateOn ? ZRCheckStateOff : (state == ZRCheckStateOff || state == ZRCheckStateMixed ? ZRCheckStateOn : ZRCheckStateOff); }
