#include <QApplication>
#include <QPainterPath>
#include <QScreen>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "MAAttachedWindow.h"

namespace {

using Side = AttachedWindowSide;

std::unique_ptr<QWidget> View(int width, int height)
{
    auto view = std::make_unique<QWidget>();
    view->resize(width, height);
    return view;
}

// The arrow's tip: the outline's point furthest out on the arrow's side, in
// screen coordinates.
QPointF TipOnScreen(const MAAttachedWindow& window, Side side)
{
    const QPainterPath path = window._backgroundPath();
    const int s = static_cast<int>(side);
    QPointF best;
    double bestScore = -1e9;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPointF p = path.elementAt(i);
        double score = 0;
        if (s == 0 || s == 4 || s == 5)
            score = p.x();
        else if (s == 1 || s == 10 || s == 11)
            score = p.y();
        else if (s == 2 || s == 6 || s == 7)
            score = -p.x();
        else
            score = -p.y();
        if (score > bestScore) {
            bestScore = score;
            best = p;
        }
    }
    const QRectF frame = window.attachedFrame();
    return QPointF(frame.x() + best.x(), frame.y() + frame.height() - best.y());
}

}  // namespace

TEST(AttachedWindow, EachSidePlacesTheWindowAndPointsTheArrowAtThePoint)
{
    const QPointF P(400, 300);
    const double i = 8 + 7.5;  // arrow inset: corner radius plus half the arrow base
    struct Case {
        Side side;
        bool horizontalArrow;  // arrow on the left or right edge
        QPointF tipDirection;  // where the window lies, seen from the point
    };
    const Case cases[] = {
        {Side::Left, true, {-1, 0}},          {Side::Below, false, {0, 1}},
        {Side::Right, true, {1, 0}},          {Side::Above, false, {0, -1}},
        {Side::LeftGrowingUp, true, {-1, 0}}, {Side::LeftGrowingDown, true, {-1, 0}},
        {Side::RightGrowingUp, true, {1, 0}}, {Side::RightGrowingDown, true, {1, 0}},
        {Side::AboveGrowingLeft, false, {0, -1}}, {Side::AboveGrowingRight, false, {0, -1}},
        {Side::BelowGrowingLeft, false, {0, 1}},  {Side::BelowGrowingRight, false, {0, 1}},
    };
    for (float d : {0.0f, 7.0f}) {
        for (const Case& c : cases) {
            auto view = View(100, 60);
            auto window = MAAttachedWindow::initWithView(view.get(), P, c.side, d);
            ASSERT_TRUE(window);
            SCOPED_TRACE(static_cast<int>(c.side));
            SCOPED_TRACE(d);
            const QRectF f = window->attachedFrame();
            const double w = c.horizontalArrow ? 114 : 104, h = c.horizontalArrow ? 64 : 74;
            EXPECT_EQ(f.size(), QSizeF(w, h));

            QPointF expected;
            switch (c.side) {
            case Side::Left: expected = {P.x() - w - d, P.y() - h / 2}; break;
            case Side::Below: expected = {P.x() - w / 2, P.y() + d}; break;
            case Side::Right: expected = {P.x() + d, P.y() - h / 2}; break;
            case Side::Above: expected = {P.x() - w / 2, P.y() - h - d}; break;
            case Side::LeftGrowingUp: expected = {P.x() - w - d, P.y() + i - h}; break;
            case Side::LeftGrowingDown: expected = {P.x() - w - d, P.y() - i}; break;
            case Side::RightGrowingUp: expected = {P.x() + d, P.y() + i - h}; break;
            case Side::RightGrowingDown: expected = {P.x() + d, P.y() - i}; break;
            case Side::AboveGrowingLeft: expected = {P.x() - (w - i), P.y() - h - d}; break;
            case Side::AboveGrowingRight: expected = {P.x() - i, P.y() - h - d}; break;
            case Side::BelowGrowingLeft: expected = {P.x() - (w - i), P.y() + d}; break;
            case Side::BelowGrowingRight: expected = {P.x() - i, P.y() + d}; break;
            default: break;
            }
            EXPECT_EQ(f.topLeft(), expected);

            // The tip sits (within the half-pixel snapping of the outline)
            // at the point, moved out by the distance.
            const QPointF tip = TipOnScreen(*window, c.side);
            const QPointF wanted = P + c.tipDirection * d;
            EXPECT_LE(std::fabs(tip.x() - wanted.x()), 1.5) << tip.x() << " vs " << wanted.x();
            EXPECT_LE(std::fabs(tip.y() - wanted.y()), 1.5) << tip.y() << " vs " << wanted.y();

            // The view keeps the margin and stays clear of the arrow.
            const QRect inside = view->geometry();
            EXPECT_EQ(inside.size(), QSize(100, 60));
            EXPECT_EQ(inside.x(), c.tipDirection.x() > 0 ? 12 : 2);
            EXPECT_EQ(inside.y(), c.tipDirection.y() > 0 ? 12 : 2);
            EXPECT_EQ(view->parentWidget(), window.get());
        }
    }
}

TEST(AttachedWindow, SquareCornerBesideTheArrowAndArrowlessOutline)
{
    auto view = View(100, 60);
    auto window = MAAttachedWindow::initWithView(view.get(), QPointF(400, 300), Side::BelowGrowingRight);
    window->setDrawsRoundCornerBesideArrow(false);
    const QPainterPath path = window->_backgroundPath();
    // Starts in the very top-left corner and goes straight up into the arrow.
    const QPointF minXmaxY(std::ceil(0.5), std::floor(64 - 0.5));
    EXPECT_EQ(QPointF(path.elementAt(0)), minXmaxY);
    EXPECT_EQ(QPointF(path.elementAt(1)), minXmaxY + QPointF(7.5, 10));
    EXPECT_EQ(QPointF(path.elementAt(2)), minXmaxY + QPointF(15, 0));
    EXPECT_EQ(window->attachedFrame().x(), 400 - 7.5) << "the arrow inset has no corner radius now";

    // Without the arrow the outline stays inside the body, but the window
    // keeps the arrow's room.
    window->setHasArrow(false);
    const QRectF body = window->_backgroundPath().boundingRect();
    EXPECT_LE(body.bottom(), 64.0);
    EXPECT_EQ(window->attachedFrame().height(), 74);
    const QImage image = window->_backgroundColorPatternImage();
    EXPECT_EQ(qAlpha(image.pixel(8, 3)), 0) << "nothing drawn where the arrow was";
}

TEST(AttachedWindow, DrawsTheTranslucentBodyTheBorderAndRoundCorners)
{
    auto view = View(100, 60);
    auto window = MAAttachedWindow::initWithView(view.get(), QPointF(400, 300), Side::Below);
    window->setBorderColor(QColor(Qt::red));
    window->setBorderWidth(1.5f);
    QImage image = window->_backgroundColorPatternImage();
    // Body: white 0.1 at alpha 0.75 (premultiplied).
    const QColor body = QColor::fromRgba(image.pixel(50, 40));
    EXPECT_NEAR(body.alpha(), 191, 2);
    // Rounded corner: the very corner stays empty.
    EXPECT_EQ(qAlpha(image.pixel(1, 73)), 0);
    // Border along the bottom edge.
    const QColor edge = QColor::fromRgba(image.pixel(50, 72));
    EXPECT_GT(edge.red(), 150);
    EXPECT_LT(edge.green(), 60);

    window->setBorderWidth(0);
    image = window->_backgroundColorPatternImage();
    const QColor plain = QColor::fromRgba(image.pixel(50, 72));
    EXPECT_LT(plain.red(), 60) << "no stroke with a zero border width";

    window->setBackgroundImage(QImage());
    EXPECT_EQ(window->windowBackgroundColor().color(), QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.75f));
}

TEST(AttachedWindow, SettersKeepTheShapeWithinTheViewAndMargin)
{
    auto view = View(100, 60);
    auto window = MAAttachedWindow::initWithView(view.get(), QPointF(400, 300), Side::Below);
    EXPECT_FLOAT_EQ(window->borderWidth(), 0.2f);
    window->setBorderWidth(5);
    EXPECT_FLOAT_EQ(window->borderWidth(), 2.0f) << "no wider than the margin";

    window->setCornerRadius(1000);
    // (shorter side 60 + 2 * margin 2 - arrow base 15) / 2
    EXPECT_FLOAT_EQ(window->cornerRadius(), 24.5f);
    // The base is then limited to 64 - 2 * 24.5.
    EXPECT_FLOAT_EQ(window->arrowBaseWidth(), 15.0f);
    window->setArrowBaseWidth(100);
    EXPECT_FLOAT_EQ(window->arrowBaseWidth(), 15.0f);
    window->setCornerRadius(4);
    window->setArrowBaseWidth(100);
    EXPECT_FLOAT_EQ(window->arrowBaseWidth(), 64 - 8);

    window->setViewMargin(-5);
    EXPECT_FLOAT_EQ(window->viewMargin(), 0.0f);
    EXPECT_EQ(window->attachedFrame().size(), QSizeF(100, 70));
    window->setCornerRadius(-3);
    EXPECT_FLOAT_EQ(window->cornerRadius(), 0.0f);

    window->setArrowHeight(20);
    EXPECT_EQ(window->attachedFrame().size(), QSizeF(100, 80));
    EXPECT_EQ(window->attachedFrame().y(), 300) << "still hanging from the point";
}

TEST(AttachedWindow, AutomaticSideFollowsTheRoomOnTheScreen)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect S = screen->availableGeometry();
    ASSERT_GT(S.width(), 400);
    ASSERT_GT(S.height(), 300);
    struct Case {
        QPointF point;
        QSize view;
        Side side;
    };
    const Case cases[] = {
        {{S.center().x() + 0.0, S.top() + 100.0}, {100, 60}, Side::Below},
        {{S.left() + 20.0, S.top() + 100.0}, {100, 60}, Side::BelowGrowingRight},
        {{S.right() - 20.0, S.top() + 100.0}, {100, 60}, Side::BelowGrowingLeft},
        {{S.center().x() + 0.0, S.bottom() - 20.0}, {100, 60}, Side::RightGrowingUp},
        {{S.right() - 50.0, S.bottom() - 20.0}, {100, 60}, Side::LeftGrowingUp},
        {{S.center().x() + 0.0, S.bottom() - 20.0}, {S.width() - 40, 60}, Side::Above},
        {{S.center().x() + 0.0, S.center().y() + 0.0}, {S.width() - 40, S.height() - 10}, Side::Below},
    };
    for (const Case& c : cases) {
        auto view = View(c.view.width(), c.view.height());
        auto window = MAAttachedWindow::initWithView(view.get(), c.point);
        EXPECT_EQ(window->side(), c.side) << c.point.x() << "," << c.point.y();
    }

    // Moving an automatic window chooses again for the new point.
    auto view = View(100, 60);
    auto window = MAAttachedWindow::initWithView(view.get(), cases[0].point);
    window->setPoint(cases[1].point, Side::Automatic);
    EXPECT_EQ(window->side(), Side::BelowGrowingRight);
    window->setPoint(cases[0].point, Side::Left);
    EXPECT_EQ(window->side(), Side::Left);
}

TEST(AttachedWindow, NoViewNoWindowAndTheViewOutlivesThePopOver)
{
    EXPECT_EQ(MAAttachedWindow::initWithView(nullptr, QPointF(1, 1)), nullptr);

    auto view = View(50, 50);
    {
        QWidget host;
        host.setGeometry(100, 100, 300, 200);
        auto window = MAAttachedWindow::initWithView(view.get(), QPointF(10, 20), &host, Side::Below, 0);
        // The point is in the host's coordinates.
        EXPECT_EQ(window->attachedFrame().topLeft(), host.mapToGlobal(QPointF(10, 20)) - QPointF(27, 0));
        EXPECT_FALSE(window->canBecomeMainWindow());
        EXPECT_TRUE(window->canBecomeKeyWindow());
    }
    EXPECT_EQ(view->parentWidget(), nullptr);
}
