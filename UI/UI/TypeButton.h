// The large picture button of the file-type page, one per kind of file: it
// draws one of four pictures (normal, pressed, hover, disabled), shows a
// caption under the picture and a check box under the caption that tells
// whether the kind is chosen. Laid out for a 90-point-wide frame: picture
// 50 x 50 at x 20, caption at y 51, check box at (37, 74).
#pragma once

#include <QAbstractButton>
#include <QPixmap>
#include <QRect>

class QLabel;

class TypeButton : public QAbstractButton {
    Q_OBJECT
public:
    // Made in code ("initWithFrame"): usable from the start.
    TypeButton(const QRect& frame, QWidget* parent);
    // Made any other way: not usable until setButtonEnabled(true).
    explicit TypeButton(QWidget* parent = nullptr);

    // Makes the caption and the check box, and marks the kind chosen.
    void setTextWithName(const QString& text);
    void setImageFromFileNormalName(const QString& normalName, const QString& activeName, const QString& hoverName,
                                    const QString& disableName);
    void changeSelect(bool select);
    // true: usable. Redraws at once.
    void setButtonEnabled(bool enabled);

    bool isSelect() const { return m_isSelect; }
    void setIsSelect(bool select) { m_isSelect = select; }
    bool isFocus() const { return m_isFocus; }
    void setIsFocus(bool focus) { m_isFocus = focus; }
    // Despite its name: true when the button is usable.
    bool isDisabled() const { return m_isDisabled; }
    bool isTracking() const { return m_isTracking; }
    QLabel* textField() const { return m_textField; }
    QLabel* checkBox() const { return m_checkBox; }
    QRect dstRect() const { return m_dstRect; }
    // The picture the next drawing shows, and the caption colour it sets;
    // nullptr when the plain button is drawn (no normal picture).
    const QPixmap* imageToDraw(QColor* captionColour = nullptr) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QPixmap m_normalImage;
    QPixmap m_activeImage;
    QPixmap m_hoverImage;
    QPixmap m_disableImage;
    QLabel* m_textField = nullptr;
    bool m_isTracking = false;
    bool m_isFocus = false;
    bool m_isDisabled = false;
    bool m_isSelect = false;
    QRect m_dstRect;
    QRect m_srcRect;
    QLabel* m_checkBox = nullptr;
};
