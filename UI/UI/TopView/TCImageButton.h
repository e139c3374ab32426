// The picture button of every screen: drawn entirely from four pictures
// named by the screen (normal, pressed, hovered, disabled), with an optional
// centred label over the picture. Besides the widget's own enabled state it
// has an on/off switch of its own, setButtonEnabled(): switched off it shows
// the disabled picture and ignores clicks.
//
// Usage: setButtonEnabled(true); setImageFromFileNormalName("x_normal",
// "x_press", "x_hover", "x_disable"); connect clicked() for the action.
#pragma once

#include <QAbstractButton>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QString>

#include <QLabel>

class TCImageButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit TCImageButton(QWidget* parent = nullptr);
    TCImageButton(const QRect& frame, QWidget* parent);

    // Loads the four pictures by name from the bundle; the pictures are drawn
    // at the normal picture's size from the button's top-left corner. The
    // button's own size does not change. From now on the button tracks hover.
    void setImageFromFileNormalName(const QString& normalName, const QString& activeName, const QString& hoverName,
                                    const QString& disableName);
    // The label: a text field across the middle of the button (18 high, the
    // button's width). The pictures are now drawn into frame's size (its
    // origin is ignored).
    void setTextWithName(const QString& text, const QRect& frame);

    // The button's own on/off switch; redraws at once.
    void setButtonEnabled(bool enabled);
    bool buttonEnabled() const { return m_bButtonEnabled; }

    bool isFocus() const { return m_bIsFocus; }
    void setIsFocus(bool focus) { m_bIsFocus = focus; }
    bool isTracking() const { return m_bIsTracking; }

    QLabel* textField() const { return m_textField; }
    const QPixmap& normalImage() const { return m_normalImage; }
    const QPixmap& activeImage() const { return m_activeImage; }
    const QPixmap& hoverImage() const { return m_hoverImage; }
    const QPixmap& disableImage() const { return m_disableImage; }
    QRect dstRect() const { return m_dstRect; }
    QRect srcRect() const { return m_srcRect; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void drawPicture(QPainter& painter, const QPixmap& picture) const;
    void setLabelColour(const QColor& colour);

    bool m_bButtonEnabled = true;
    QPointer<QLabel> m_textField;
    QPixmap m_normalImage;
    QPixmap m_activeImage;
    QPixmap m_hoverImage;
    QPixmap m_disableImage;
    QRect m_dstRect;
    QRect m_srcRect;
    bool m_bIsTracking = false;
    bool m_bIsFocus = false;
    bool m_bHasTrackingRect = false;
};
