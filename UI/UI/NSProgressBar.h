// The filled part of the results window's thin progress bar: an orange
// rounded bar with a blue glow, drawn over its whole bounds.
#pragma once

#include <QWidget>

class NSProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit NSProgressBar(QWidget* parent = nullptr);

    // The bar's own colours.
    static QColor FillColor();
    static QColor GlowColor();

protected:
    void paintEvent(QPaintEvent* event) override;
};
