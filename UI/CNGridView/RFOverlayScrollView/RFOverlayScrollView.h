// A scroll area whose scrollers lie over the content instead of beside it:
// the viewport takes the whole area and thin flat-knob scrollers sit along
// the right and bottom edges above it (the vertical one below a table's
// header when the area holds a table).
#pragma once

#include <QColor>
#include <QRectF>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

class QVariantAnimation;

class RFOverlayScroller : public QScrollBar {
    Q_OBJECT
public:
    explicit RFOverlayScroller(Qt::Orientation orientation, QWidget* parent = nullptr);
    ~RFOverlayScroller() override;

    // The width the scroll area's own tiling sees (none) and the width the
    // scroller really takes over the content.
    static int zeroWidth() { return 0; }
    static int scrollerWidth() { return 15; }
    static QColor knobColor();
    // True only for this class itself, not for subclasses.
    bool isCompatibleWithOverlayScrollers() const;

    // The knob as drawn: a 5-pixel bar along the far side of the track.
    static QRectF knobRectForDrawing(const QRectF& knob);
    QRectF knobRect() const;

    // Scroll to value (0..1) and show the scroller at full opacity.
    void setFloatValue(double value);
    void fadeOut();
    double alphaValue() const { return m_alpha; }
    int knobStyle() const { return m_knobStyle; }
    // Milliseconds until the pending fade-out, or -1 when none is pending.
    int pendingFadeOut() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void sliderChange(SliderChange change) override;
    void enterEvent(QEnterEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void showAfterScroll();
    void animateAlphaTo(double alpha, int milliseconds);

    double m_alpha = 1.0;
    int m_knobStyle = 0;
    QTimer m_fadeOutTimer;
    QVariantAnimation* m_animation = nullptr;
};

class RFOverlayScrollView : public QScrollArea {
    Q_OBJECT
public:
    explicit RFOverlayScrollView(QWidget* parent = nullptr);
    ~RFOverlayScrollView() override;

    int headerOffset() const { return m_headerOffset; }
    void setHeaderOffset(int offset);
    // The header height of the first table among the viewport's children, or
    // 0 when there is none or it has no header.
    int tableHeaderOffsetFromSuperview() const;

    RFOverlayScroller* verticalScroller() const { return m_vertical; }
    RFOverlayScroller* horizontalScroller() const { return m_horizontal; }

    // Places the scrollers over the content.
    void tile();
    // Sort order that puts scrollers after (above) their siblings: -1, 0, 1.
    static int scrollerAboveSiblingViewsComparator(const QWidget* view1, const QWidget* view2);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void follow(QScrollBar* inner, RFOverlayScroller* overlay);

    int m_headerOffset = 0;
    RFOverlayScroller* m_vertical = nullptr;
    RFOverlayScroller* m_horizontal = nullptr;
};
