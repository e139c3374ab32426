#pragma once
// The top band of the file-type page: one dark colour.

#include <QWidget>

class SelectTypeTopView : public QWidget
{
    Q_OBJECT
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* event) override;
};
