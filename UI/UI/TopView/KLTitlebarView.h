// The custom title strip of TCImageWindow: KLTitlebarContainer is the strip
// itself and moves the window when the user drags it; KLTitlebarView fills
// the container, paints the strip (a dark fill with rounded top corners,
// black corners in full screen) and, when asked, the window title, and
// minimises the window on a double click when the user's preference
// "AppleMiniaturizeOnDoubleClick" says so. Screens add their own controls as
// children of KLTitlebarView; drags that start on the view itself (not on a
// control) reach the container.
#pragma once

#include <QColor>
#include <QFont>
#include <QLinearGradient>
#include <QPainterPath>
#include <QPoint>
#include <QRectF>
#include <QWidget>

#include <memory>

#include "TCImageWindow.h"

// The strip's fixed fill colour (also its separator colour).
QColor KLTitlebarFillColor();

// The strip's outline: square bottom corners, the two top corners rounded
// with radius.
QPainterPath createClippingPathWithRectAndRadius(const QRectF& rect, qreal radius);
// A two-colour gradient, start at 0 and end at 1 (the caller sets its end
// points).
QLinearGradient createGradientWithColors(const QColor& startColor, const QColor& endColor);
// The colour as plain RGB components.
QColor KL_CGColorCreate(const QColor& color);

// How the title is drawn.
struct KLTitleTextAttributes {
    QFont font;
    QColor foregroundColor;
    TCShadow shadow;
};

class KLTitlebarView : public QWidget {
    Q_OBJECT
public:
    explicit KLTitlebarView(QWidget* parent = nullptr);

    // Fills whichever of frame and attributes is non-null with the title's
    // rectangle in this view and its drawing attributes for window.
    void getTitleFrame(QRectF* frame, KLTitleTextAttributes* attributes, TCImageWindow* window) const;
    // Kept for the drawing step that calls it; draws nothing.
    void drawNoiseWithOpacity(qreal opacity);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    TCImageWindow* imageWindow() const;
    int m_iClickCount = 0;
};

class KLTitlebarContainer : public QWidget {
    Q_OBJECT
public:
    explicit KLTitlebarContainer(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_bDragging = false;
    QPoint m_windowOrigin;
    QPoint m_lastLocation;
};
