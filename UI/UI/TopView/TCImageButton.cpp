#include "TCImageButton.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "BundleResources.h"

namespace {

constexpr int kLabelHeight = 18;
constexpr int kLabelFontPixelSize = 14;

QSize LogicalSize(const QPixmap& pixmap) { return pixmap.deviceIndependentSize().toSize(); }

}  // namespace

TCImageButton::TCImageButton(QWidget* parent) : QAbstractButton(parent) { setFocusPolicy(Qt::NoFocus); }

TCImageButton::TCImageButton(const QRect& frame, QWidget* parent) : TCImageButton(parent) { setGeometry(frame); }

void TCImageButton::setImageFromFileNormalName(const QString& normalName, const QString& activeName,
                                               const QString& hoverName, const QString& disableName)
{
    m_normalImage = Bundle::ImageNamed(normalName);
    m_activeImage = Bundle::ImageNamed(activeName);
    m_hoverImage = Bundle::ImageNamed(hoverName);
    m_disableImage = Bundle::ImageNamed(disableName);
    m_dstRect = QRect(QPoint(0, 0), LogicalSize(m_normalImage));
    m_srcRect = m_dstRect;
    // From now on the pointer entering and leaving counts as hover.
    m_bHasTrackingRect = true;
    update();
}

void TCImageButton::setTextWithName(const QString& text, const QRect& frame)
{
    m_dstRect = QRect(QPoint(0, 0), frame.size());
    // One label per button: a second call replaces the first.
    delete m_textField.data();
    auto* label = new QLabel(this);
    label->setGeometry(0, qRound((height() - kLabelHeight) / 2.0), width(), kLabelHeight);
    // The label's background colour is the control colour, but like the
    // other captions drawn over pictures it paints no background of its own,
    // so the picture shows through round the text.
    label->setBackgroundRole(QPalette::Button);
    label->setAutoFillBackground(false);
    // The caption's colour (white, grey when disabled) is its text colour,
    // not the button text colour that the background role would pick.
    label->setForegroundRole(QPalette::WindowText);
    QFont font = label->font();
    font.setPixelSize(kLabelFontPixelSize);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    label->setText(text);
    label->setFrameShape(QFrame::NoFrame);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    // The label passes the pointer through to the button.
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->show();
    m_textField = label;
    setLabelColour(Qt::white);
}

void TCImageButton::setButtonEnabled(bool enabled)
{
    m_bButtonEnabled = enabled;
    repaint();
}

QSize TCImageButton::sizeHint() const { return m_dstRect.isValid() ? m_dstRect.size() : QSize(0, 0); }

void TCImageButton::setLabelColour(const QColor& colour)
{
    if (!m_textField)
        return;
    QPalette palette = m_textField->palette();
    bool changed = false;
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        if (palette.color(group, QPalette::WindowText) != colour) {
            palette.setColor(group, QPalette::WindowText, colour);
            changed = true;
        }
    }
    if (!changed)
        return;
    m_textField->setPalette(palette);
}

void TCImageButton::drawPicture(QPainter& painter, const QPixmap& picture) const
{
    if (picture.isNull() || m_dstRect.isEmpty() || m_srcRect.isEmpty())
        return;
    // The source rectangle counts from the picture's bottom-left corner.
    const QSizeF size = picture.deviceIndependentSize();
    const qreal ratio = picture.devicePixelRatio();
    const QRectF source(m_srcRect.x() * ratio, (size.height() - m_srcRect.y() - m_srcRect.height()) * ratio,
                        m_srcRect.width() * ratio, m_srcRect.height() * ratio);
    painter.drawPixmap(QRectF(m_dstRect), picture, source);
}

void TCImageButton::paintEvent(QPaintEvent*)
{
    if (m_normalImage.isNull()) {
        setLabelColour(Qt::white);
        // No pictures: an ordinary push button.
        QStylePainter painter(this);
        QStyleOptionButton option;
        option.initFrom(this);
        option.text = text();
        option.icon = icon();
        option.iconSize = iconSize();
        if (isDown())
            option.state |= QStyle::State_Sunken;
        painter.drawControl(QStyle::CE_PushButton, option);
        return;
    }

    QPainter painter(this);
    if (!isEnabled() || !m_bButtonEnabled) {
        setLabelColour(Qt::gray);
        drawPicture(painter, m_disableImage);
        return;
    }
    setLabelColour(Qt::white);
    if (m_bIsTracking)
        drawPicture(painter, m_activeImage);
    else if (m_bIsFocus)
        drawPicture(painter, m_hoverImage);
    else
        drawPicture(painter, m_normalImage);
}

void TCImageButton::enterEvent(QEnterEvent* event)
{
    QAbstractButton::enterEvent(event);
    if (m_bHasTrackingRect && isEnabled()) {
        m_bIsFocus = true;
        repaint();
    }
}

void TCImageButton::leaveEvent(QEvent* event)
{
    QAbstractButton::leaveEvent(event);
    if (m_bHasTrackingRect) {
        m_bIsFocus = false;
        repaint();
    }
}

void TCImageButton::mousePressEvent(QMouseEvent* event)
{
    if (!m_bButtonEnabled) {
        // Switched off: the press goes nowhere.
        event->accept();
        return;
    }
    if (isEnabled()) {
        m_bIsTracking = true;
        repaint();
    }
    QAbstractButton::mousePressEvent(event);
}

void TCImageButton::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_bButtonEnabled) {
        event->accept();
        return;
    }
    QAbstractButton::mouseMoveEvent(event);
}

void TCImageButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_bButtonEnabled) {
        // Switched off while held (or never pressed): no click.
        event->accept();
        if (isDown())
            setDown(false);
        if (m_bIsTracking) {
            m_bIsTracking = false;
            repaint();
        }
        return;
    }
    QAbstractButton::mouseReleaseEvent(event);
    m_bIsTracking = false;
    repaint();
}

void TCImageButton::keyPressEvent(QKeyEvent* event)
{
    if (!m_bButtonEnabled) {
        event->ignore();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void TCImageButton::keyReleaseEvent(QKeyEvent* event)
{
    if (!m_bButtonEnabled) {
        event->ignore();
        return;
    }
    QAbstractButton::keyReleaseEvent(event);
}
