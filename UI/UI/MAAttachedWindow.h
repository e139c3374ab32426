// A frameless pop-over window that carries one view and points at a spot of
// the screen (or of another window) with a triangular arrow. Everything it
// shows is drawn by itself: a rounded, optionally bordered shape with the
// arrow.
//
// Screen coordinates here are Qt's (y downwards); the geometry is worked out
// with y upwards inside the window, the arrow pointing "up" at a point above
// the window for Below, and so on, then turned round for Qt.
#pragma once

#include <QBrush>
#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <cstdint>
#include <memory>

// Where the window lies relative to its point; the Growing sides say in which
// direction it extends from the point.
enum class AttachedWindowSide : int32_t {
    Left = 0,
    Below = 1,
    Right = 2,
    Above = 3,
    LeftGrowingUp = 4,
    LeftGrowingDown = 5,
    RightGrowingUp = 6,
    RightGrowingDown = 7,
    AboveGrowingLeft = 8,
    AboveGrowingRight = 9,
    BelowGrowingLeft = 10,
    BelowGrowingRight = 11,
    Automatic = 12,
};

class MAAttachedWindow : public QWidget {
    Q_OBJECT
public:
    ~MAAttachedWindow() override;

    // Creation; nothing when view is null. point is in window's coordinates,
    // or in screen coordinates when window is null. The caller owns the
    // result (usually giving it its own window as parent).
    static std::unique_ptr<MAAttachedWindow> initWithView(QWidget* view, QPointF point, QWidget* window,
                                                          AttachedWindowSide side, float distance);
    static std::unique_ptr<MAAttachedWindow> initWithView(QWidget* view, QPointF point, QWidget* window,
                                                          float distance);
    static std::unique_ptr<MAAttachedWindow> initWithView(QWidget* view, QPointF point, AttachedWindowSide side,
                                                          float distance);
    static std::unique_ptr<MAAttachedWindow> initWithView(QWidget* view, QPointF point, float distance);
    static std::unique_ptr<MAAttachedWindow> initWithView(QWidget* view, QPointF point, QWidget* window);
    static std::unique_ptr<MAAttachedWindow> initWithView(QWidget* view, QPointF point, AttachedWindowSide side);
    static std::unique_ptr<MAAttachedWindow> initWithView(QWidget* view, QPointF point);

    // Appearance.
    QBrush windowBackgroundColor() const { return m_MABackgroundColor; }
    void setBackgroundColor(const QBrush& color);
    // A non-null image becomes the fill as a pattern; null is ignored.
    void setBackgroundImage(const QImage& image);
    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor& color);
    float borderWidth() const { return m_borderWidth; }
    void setBorderWidth(float width);
    float viewMargin() const { return m_viewMargin; }
    void setViewMargin(float margin);
    float arrowBaseWidth() const { return m_arrowBaseWidth; }
    void setArrowBaseWidth(float width);
    float arrowHeight() const { return m_arrowHeight; }
    void setArrowHeight(float height);
    bool hasArrow() const { return m_hasArrow; }
    void setHasArrow(bool hasArrow);
    float cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(float radius);
    bool drawsRoundCornerBesideArrow() const { return m_drawsRoundCornerBesideArrow; }
    void setDrawsRoundCornerBesideArrow(bool draws);

    // Moves the window to point a new spot from the given side.
    void setPoint(QPointF point, AttachedWindowSide side);
    AttachedWindowSide side() const { return m_side; }

    bool canBecomeMainWindow() const { return false; }
    bool canBecomeKeyWindow() const { return true; }
    bool isExcludedFromWindowsMenu() const { return true; }
    // Closing goes to the window the pop-over belongs to, when there is one.
    void performClose();

    // The window's frame in screen coordinates, before rounding to pixels.
    QRectF attachedFrame() const;
    // The view's frame inside the window, y upwards from the bottom edge.
    QRectF viewFrame() const { return m_viewFrame; }
    // The outline with the arrow, y upwards from the window's bottom edge.
    QPainterPath _backgroundPath() const;
    // The drawn background at the window's size.
    QImage _backgroundColorPatternImage() const;
    AttachedWindowSide _bestSideForAutomaticPosition() const;
    float _arrowInset() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    MAAttachedWindow(QWidget* view, QPointF point, QWidget* window, AttachedWindowSide side, float distance);

    QPointF pointOnScreenUp() const;
    void _updateGeometry();
    void _updateBackground();
    void _appendArrowToPath(QPainterPath& path) const;
    void _redisplay();
    void drawBackground(QPainter& painter) const;

    QPointer<QWidget> m_view;
    QPointer<QWidget> m_window;
    QPointF m_point;
    AttachedWindowSide m_side = AttachedWindowSide::Below;
    float m_distance = 0;
    QBrush m_MABackgroundColor;
    QColor m_borderColor;
    float m_borderWidth = 0.2f;
    float m_viewMargin = 2.0f;
    float m_arrowBaseWidth = 15.0f;
    float m_arrowHeight = 10.0f;
    bool m_hasArrow = true;
    float m_cornerRadius = 8.0f;
    bool m_drawsRoundCornerBesideArrow = true;
    bool m_resizing = false;
    QRectF m_viewFrame;
    QRectF m_frameUp;  // screen frame, y upwards
};
