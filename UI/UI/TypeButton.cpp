#include "TypeButton.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>

#include "BundleResources.h"

namespace {

const QColor kCaption(141, 150, 185);

QColor WithAlpha(QColor colour, qreal alpha)
{
    colour.setAlphaF(static_cast<float>(alpha));
    return colour;
}

void SetCaptionColour(QLabel* label, const QColor& colour)
{
    if (!label)
        return;
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

}  // namespace

TypeButton::TypeButton(const QRect& frame, QWidget* parent) : QAbstractButton(parent)
{
    setGeometry(frame);
    m_isDisabled = true;
}

TypeButton::TypeButton(QWidget* parent) : QAbstractButton(parent) {}

void TypeButton::setTextWithName(const QString& text)
{
    m_isSelect = true;
    if (!m_textField) {
        m_textField = new QLabel(this);
        m_textField->setGeometry(0, 51, 90, 17);
        QFont font = m_textField->font();
        font.setPixelSize(14);
        m_textField->setFont(font);
        m_textField->setAlignment(Qt::AlignCenter);
        m_textField->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    SetCaptionColour(m_textField, kCaption);
    m_textField->setText(text);
    if (!m_checkBox) {
        m_checkBox = new QLabel(this);
        m_checkBox->setGeometry(37, 74, 16, 16);
        m_checkBox->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    m_checkBox->setPixmap(Bundle::ImageNamed(QStringLiteral("checkbox_yes")));
}

void TypeButton::setImageFromFileNormalName(const QString& normalName, const QString& activeName,
                                            const QString& hoverName, const QString& disableName)
{
    m_normalImage = Bundle::ImageNamed(normalName);
    m_activeImage = Bundle::ImageNamed(activeName);
    m_hoverImage = Bundle::ImageNamed(hoverName);
    m_disableImage = Bundle::ImageNamed(disableName);
    m_dstRect = QRect(20, 0, 50, 50);
    m_srcRect = m_dstRect;
    setAttribute(Qt::WA_Hover);
    update();
}

void TypeButton::changeSelect(bool select)
{
    m_isSelect = select;
    if (m_checkBox)
        m_checkBox->setPixmap(Bundle::ImageNamed(select ? QStringLiteral("checkbox_yes") : QStringLiteral("checkbox_no")));
}

void TypeButton::setButtonEnabled(bool enabled)
{
    m_isDisabled = enabled;
    repaint();
}

const QPixmap* TypeButton::imageToDraw(QColor* captionColour) const
{
    QColor colour = kCaption;
    const QPixmap* image = nullptr;
    if (m_normalImage.isNull()) {
        image = nullptr;
    } else if (isEnabled() && m_isDisabled) {
        if (m_isTracking) {
            image = &m_activeImage;
        } else if (m_isFocus) {
            image = &m_hoverImage;
            colour = WithAlpha(kCaption, 0.8);
        } else {
            image = &m_normalImage;
        }
    } else {
        image = &m_disableImage;
        colour = QColor(Qt::gray);
    }
    if (captionColour)
        *captionColour = colour;
    return image;
}

void TypeButton::paintEvent(QPaintEvent* /*event*/)
{
    QColor colour;
    const QPixmap* image = imageToDraw(&colour);
    SetCaptionColour(m_textField, colour);
    QPainter painter(this);
    if (m_normalImage.isNull()) {
        QStyleOptionButton option;
        option.initFrom(this);
        option.text = text();
        style()->drawControl(QStyle::CE_PushButton, &option, &painter, this);
        return;
    }
    if (image && !image->isNull())
        painter.drawPixmap(m_dstRect, *image);
}

void TypeButton::mousePressEvent(QMouseEvent* event)
{
    if (!m_isDisabled) {
        event->ignore();
        return;
    }
    if (isEnabled()) {
        m_isTracking = true;
        repaint();
    }
    QAbstractButton::mousePressEvent(event);
}

void TypeButton::mouseReleaseEvent(QMouseEvent* event)
{
    QAbstractButton::mouseReleaseEvent(event);
    if (m_isTracking) {
        m_isTracking = false;
        repaint();
    }
}

void TypeButton::keyPressEvent(QKeyEvent* event)
{
    if (!m_isDisabled) {
        event->ignore();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void TypeButton::enterEvent(QEnterEvent* event)
{
    if (isEnabled()) {
        m_isFocus = true;
        update();
    }
    QAbstractButton::enterEvent(event);
}

void TypeButton::leaveEvent(QEvent* event)
{
    m_isFocus = false;
    update();
    QAbstractButton::leaveEvent(event);
}
