#include "MAAttachedWindow.h"

#include <QGuiApplication>
#include <QPainter>
#include <QRegion>
#include <QTransform>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace {

// The screen's scale between points and pixels.
constexpr double kScale = 1.0;

// Qt's screen coordinates run downwards; the window's geometry is worked out
// upwards, so points and rectangles are turned round on the way in and out.
QPointF Up(const QPointF& p) { return QPointF(p.x(), -p.y()); }
QRectF Up(const QRectF& r) { return QRectF(r.x(), -(r.y() + r.height()), r.width(), r.height()); }
double MaxX(const QRectF& r) { return r.x() + r.width(); }
double MaxY(const QRectF& r) { return r.y() + r.height(); }

int SideValue(AttachedWindowSide side) { return static_cast<int>(side); }

bool ArrowOnRight(int side) { return side == 0 || side == 4 || side == 5; }
bool ArrowOnTop(int side) { return side == 1 || side == 10 || side == 11; }
bool ArrowOnLeft(int side) { return side == 2 || side == 6 || side == 7; }
bool ArrowOnBottom(int side) { return side == 3 || side == 8 || side == 9; }

// A quarter circle from the current point (r away from corner along the
// incoming edge) round the corner to r away from it towards toward.
void ArcAroundCorner(QPainterPath& path, const QPointF& corner, const QPointF& toward, double r)
{
    const QPointF start = path.currentPosition();
    QPointF direction = toward - corner;
    const double length = std::hypot(direction.x(), direction.y());
    if (length > 0)
        direction /= length;
    const QPointF end = corner + direction * r;
    constexpr double k = 0.5522847498;  // control distance of a circular quarter arc
    path.cubicTo(start + (corner - start) * k, end + (corner - end) * k, end);
}

}  // namespace

// ---- creation --------------------------------------------------------------

MAAttachedWindow::MAAttachedWindow(QWidget* view, QPointF point, QWidget* window, AttachedWindowSide side,
                                   float distance)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint)
{
    resize(view->size());
    m_view = view;
    m_window = window;
    m_point = point;
    m_side = side;
    m_distance = distance;
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    setWindowOpacity(1.0);

    m_MABackgroundColor = QBrush(QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.75f));
    m_borderColor = QColor(Qt::white);
    m_borderWidth = 0.2f;
    m_viewMargin = 2.0f;
    m_arrowBaseWidth = 15.0f;
    m_arrowHeight = 10.0f;
    m_hasArrow = true;
    m_cornerRadius = 8.0f;
    m_drawsRoundCornerBesideArrow = true;
    m_resizing = false;

    if (m_side == AttachedWindowSide::Automatic)
        m_side = _bestSideForAutomaticPosition();
    _updateGeometry();
    _updateBackground();
    view->setParent(this);
    view->setGeometry(view->geometry());
    view->show();
}

MAAttachedWindow::~MAAttachedWindow()
{
    // The view belongs to whoever made it, not to the pop-over.
    if (m_view && m_view->parent() == this) {
        m_view->hide();
        m_view->setParent(nullptr);
    }
}

std::unique_ptr<MAAttachedWindow> MAAttachedWindow::initWithView(QWidget* view, QPointF point, QWidget* window,
                                                                 AttachedWindowSide side, float distance)
{
    if (!view)
        return nullptr;
    return std::unique_ptr<MAAttachedWindow>(new MAAttachedWindow(view, point, window, side, distance));
}

std::unique_ptr<MAAttachedWindow> MAAttachedWindow::initWithView(QWidget* view, QPointF point, QWidget* window,
                                                                 float distance)
{
    return initWithView(view, point, window, AttachedWindowSide::Automatic, distance);
}

std::unique_ptr<MAAttachedWindow> MAAttachedWindow::initWithView(QWidget* view, QPointF point,
                                                                 AttachedWindowSide side, float distance)
{
    return initWithView(view, point, nullptr, side, distance);
}

std::unique_ptr<MAAttachedWindow> MAAttachedWindow::initWithView(QWidget* view, QPointF point, float distance)
{
    return initWithView(view, point, nullptr, AttachedWindowSide::Automatic, distance);
}

std::unique_ptr<MAAttachedWindow> MAAttachedWindow::initWithView(QWidget* view, QPointF point, QWidget* window)
{
    return initWithView(view, point, window, AttachedWindowSide::Automatic, 0.0f);
}

std::unique_ptr<MAAttachedWindow> MAAttachedWindow::initWithView(QWidget* view, QPointF point,
                                                                 AttachedWindowSide side)
{
    return initWithView(view, point, nullptr, side, 0.0f);
}

std::unique_ptr<MAAttachedWindow> MAAttachedWindow::initWithView(QWidget* view, QPointF point)
{
    return initWithView(view, point, nullptr, AttachedWindowSide::Automatic, 0.0f);
}

// ---- geometry --------------------------------------------------------------

QPointF MAAttachedWindow::pointOnScreenUp() const
{
    return Up(m_window ? m_window->mapToGlobal(m_point) : m_point);
}

float MAAttachedWindow::_arrowInset() const
{
    return static_cast<float>(((m_drawsRoundCornerBesideArrow ? m_cornerRadius : 0.0f) + m_arrowBaseWidth / 2.0f) *
                              kScale);
}

void MAAttachedWindow::_updateGeometry()
{
    if (!m_view)
        return;
    const double m = m_viewMargin * kScale;
    const float a = static_cast<float>(m_arrowHeight * kScale);
    const QSizeF viewSize = m_view->size();
    m_viewFrame = QRectF(m, m, viewSize.width(), viewSize.height());
    QRectF frame(0, 0, viewSize.width() + 2 * m, viewSize.height() + 2 * m);

    const int side = SideValue(m_side);
    if (ArrowOnRight(side)) {
        frame.setWidth(frame.width() + a);
    } else if (ArrowOnTop(side)) {
        frame.setHeight(frame.height() + a);
    } else if (ArrowOnLeft(side)) {
        m_viewFrame.moveLeft(m_viewFrame.x() + a);
        frame.setWidth(frame.width() + a);
    } else if (ArrowOnBottom(side)) {
        m_viewFrame.moveTop(m_viewFrame.y() + a);
        frame.setHeight(frame.height() + a);
    }

    QPointF origin = pointOnScreenUp();
    const double w = frame.width(), h = frame.height();
    const double halfW = static_cast<float>(w / 2), halfH = static_cast<float>(h / 2);
    const double i = _arrowInset();
    switch (side) {
    case 0: origin += QPointF(-w, -halfH); break;
    case 1: origin += QPointF(-halfW, -h); break;
    case 2: origin += QPointF(0, -halfH); break;
    case 3: origin += QPointF(-halfW, 0); break;
    case 4: origin += QPointF(-w, -i); break;
    case 5: origin += QPointF(-w, -(h - i)); break;
    case 6: origin += QPointF(0, -i); break;
    case 7: origin += QPointF(0, -(h - i)); break;
    case 8: origin += QPointF(-(w - i), 0); break;
    case 9: origin += QPointF(-i, 0); break;
    case 10: origin += QPointF(-(w - i), -h); break;
    case 11: origin += QPointF(-i, -h); break;
    default: break;
    }
    if (ArrowOnRight(side))
        origin.rx() -= m_distance;
    else if (ArrowOnTop(side))
        origin.ry() -= m_distance;
    else if (ArrowOnLeft(side))
        origin.rx() += m_distance;
    else if (ArrowOnBottom(side))
        origin.ry() += m_distance;
    frame.moveTopLeft(origin);
    m_frameUp = frame;

    const QRectF onScreen = attachedFrame();
    setGeometry(QRect(qRound(onScreen.x()), qRound(onScreen.y()), qRound(onScreen.width()), qRound(onScreen.height())));
    // The view's frame counts upwards from the window's bottom edge.
    m_view->setGeometry(QRect(qRound(m_viewFrame.x()), qRound(h - MaxY(m_viewFrame)), qRound(m_viewFrame.width()),
                              qRound(m_viewFrame.height())));
}

QRectF MAAttachedWindow::attachedFrame() const { return Up(m_frameUp); }

AttachedWindowSide MAAttachedWindow::_bestSideForAutomaticPosition() const
{
    QScreen* screen = m_window && m_window->screen() ? m_window->screen() : QGuiApplication::primaryScreen();
    const QRectF S = screen ? Up(QRectF(screen->availableGeometry())) : QRectF();
    const QPointF P = pointOnScreenUp();
    const QSizeF viewSize = m_view ? QSizeF(m_view->size()) : QSizeF();
    const double w = viewSize.width() + 2 * m_viewMargin * kScale;
    const double h = viewSize.height() + 2 * m_viewMargin * kScale;
    const double d = static_cast<float>(m_arrowHeight * kScale + m_distance);

    AttachedWindowSide side = AttachedWindowSide::Below;
    if (S.y() > P.y() - h - d) {
        if (P.x() + w + d < MaxX(S))
            side = AttachedWindowSide::Right;
        else if (S.x() <= P.x() - w - d)
            side = AttachedWindowSide::Left;
        else if (P.y() + h + d < MaxY(S))
            side = AttachedWindowSide::Above;
    }

    const QRectF F = m_window ? Up(QRectF(m_window->window()->frameGeometry())) : S;
    const double i = _arrowInset();
    const double halfW = static_cast<float>(w / 2), halfH = static_cast<float>(h / 2);
    if (side == AttachedWindowSide::Left || side == AttachedWindowSide::Right) {
        const bool left = side == AttachedWindowSide::Left;
        if (F.y() > P.y() - halfH && P.y() + h - i < MaxY(S))
            return left ? AttachedWindowSide::LeftGrowingUp : AttachedWindowSide::RightGrowingUp;
        if (P.y() + halfH >= MaxY(F) && P.y() - h + i >= S.y())
            return left ? AttachedWindowSide::LeftGrowingDown : AttachedWindowSide::RightGrowingDown;
    } else {
        const bool below = side == AttachedWindowSide::Below;
        if (F.x() > P.x() - halfW && P.x() + w - i < MaxX(S))
            return below ? AttachedWindowSide::BelowGrowingRight : AttachedWindowSide::AboveGrowingRight;
        if (P.x() + halfW >= MaxX(F) && P.x() - w + i >= S.x())
            return below ? AttachedWindowSide::BelowGrowingLeft : AttachedWindowSide::AboveGrowingLeft;
    }
    return side;
}

// ---- outline ---------------------------------------------------------------

void MAAttachedWindow::_appendArrowToPath(QPainterPath& path) const
{
    if (!m_hasArrow)
        return;
    const double b = m_arrowBaseWidth * kScale;
    const double a = m_arrowHeight * kScale;
    const double hb = static_cast<float>(b / 2);
    const QPointF at = path.currentPosition();
    const double x = at.x(), y = at.y();
    const int side = SideValue(m_side);
    if (ArrowOnRight(side)) {
        path.lineTo(x + a, y - hb);
        path.lineTo(x, y - b);
    } else if (ArrowOnTop(side)) {
        path.lineTo(x + hb, y + a);
        path.lineTo(x + b, y);
    } else if (ArrowOnLeft(side)) {
        path.lineTo(x - a, y + hb);
        path.lineTo(x, y + b);
    } else if (ArrowOnBottom(side)) {
        path.lineTo(x - hb, y - a);
        path.lineTo(x - b, y);
    }
}

QPainterPath MAAttachedWindow::_backgroundPath() const
{
    const double s = kScale;
    const double r = m_cornerRadius * s;
    const double b = m_arrowBaseWidth * s;
    const double hb = b / 2;
    const double m = m_viewMargin * s;
    const QRectF B = m_viewFrame.adjusted(-m, -m, m, m);
    const double minX = std::ceil(B.x() * s + 0.5);
    const double maxX = std::floor(MaxX(B) * s - 0.5);
    const double minY = std::ceil(B.y() * s + 0.5);
    const double maxY = std::floor(MaxY(B) * s - 0.5);
    const double midX = (B.x() + B.width() / 2) * s;
    const double midY = (B.y() + B.height() / 2) * s;
    const int side = SideValue(m_side);
    const bool any = r > 0;
    const bool beside = m_drawsRoundCornerBesideArrow;
    const bool topLeft = any && (beside || (side != 11 && side != 7));
    const bool topRight = any && (beside || (side != 10 && side != 5));
    const bool bottomRight = any && (beside || (side != 8 && side != 4));
    const bool bottomLeft = any && (beside || (side != 9 && side != 6));

    QPainterPath path;
    // Top edge, left to right.
    path.moveTo(topLeft ? minX + r : minX, maxY);
    double end = topRight ? maxX - r : maxX;
    if (side == 11) {
        _appendArrowToPath(path);
    } else if (side == 1) {
        path.lineTo(midX - hb, maxY);
        _appendArrowToPath(path);
    } else if (side == 10) {
        path.lineTo(end - b, maxY);
        _appendArrowToPath(path);
    }
    path.lineTo(end, maxY);
    if (topRight)
        ArcAroundCorner(path, QPointF(maxX, maxY), QPointF(maxX, maxY - r), r);

    // Right edge, downwards.
    end = bottomRight ? minY + r : minY;
    if (side == 5) {
        _appendArrowToPath(path);
    } else if (side == 0) {
        path.lineTo(maxX, midY + hb);
        _appendArrowToPath(path);
    } else if (side == 4) {
        path.lineTo(maxX, end + b);
        _appendArrowToPath(path);
    }
    path.lineTo(maxX, end);
    if (bottomRight)
        ArcAroundCorner(path, QPointF(maxX, minY), QPointF(maxX - r, minY), r);

    // Bottom edge, right to left.
    end = bottomLeft ? minX + r : minX;
    if (side == 8) {
        _appendArrowToPath(path);
    } else if (side == 3) {
        path.lineTo(midX + hb, minY);
        _appendArrowToPath(path);
    } else if (side == 9) {
        path.lineTo(end + b, minY);
        _appendArrowToPath(path);
    }
    path.lineTo(end, minY);
    if (bottomLeft)
        ArcAroundCorner(path, QPointF(minX, minY), QPointF(minX, minY + r), r);

    // Left edge, upwards.
    end = topLeft ? maxY - r : maxY;
    if (side == 6) {
        _appendArrowToPath(path);
    } else if (side == 2) {
        path.lineTo(minX, midY - hb);
        _appendArrowToPath(path);
    } else if (side == 7) {
        path.lineTo(minX, end - b);
        _appendArrowToPath(path);
    }
    path.lineTo(minX, end);
    if (topLeft)
        ArcAroundCorner(path, QPointF(minX, maxY), QPointF(minX + r, maxY), r);
    path.closeSubpath();
    return path;
}

// ---- drawing ---------------------------------------------------------------

void MAAttachedWindow::drawBackground(QPainter& painter) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // The outline counts upwards from the bottom edge.
    painter.translate(0, m_frameUp.height());
    painter.scale(1, -1);
    const QPainterPath path = _backgroundPath();
    painter.setClipPath(path);
    painter.fillPath(path, m_MABackgroundColor);
    if (m_borderWidth > 0) {
        // Twice as wide as asked: the clip keeps the inner half.
        QPen pen(m_borderColor);
        pen.setWidthF(m_borderWidth * 2 * kScale);
        pen.setJoinStyle(Qt::RoundJoin);
        painter.strokePath(path, pen);
    }
    painter.restore();
}

QImage MAAttachedWindow::_backgroundColorPatternImage() const
{
    QImage image(qRound(m_frameUp.width()), qRound(m_frameUp.height()), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    drawBackground(painter);
    return image;
}

void MAAttachedWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    drawBackground(painter);
}

void MAAttachedWindow::_updateBackground()
{
    // An X display without a compositing manager draws the see-through
    // parts of a window black: there the window is cut to its outline.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        QTransform upwards;
        upwards.translate(0, m_frameUp.height());
        upwards.scale(1, -1);
        setMask(QRegion(upwards.map(_backgroundPath()).toFillPolygon().toPolygon()));
    }
    update();
}

void MAAttachedWindow::_redisplay()
{
    if (m_resizing)
        return;
    m_resizing = true;
    _updateGeometry();
    _updateBackground();
    m_resizing = false;
}

void MAAttachedWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    _redisplay();
}

void MAAttachedWindow::performClose()
{
    if (m_window)
        m_window->close();
    else
        close();
}

// ---- setters ---------------------------------------------------------------

void MAAttachedWindow::setBackgroundColor(const QBrush& color)
{
    if (color == m_MABackgroundColor)
        return;
    m_MABackgroundColor = color;
    _updateBackground();
}

void MAAttachedWindow::setBackgroundImage(const QImage& image)
{
    if (!image.isNull())
        setBackgroundColor(QBrush(image));
}

void MAAttachedWindow::setBorderColor(const QColor& color)
{
    if (color == m_borderColor)
        return;
    m_borderColor = color;
    _updateBackground();
}

void MAAttachedWindow::setBorderWidth(float width)
{
    if (width != m_borderWidth)
        m_borderWidth = std::min(width, m_viewMargin);
    _updateBackground();
}

void MAAttachedWindow::setViewMargin(float margin)
{
    if (margin == m_viewMargin)
        return;
    m_viewMargin = std::max(margin, 0.0f);
    setCornerRadius(m_cornerRadius);
}

void MAAttachedWindow::setCornerRadius(float radius)
{
    const float shorter = static_cast<float>(std::min(m_viewFrame.width(), m_viewFrame.height()));
    const float limit = (shorter + 2 * m_viewMargin - m_arrowBaseWidth) / 2;
    m_cornerRadius = std::max(std::min(radius, limit), 0.0f);
    setArrowBaseWidth(m_arrowBaseWidth);
}

void MAAttachedWindow::setArrowBaseWidth(float width)
{
    const float shorter = static_cast<float>(std::min(m_viewFrame.width(), m_viewFrame.height()));
    float limit = shorter + 2 * m_viewMargin - m_cornerRadius;
    if (m_drawsRoundCornerBesideArrow)
        limit -= m_cornerRadius;
    m_arrowBaseWidth = std::min(width, limit);
    _redisplay();
}

void MAAttachedWindow::setArrowHeight(float height)
{
    if (height != m_arrowHeight) {
        m_arrowHeight = height;
        _redisplay();
    }
}

void MAAttachedWindow::setDrawsRoundCornerBesideArrow(bool draws)
{
    if (draws != m_drawsRoundCornerBesideArrow) {
        m_drawsRoundCornerBesideArrow = draws;
        _redisplay();
    }
}

void MAAttachedWindow::setHasArrow(bool hasArrow)
{
    if (hasArrow != m_hasArrow) {
        m_hasArrow = hasArrow;
        _updateBackground();
    }
}

void MAAttachedWindow::setPoint(QPointF point, AttachedWindowSide side)
{
    m_point = point;
    // The automatic choice has no geometry of its own; it is made again for
    // the new point.
    m_side = side == AttachedWindowSide::Automatic ? _bestSideForAutomaticPosition() : side;
    _updateGeometry();
    _updateBackground();
}
