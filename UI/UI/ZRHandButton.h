#pragma once
// A button that acts as a link: the pointing hand while the pointer is over it.

#include <QPushButton>

class ZRHandButton : public QPushButton
{
    Q_OBJECT
public:
    explicit ZRHandButton(QWidget* parent = nullptr);
    explicit ZRHandButton(const QString& text, QWidget* parent = nullptr);

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
};
