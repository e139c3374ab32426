#include "RFOverlayScrollView.h"

#include <QEvent>
#include <QHeaderView>
#include <QPainter>
#include <QStyleOptionSlider>
#include <QTableView>
#include <QTreeView>
#include <QVariantAnimation>

#include <algorithm>
#include <typeinfo>

// ---- scroller --------------------------------------------------------------

RFOverlayScroller::RFOverlayScroller(Qt::Orientation orientation, QWidget* parent) : QScrollBar(orientation, parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_TranslucentBackground);
    m_fadeOutTimer.setSingleShot(true);
    m_fadeOutTimer.setInterval(1500);
    connect(&m_fadeOutTimer, &QTimer::timeout, this, &RFOverlayScroller::fadeOut);
}

RFOverlayScroller::~RFOverlayScroller() = default;

QColor RFOverlayScroller::knobColor() { return QColor(100, 100, 100, 255); }

bool RFOverlayScroller::isCompatibleWithOverlayScrollers() const
{
    return typeid(*this) == typeid(RFOverlayScroller);
}

QRectF RFOverlayScroller::knobRectForDrawing(const QRectF& knob)
{
    QRectF rect = knob;
    if (rect.width() <= 15) {  // vertical scroller
        rect.moveLeft(rect.x() + 5);
        rect.setWidth(5);
    }
    if (rect.height() <= 15) {  // horizontal scroller
        rect.moveTop(5);
        rect.setHeight(5);
    }
    return rect;
}

QRectF RFOverlayScroller::knobRect() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
}

void RFOverlayScroller::paintEvent(QPaintEvent*)
{
    // No track, no arrows: only the flat knob.
    QPainter painter(this);
    painter.setOpacity(m_alpha);
    painter.fillRect(knobRectForDrawing(knobRect()), knobColor());
}

void RFOverlayScroller::setFloatValue(double value)
{
    const double clamped = std::clamp(value, 0.0, 1.0);
    setValue(minimum() + static_cast<int>(clamped * (maximum() - minimum()) + 0.5));
    showAfterScroll();
}

void RFOverlayScroller::sliderChange(SliderChange change)
{
    QScrollBar::sliderChange(change);
    if (change == SliderValueChange)
        showAfterScroll();
}

void RFOverlayScroller::showAfterScroll()
{
    animateAlphaTo(1.0, 0);
    // One pending fade-out at a time, counted from the latest scroll.
    m_fadeOutTimer.start();
}

void RFOverlayScroller::enterEvent(QEnterEvent* event)
{
    QScrollBar::enterEvent(event);
    m_knobStyle = 1;
    animateAlphaTo(1.0, 100);
    m_fadeOutTimer.stop();
}

void RFOverlayScroller::mouseMoveEvent(QMouseEvent* event)
{
    QScrollBar::mouseMoveEvent(event);
    if (m_animation)
        m_animation->stop();
    m_alpha = 1.0;
    update();
}

void RFOverlayScroller::leaveEvent(QEvent* event)
{
    QScrollBar::leaveEvent(event);
    fadeOut();
}

void RFOverlayScroller::fadeOut()
{
    m_knobStyle = 1;
    animateAlphaTo(1.0, 300);
}

int RFOverlayScroller::pendingFadeOut() const
{
    return m_fadeOutTimer.isActive() ? m_fadeOutTimer.remainingTime() : -1;
}

void RFOverlayScroller::animateAlphaTo(double alpha, int milliseconds)
{
    if (m_animation)
        m_animation->stop();
    if (milliseconds <= 0 || m_alpha == alpha) {
        m_alpha = alpha;
        update();
        return;
    }
    if (!m_animation) {
        m_animation = new QVariantAnimation(this);
        connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
            m_alpha = v.toDouble();
            update();
        });
    }
    m_animation->setDuration(milliseconds);
    m_animation->setStartValue(m_alpha);
    m_animation->setEndValue(alpha);
    m_animation->start();
}

// ---- scroll view -----------------------------------------------------------

RFOverlayScrollView::RFOverlayScrollView(QWidget* parent) : QScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    // The area's own scroll bars stay hidden so that the viewport takes the
    // whole area; the overlay scrollers mirror them.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_vertical = new RFOverlayScroller(Qt::Vertical, this);
    m_horizontal = new RFOverlayScroller(Qt::Horizontal, this);
    follow(verticalScrollBar(), m_vertical);
    follow(horizontalScrollBar(), m_horizontal);
    viewport()->installEventFilter(this);
    m_headerOffset = tableHeaderOffsetFromSuperview();
    tile();
}

RFOverlayScrollView::~RFOverlayScrollView()
{
    if (viewport())
        viewport()->removeEventFilter(this);
}

void RFOverlayScrollView::follow(QScrollBar* inner, RFOverlayScroller* overlay)
{
    auto syncRange = [this, inner, overlay](int min, int max) {
        overlay->setRange(min, max);
        overlay->setPageStep(inner->pageStep());
        overlay->setSingleStep(inner->singleStep());
        // A scroller shows only while there is something to scroll.
        overlay->setVisible(max > min);
        tile();
    };
    connect(inner, &QScrollBar::rangeChanged, overlay, syncRange);
    connect(inner, &QScrollBar::valueChanged, overlay, &QScrollBar::setValue);
    connect(overlay, &QScrollBar::valueChanged, inner, &QScrollBar::setValue);
    syncRange(inner->minimum(), inner->maximum());
}

void RFOverlayScrollView::setHeaderOffset(int offset)
{
    m_headerOffset = offset;
    tile();
}

int RFOverlayScrollView::tableHeaderOffsetFromSuperview() const
{
    if (!viewport())
        return 0;
    for (QObject* child : viewport()->children()) {
        if (auto* table = qobject_cast<QTableView*>(child)) {
            QHeaderView* header = table->horizontalHeader();
            return header && !header->isHidden() ? header->sizeHint().height() : 0;
        }
        if (auto* tree = qobject_cast<QTreeView*>(child)) {
            QHeaderView* header = tree->header();
            return header && !header->isHidden() ? header->sizeHint().height() : 0;
        }
    }
    return 0;
}

void RFOverlayScrollView::tile()
{
    if (!m_vertical || !m_horizontal)
        return;
    const QRect bounds = rect();
    const int w = RFOverlayScroller::scrollerWidth();
    m_vertical->setGeometry(bounds.width() - w, m_headerOffset, w, std::max(0, bounds.height() - m_headerOffset));
    m_horizontal->setGeometry(0, bounds.height() - 12, std::max(0, bounds.width() - w), 12);

    // Scrollers last, so they are drawn above the content.
    std::vector<QWidget*> children;
    for (QObject* child : this->children())
        if (auto* widget = qobject_cast<QWidget*>(child))
            children.push_back(widget);
    std::stable_sort(children.begin(), children.end(), [](const QWidget* a, const QWidget* b) {
        return scrollerAboveSiblingViewsComparator(a, b) < 0;
    });
    for (QWidget* widget : children)
        widget->raise();
}

int RFOverlayScrollView::scrollerAboveSiblingViewsComparator(const QWidget* view1, const QWidget* view2)
{
    const bool first = qobject_cast<const RFOverlayScroller*>(view1) != nullptr;
    const bool second = qobject_cast<const RFOverlayScroller*>(view2) != nullptr;
    if (second && !first)
        return -1;
    if (first && !second)
        return 1;
    return 0;
}

void RFOverlayScrollView::resizeEvent(QResizeEvent* event)
{
    QScrollArea::resizeEvent(event);
    tile();
}

bool RFOverlayScrollView::eventFilter(QObject* watched, QEvent* event)
{
    // The scrolled table arrives after the area is made; its header height is
    // taken when it comes or goes.
    if (watched == viewport() && (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildRemoved)) {
        m_headerOffset = tableHeaderOffsetFromSuperview();
        tile();
    }
    return QScrollArea::eventFilter(watched, event);
}
