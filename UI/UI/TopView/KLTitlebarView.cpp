#include "KLTitlebarView.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>

#include "UserDefaults.h"

namespace {

constexpr qreal kCornerRadius = 4;
// The standard size of the title font.
constexpr int kTitleFontPixelSize = 13;

}  // namespace

QColor KLTitlebarFillColor() { return QColor(38, 41, 45); }

QPainterPath createClippingPathWithRectAndRadius(const QRectF& rect, qreal radius)
{
    // Drawn top-down here: the bottom corners stay square, the two top ones
    // are rounded.
    QPainterPath path;
    const qreal left = rect.left(), right = rect.right(), top = rect.top(), bottom = rect.bottom();
    path.moveTo(left, bottom);
    path.lineTo(left, top + radius);
    path.arcTo(QRectF(left, top, 2 * radius, 2 * radius), 180, -90);
    path.lineTo(right - radius, top);
    path.arcTo(QRectF(right - 2 * radius, top, 2 * radius, 2 * radius), 90, -90);
    path.lineTo(right, bottom);
    path.closeSubpath();
    return path;
}

QLinearGradient createGradientWithColors(const QColor& startColor, const QColor& endColor)
{
    QLinearGradient gradient;
    gradient.setColorAt(0, KL_CGColorCreate(startColor));
    gradient.setColorAt(1, KL_CGColorCreate(endColor));
    gradient.setSpread(QGradient::PadSpread);
    return gradient;
}

QColor KL_CGColorCreate(const QColor& color)
{
    QColor rgb = color.toRgb();
    return QColor::fromRgbF(rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF());
}

// ---------------------------------------------------------------- view

KLTitlebarView::KLTitlebarView(QWidget* parent) : QWidget(parent) {}

TCImageWindow* KLTitlebarView::imageWindow() const { return qobject_cast<TCImageWindow*>(window()); }

void KLTitlebarView::drawNoiseWithOpacity(qreal) {}

void KLTitlebarView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    TCImageWindow* owner = imageWindow();
    const bool drawsAsMain = owner && owner->drawsAsMainWindow();
    const bool fullScreen = owner && owner->isFullScreenWindow();
    const QRectF bounds = rect();

    if (owner && owner->titleBarDrawingBlock()) {
        const QPainterPath clip = createClippingPathWithRectAndRadius(bounds, kCornerRadius);
        painter.save();
        owner->titleBarDrawingBlock()(painter, drawsAsMain, bounds, clip);
        painter.restore();
    } else {
        const QColor fill = KLTitlebarFillColor();
        if (fullScreen)
            painter.fillRect(bounds, Qt::black);
        painter.setClipPath(createClippingPathWithRectAndRadius(bounds, kCornerRadius));
        QLinearGradient gradient = createGradientWithColors(fill, fill);
        gradient.setStart(bounds.center().x(), bounds.bottom());
        gradient.setFinalStop(bounds.center().x(), bounds.top());
        painter.fillRect(bounds, gradient);
        const bool separator = !owner || owner->showsBaselineSeparator();
        if (separator) {
            // The bottom line, and the one above it, in the strip's own colour.
            painter.fillRect(QRectF(0, bounds.bottom() - 1, bounds.width(), 1), fill);
            painter.fillRect(QRectF(0, bounds.bottom() - 2, bounds.width(), 1), fill);
        }
        if (drawsAsMain) {
            QRectF inner = bounds.adjusted(1, 1, -1, -1);
            if (!separator)
                inner.adjust(0, 0, 0, 1);
            painter.setClipPath(createClippingPathWithRectAndRadius(inner, kCornerRadius), Qt::IntersectClip);
            drawNoiseWithOpacity(0.1);
        }
    }

    if (owner && owner->showsTitle() && (!fullScreen || owner->showsTitleInFullscreen())) {
        QRectF frame;
        KLTitleTextAttributes attributes;
        getTitleFrame(&frame, &attributes, owner);
        painter.setFont(attributes.font);
        // The shadow's y is upwards: a negative offset lies below the text.
        painter.setPen(attributes.shadow.shadowColor);
        painter.drawText(frame.translated(attributes.shadow.shadowOffset.x(), -attributes.shadow.shadowOffset.y()),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, owner->title());
        painter.setPen(attributes.foregroundColor);
        painter.drawText(frame, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, owner->title());
    }
}

void KLTitlebarView::getTitleFrame(QRectF* frame, KLTitleTextAttributes* attributes, TCImageWindow* window) const
{
    const bool drawsAsMain = window && window->drawsAsMainWindow();

    TCShadow shadow;
    std::shared_ptr<TCShadow> chosen;
    if (window)
        chosen = drawsAsMain ? window->titleTextShadow() : window->inactiveTitleTextShadow();
    if (chosen) {
        shadow = *chosen;
    } else {
        shadow.shadowBlurRadius = 0;
        shadow.shadowOffset = QPointF(0, -1);
        shadow.shadowColor = QColor::fromRgbF(1.0, 1.0, 1.0, 0.5);
    }

    QColor colour;
    if (window)
        colour = drawsAsMain ? window->titleTextColor() : window->inactiveTitleTextColor();
    if (!colour.isValid())
        colour = QColor::fromRgbF(56 / 255.0, 56 / 255.0, 56 / 255.0, drawsAsMain ? 1.0 : 0.5);

    QFont font;
    font.setPixelSize(kTitleFontPixelSize);

    if (attributes) {
        attributes->font = font;
        attributes->foregroundColor = colour;
        attributes->shadow = shadow;
    }
    if (frame) {
        const QString title = window ? window->title() : QString();
        const QSizeF size = QFontMetricsF(font).size(Qt::TextSingleLine, title);
        const QRectF bounds = rect();
        // Centred across the strip, its top edge 2 below the strip's top.
        *frame = QRectF(bounds.center().x() - size.width() / 2, bounds.top() + 2, size.width(), size.height());
    }
}

void KLTitlebarView::mousePressEvent(QMouseEvent* event)
{
    // Taken, so that the release comes back here; drags are not handled here
    // and go on to the container.
    m_iClickCount = 1;
    event->accept();
}

void KLTitlebarView::mouseDoubleClickEvent(QMouseEvent* event)
{
    m_iClickCount = 2;
    event->accept();
}

void KLTitlebarView::mouseReleaseEvent(QMouseEvent* event)
{
    const bool doubleClick = m_iClickCount == 2;
    m_iClickCount = 0;
    if (doubleClick && UserDefaults::Value(QStringLiteral("AppleMiniaturizeOnDoubleClick")).toBool()) {
        if (TCImageWindow* owner = imageWindow())
            owner->miniaturize(this);
    }
    // The container ends its drag on the release too.
    event->ignore();
}

// ---------------------------------------------------------------- container

KLTitlebarContainer::KLTitlebarContainer(QWidget* parent) : QWidget(parent) {}

void KLTitlebarContainer::mousePressEvent(QMouseEvent* event)
{
    m_bDragging = false;
    event->accept();
}

void KLTitlebarContainer::mouseMoveEvent(QMouseEvent* event)
{
    auto* owner = qobject_cast<TCImageWindow*>(window());
    if (!owner || !(event->buttons() & Qt::LeftButton)) {
        event->ignore();
        return;
    }
    event->accept();
    if (owner->isFullScreenWindow())
        return;
    const QPoint location = event->globalPosition().toPoint();
    if (!m_bDragging) {
        // The first step of a drag only notes where it starts.
        m_bDragging = true;
        m_windowOrigin = owner->pos();
        m_lastLocation = location;
        return;
    }
    m_windowOrigin += location - m_lastLocation;
    owner->move(m_windowOrigin);
    m_lastLocation = location;
}

void KLTitlebarContainer::mouseReleaseEvent(QMouseEvent* event)
{
    m_bDragging = false;
    event->accept();
}
