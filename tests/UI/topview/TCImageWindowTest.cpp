// The title-bar window: where the strip, the buttons and the content go, when
// the layout runs, how the strip draws, sheets, closing and dragging.
#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "KLTitlebarView.h"
#include "TCImageWindow.h"
#include "TestSupport.h"
#include "UserDefaults.h"

namespace {

void Settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(5);
    }
}

QRect Geometry(TCImageWindow& w, NSWindowButton kind) { return w.standardWindowButton(kind)->geometry(); }

// The strip's geometry in window coordinates.
QRect StripGeometry(TCImageWindow& w)
{
    QWidget* view = w.titleBarView();
    return QRect(view->mapTo(&w, QPoint(0, 0)), view->size());
}

void SendMouse(QWidget* target, QEvent::Type type, QPoint local, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(local), QPointF(target->mapToGlobal(local)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

}  // namespace

// The screens' settings give these places (strip height, left margin,
// move-up -> top of the buttons); the buttons are 14 x 16, 6 apart.
TEST(TCImageWindow, ScreensSettingsPlaceButtonsStripAndContent)
{
    struct Case {
        qreal height, left, moveUp;
        int buttonTop;
    };
    const Case cases[] = {
        {22, 13, 0, 3},   // dialogs
        {22, 8, 1, 2},    // root and about windows
        {90, 13, 35, 2},  // results window
        {90, 13, 0, 37},  // a tall strip, buttons centred
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "height " << c.height << " left " << c.left << " up " << c.moveUp);
        TCImageWindow w(QRect(100, 100, 400, 300));
        ASSERT_EQ(w.height(), 322);  // the content rect plus the standard strip
        w.setTitleBarHeight(c.height);
        w.setTrafficLightButtonsLeftMargin(c.left);
        w.setTopButtonMoveUp(c.moveUp);
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        Settle();
        const int left = int(c.left);
        EXPECT_EQ(Geometry(w, NSWindowCloseButton), QRect(left, c.buttonTop, 14, 16));
        EXPECT_EQ(Geometry(w, NSWindowMiniaturizeButton), QRect(left + 20, c.buttonTop, 14, 16));
        EXPECT_EQ(Geometry(w, NSWindowZoomButton), QRect(left + 40, c.buttonTop, 14, 16));
        EXPECT_EQ(StripGeometry(w), QRect(0, 0, 400, int(c.height)));
        EXPECT_EQ(w.contentView()->geometry(), QRect(0, int(c.height), 400, 322 - int(c.height)));
    }
}

TEST(TCImageWindow, StartsWithTheStandardStripAndMetrics)
{
    TCImageWindow w;
    EXPECT_EQ(w.titleBarHeight(), TCImageWindow::minimumTitleBarHeight());
    EXPECT_EQ(w.cachedTitleBarHeight(), 22);
    EXPECT_EQ(w.trafficLightButtonsLeftMargin(), TCImageWindow::defaultTrafficLightButtonsLeftMargin());
    EXPECT_EQ(w.trafficLightSeparation(), 6);
    EXPECT_EQ(w.trafficLightButtonsTopMargin(), 3);
    EXPECT_EQ(w.fullScreenButtonTopMargin(), 3);
    EXPECT_TRUE(w.showsBaselineSeparator());
    EXPECT_TRUE(w.centerTrafficLightButtons());
    EXPECT_FALSE(w.verticalTrafficLightButtons());
    EXPECT_FALSE(w.showsTitle());
    EXPECT_NE(dynamic_cast<KLTitlebarView*>(w.titleBarView()), nullptr);
    EXPECT_EQ(w.titleBarView()->parentWidget(), w.titleBarContainer());
    EXPECT_EQ(w.standardWindowButton(NSWindowFullScreenButton), nullptr);
    EXPECT_EQ(w.closeButton(), nullptr);
}

TEST(TCImageWindow, ReplacedTitleBarViewFillsTheStripAndFollowsIt)
{
    TCImageWindow w(QRect(0, 0, 300, 200));
    w.setTitleBarHeight(60);
    QPointer<QWidget> old = w.titleBarView();
    w.setTitleBarView(nullptr);
    w.setTitleBarView(old);
    EXPECT_EQ(w.titleBarView(), old.data());

    auto* own = new QWidget();
    w.setTitleBarView(own);
    EXPECT_TRUE(old.isNull());  // the window owned it
    EXPECT_EQ(w.titleBarView(), own);
    EXPECT_EQ(own->parentWidget(), w.titleBarContainer());
    EXPECT_EQ(own->geometry(), QRect(0, 0, 300, 60));
    w.setTitleBarHeight(70);
    EXPECT_EQ(StripGeometry(w), QRect(0, 0, 300, 70));
}

TEST(TCImageWindow, MoveUpWaitsForTheNextLayoutAndSameHeightDoesNothing)
{
    TCImageWindow w(QRect(50, 50, 300, 200));
    w.setTrafficLightButtonsLeftMargin(13);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    Settle();
    ASSERT_EQ(Geometry(w, NSWindowCloseButton).y(), 3);

    w.setTopButtonMoveUp(1);
    EXPECT_EQ(Geometry(w, NSWindowCloseButton).y(), 3);
    w.resize(320, 222);
    Settle();
    EXPECT_EQ(Geometry(w, NSWindowCloseButton).y(), 2);
    EXPECT_EQ(w.contentView()->geometry(), QRect(0, 22, 320, 200));

    // A title lays out too.
    w.setTopButtonMoveUp(2);
    w.setTitle(QStringLiteral("Vantrel"));
    EXPECT_EQ(Geometry(w, NSWindowCloseButton).y(), 1);

    // The current height again: no layout (the moved button stays put).
    w.standardWindowButton(NSWindowCloseButton)->move(100, 100);
    w.setTitleBarHeight(22);
    EXPECT_EQ(Geometry(w, NSWindowCloseButton).topLeft(), QPoint(100, 100));
    w.setTitleBarHeight(30);
    EXPECT_EQ(Geometry(w, NSWindowCloseButton).topLeft(), QPoint(13, 5));
    EXPECT_EQ(w.cachedTitleBarHeight(), 30);
}

TEST(TCImageWindow, ContentFollowsAWindowResizedWhileHidden)
{
    TCImageWindow w(QRect(0, 0, 300, 200));
    w.resize(400, 300);
    w.setTitleBarHeight(40);
    EXPECT_EQ(w.contentView()->geometry(), QRect(0, 40, 400, 260));
    EXPECT_EQ(StripGeometry(w), QRect(0, 0, 400, 40));
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    Settle();
    EXPECT_EQ(w.contentView()->geometry(), QRect(0, 40, 400, 260));

    // A new content view takes the old one's place under the strip.
    auto* content = new QWidget();
    w.setContentView(content);
    EXPECT_EQ(w.contentView(), content);
    EXPECT_EQ(content->parentWidget(), &w);
    EXPECT_EQ(content->geometry(), QRect(0, 40, 400, 260));
}

TEST(TCImageWindow, ColumnAndTopAlignedButtons)
{
    TCImageWindow w(QRect(0, 0, 300, 200));
    w.setTitleBarHeight(90);
    w.setTrafficLightButtonsLeftMargin(10);
    w.setTopButtonMoveUp(20);  // not applied to a column
    w.setVerticalTrafficLightButtons(true);
    // Total 3 x 16 + 2 x 4 = 56, centred in 90: the column starts 17 down.
    EXPECT_EQ(Geometry(w, NSWindowCloseButton), QRect(10, 17, 14, 16));
    EXPECT_EQ(Geometry(w, NSWindowMiniaturizeButton), QRect(10, 37, 14, 16));
    EXPECT_EQ(Geometry(w, NSWindowZoomButton), QRect(10, 57, 14, 16));

    w.setCenterTrafficLightButtons(false);
    EXPECT_EQ(Geometry(w, NSWindowCloseButton).y(), 3);
    EXPECT_EQ(Geometry(w, NSWindowZoomButton).y(), 43);

    w.setVerticalTrafficLightButtons(false);
    w.setTopButtonMoveUp(0);
    w.setTrafficLightSeparation(10);
    EXPECT_EQ(Geometry(w, NSWindowCloseButton), QRect(10, 3, 14, 16));
    EXPECT_EQ(Geometry(w, NSWindowMiniaturizeButton).x(), 34);
    EXPECT_EQ(Geometry(w, NSWindowZoomButton).x(), 58);
}

TEST(TCImageWindow, SuppliedButtonsReplaceTheStandardOnesAndFullScreenKeepsItsMargin)
{
    TCImageWindow w(QRect(0, 0, 400, 300));
    w.setTitleBarHeight(40);
    auto* close = new QPushButton();
    close->resize(20, 20);
    w.setCloseButton(close);
    EXPECT_EQ(close->parentWidget(), &w);
    // Taken to the standard button's place at once; laid out at the next layout.
    EXPECT_EQ(close->pos(), Geometry(w, NSWindowCloseButton).topLeft());

    auto* full = new QPushButton();
    full->setGeometry(360, 0, 16, 16);  // 24 from the right edge
    w.setFullScreenButton(full);
    w.setTrafficLightButtonsLeftMargin(13);
    EXPECT_TRUE(w.standardWindowButton(NSWindowCloseButton)->isHidden());
    EXPECT_EQ(close->geometry(), QRect(13, 10, 20, 20));
    // The minimise button follows the supplied close button's width.
    EXPECT_EQ(Geometry(w, NSWindowMiniaturizeButton).x(), 13 + 20 + 6);
    EXPECT_TRUE(w.setFullScreenButtonRightMargin());
    EXPECT_EQ(w.fullScreenButtonRightMargin(), 24);
    EXPECT_EQ(full->geometry(), QRect(360, 3, 16, 16));

    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.resize(500, 322);
    Settle();
    EXPECT_EQ(full->geometry(), QRect(460, 3, 16, 16));
    w.setCenterFullScreenButton(true);
    EXPECT_EQ(full->geometry(), QRect(460, 12, 16, 16));

    int clicks = 0;
    QObject::connect(close, &QPushButton::clicked, [&] { ++clicks; });
    // Clicking the supplied close button closes the window (performClose).
    close->click();
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(w.isVisible());

    // Taking the supplied button away brings the standard one back.
    w.setCloseButton(nullptr);
    w.setTrafficLightButtonsLeftMargin(20);
    EXPECT_FALSE(w.standardWindowButton(NSWindowCloseButton)->isHidden());
    EXPECT_EQ(Geometry(w, NSWindowCloseButton), QRect(20, 12, 14, 16));
}

namespace {

struct RecordingDelegate : TCImageWindowDelegate {
    bool allowClose = true;
    int shouldClose = 0, willClose = 0, resized = 0;
    bool windowShouldClose(TCImageWindow*) override
    {
        ++shouldClose;
        return allowClose;
    }
    void windowWillClose(TCImageWindow*) override { ++willClose; }
    void windowDidResize(TCImageWindow*) override { ++resized; }
    QRect windowWillPositionSheet(TCImageWindow*, QWidget*, const QRect& rect) override
    {
        return rect.translated(0, 500);
    }
};

}  // namespace

TEST(TCImageWindow, SheetsHangFromTheStripWhateverTheDelegateSays)
{
    TCImageWindow w(QRect(0, 0, 600, 400));
    RecordingDelegate delegate;
    w.setDelegate(&delegate);
    EXPECT_EQ(w.delegate(), &delegate);
    w.setTitleBarHeight(90);
    QWidget sheet;
    sheet.resize(200, 100);
    EXPECT_EQ(w.sheetRect(&sheet, QRect(0, 22, 600, 0)), QRect(0, 90, 600, 0));

    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.placeSheet(&sheet);
    EXPECT_EQ(sheet.pos(), w.mapToGlobal(QPoint(200, 90)));
}

TEST(TCImageWindow, CloseAsksTheDelegateAndTheCloseButtonActionCanBeReplaced)
{
    TCImageWindow w(QRect(0, 0, 300, 200));
    RecordingDelegate delegate;
    delegate.allowClose = false;
    w.setDelegate(&delegate);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    Settle();
    EXPECT_GT(delegate.resized, 0);

    w.standardWindowButton(NSWindowCloseButton)->click();
    EXPECT_EQ(delegate.shouldClose, 1);
    EXPECT_TRUE(w.isVisible());
    static_cast<QWidget&>(w).close();  // a close request from elsewhere asks too
    EXPECT_EQ(delegate.shouldClose, 2);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(delegate.willClose, 0);

    int ownAction = 0;
    w.standardWindowButton(NSWindowCloseButton)->setAction([&] { ++ownAction; });
    w.standardWindowButton(NSWindowCloseButton)->click();
    EXPECT_EQ(ownAction, 1);
    EXPECT_EQ(delegate.shouldClose, 2);

    // The window's own close does not ask.
    EXPECT_TRUE(w.close());
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(delegate.shouldClose, 2);
    EXPECT_EQ(delegate.willClose, 1);

    w.show();
    delegate.allowClose = true;
    w.performClose();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(delegate.shouldClose, 3);
    w.setDelegate(nullptr);
}

TEST(TCImageWindow, StripDrawsItsFillWithRoundedTopCornersAndBlackCornersInFullScreen)
{
    TCImageWindow w(QRect(0, 0, 200, 100));
    w.setTitleBarHeight(40);
    QPalette palette = w.palette();
    palette.setColor(QPalette::Window, QColor(255, 0, 255));
    w.setPalette(palette);
    w.setAutoFillBackground(true);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    Settle();

    const QColor fill(38, 41, 45);
    QImage image = w.grab().toImage();
    EXPECT_EQ(image.pixelColor(100, 20), fill);
    EXPECT_EQ(image.pixelColor(100, 39), fill);  // the separator has the strip's colour
    EXPECT_EQ(image.pixelColor(2, 39), fill);    // square bottom corners
    EXPECT_EQ(image.pixelColor(0, 0), QColor(255, 0, 255));
    EXPECT_EQ(image.pixelColor(199, 0), QColor(255, 0, 255));
    EXPECT_EQ(image.pixelColor(100, 60), QColor(255, 0, 255));  // the content area

    w.showFullScreen();
    Settle();
    ASSERT_TRUE(w.isFullScreenWindow());
    image = w.titleBarView()->grab().toImage();
    const int right = w.titleBarView()->width() - 1;
    EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(right, 0), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(right / 2, 20), fill);
    w.showNormal();
}

TEST(TCImageWindow, HiddenStripInFullScreenComesBackAtItsCachedHeight)
{
    TCImageWindow w(QRect(0, 0, 300, 200));
    w.setTitleBarHeight(50);
    w.setHideTitleBarInFullScreen(true);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.showFullScreen();
    Settle();
    EXPECT_EQ(w.titleBarHeight(), 0);
    EXPECT_TRUE(w.titleBarView()->isHidden());
    EXPECT_EQ(w.contentView()->geometry().top(), 0);
    EXPECT_EQ(w.contentView()->height(), w.height());
    w.showNormal();
    Settle();
    EXPECT_EQ(w.titleBarHeight(), 50);
    EXPECT_FALSE(w.titleBarView()->isHidden());
    EXPECT_EQ(w.contentView()->geometry(), QRect(0, 50, w.width(), w.height() - 50));
}

TEST(TCImageWindow, AnotherWindowsFullScreenLeavesThisStripAlone)
{
    TCImageWindow w(QRect(0, 0, 300, 200));
    TCImageWindow other(QRect(400, 0, 300, 200));
    w.setTitleBarHeight(50);
    w.setHideTitleBarInFullScreen(true);
    w.show();
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    other.showFullScreen();
    Settle();
    EXPECT_EQ(w.titleBarHeight(), 50);
    EXPECT_FALSE(w.titleBarView()->isHidden());
    other.showNormal();
}

TEST(TCImageWindow, DrawingBlockReplacesTheFillButNotTheTitle)
{
    TCImageWindow w(QRect(0, 0, 200, 60));
    bool called = false;
    QRectF seen;
    w.setTitleBarDrawingBlock([&](QPainter& painter, bool, const QRectF& rect, const QPainterPath& clip) {
        called = true;
        seen = rect;
        painter.fillPath(clip, QColor(0, 128, 0));
    });
    w.setTitleBarHeight(30);
    QImage image = w.titleBarView()->grab().toImage();
    EXPECT_TRUE(called);
    EXPECT_EQ(seen, QRectF(0, 0, 200, 30));
    EXPECT_EQ(image.pixelColor(100, 15), QColor(0, 128, 0));
}

TEST(TCImageWindow, TitleIsCentredTwoBelowTheTopAndFadesWhenInactive)
{
    for (qreal height : {22.0, 90.0}) {
        TCImageWindow w(QRect(0, 0, 400, 200));
        w.setTitleBarHeight(height);
        w.setTitle(QStringLiteral("Vantrel Data Recovery"));
        auto* view = static_cast<KLTitlebarView*>(w.titleBarView());
        QRectF frame;
        KLTitleTextAttributes attributes;
        view->getTitleFrame(&frame, &attributes, &w);
        EXPECT_NEAR(frame.center().x(), 200.0, 0.01);
        EXPECT_EQ(frame.top(), 2.0);
        EXPECT_GT(frame.width(), 20.0);
        // Not the main window: the default colour at half opacity.
        EXPECT_EQ(attributes.foregroundColor, QColor::fromRgbF(56 / 255.0, 56 / 255.0, 56 / 255.0, 0.5));
        EXPECT_EQ(attributes.shadow.shadowOffset, QPointF(0, -1));
        EXPECT_EQ(attributes.shadow.shadowColor, QColor::fromRgbF(1, 1, 1, 0.5));
        EXPECT_EQ(attributes.font.pixelSize(), 13);

        w.setInactiveTitleTextColor(QColor(1, 2, 3));
        view->getTitleFrame(nullptr, &attributes, &w);
        EXPECT_EQ(attributes.foregroundColor, QColor(1, 2, 3));
    }
}

TEST(TCImageWindow, TitleIsDrawnOnlyWhenAskedAndNotInFullScreenUnlessAllowed)
{
    TCImageWindow w(QRect(0, 0, 300, 100));
    w.setTitleBarHeight(30);
    w.setTitle(QStringLiteral("WWWWWWWW"));
    w.setInactiveTitleTextColor(QColor(255, 255, 0));
    w.setTitleTextColor(QColor(255, 255, 0));
    auto countTitlePixels = [&] {
        QImage image = w.titleBarView()->grab().toImage();
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += image.pixelColor(x, y) == QColor(255, 255, 0);
        return n;
    };
    EXPECT_EQ(countTitlePixels(), 0);
    w.setShowsTitle(true);
    EXPECT_GT(countTitlePixels(), 10);

    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.showFullScreen();
    Settle();
    EXPECT_EQ(countTitlePixels(), 0);
    w.setShowsTitleInFullscreen(true);
    EXPECT_GT(countTitlePixels(), 10);
    w.showNormal();
}

TEST(TCImageWindow, ControlsInTheStripFollowTheWindowsActiveState)
{
    TCImageWindow first(QRect(0, 0, 300, 100));
    TCImageWindow second(QRect(400, 0, 300, 100));
    auto* button = new QPushButton(first.titleBarView());
    first.show();
    first.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&first));
    Settle();
    EXPECT_TRUE(first.drawsAsMainWindow());
    EXPECT_TRUE(button->isEnabled());
    KLTitleTextAttributes attributes;
    static_cast<KLTitlebarView*>(first.titleBarView())->getTitleFrame(nullptr, &attributes, &first);
    EXPECT_EQ(attributes.foregroundColor, QColor::fromRgbF(56 / 255.0, 56 / 255.0, 56 / 255.0, 1.0));

    second.show();
    second.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&second));
    Settle();
    EXPECT_FALSE(first.drawsAsMainWindow());
    EXPECT_FALSE(button->isEnabled());
    static_cast<KLTitlebarView*>(first.titleBarView())->getTitleFrame(nullptr, &attributes, &first);
    EXPECT_NEAR(attributes.foregroundColor.alphaF(), 0.5, 0.001);
    // The inactive title fades; the fill stays.
    QImage image = first.titleBarView()->grab().toImage();
    EXPECT_EQ(image.pixelColor(150, 10), QColor(38, 41, 45));

    first.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&first));
    Settle();
    EXPECT_TRUE(button->isEnabled());
}

TEST(TCImageWindow, DraggingTheStripMovesTheWindowButNotFromAControl)
{
    TCImageWindow w(QRect(100, 100, 300, 200));
    w.setTitleBarHeight(40);
    auto* control = new QPushButton(w.titleBarView());
    control->setGeometry(200, 5, 60, 30);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    Settle();
    QWidget* view = w.titleBarView();
    const QPoint start = w.pos();

    SendMouse(view, QEvent::MouseButtonPress, QPoint(50, 10), Qt::LeftButton, Qt::LeftButton);
    // The first drag step notes where the drag starts; later ones move.
    SendMouse(view, QEvent::MouseMove, QPoint(55, 10), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(w.pos(), start);
    SendMouse(view, QEvent::MouseMove, QPoint(65, 17), Qt::NoButton, Qt::LeftButton);
    Settle();
    EXPECT_EQ(w.pos(), start + QPoint(10, 7));
    SendMouse(view, QEvent::MouseButtonRelease, QPoint(65, 17), Qt::LeftButton, Qt::NoButton);

    const QPoint afterFirst = w.pos();
    SendMouse(control, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton, Qt::LeftButton);
    SendMouse(control, QEvent::MouseMove, QPoint(10, 5), Qt::NoButton, Qt::LeftButton);
    SendMouse(control, QEvent::MouseMove, QPoint(30, 25), Qt::NoButton, Qt::LeftButton);
    SendMouse(control, QEvent::MouseButtonRelease, QPoint(30, 25), Qt::LeftButton, Qt::NoButton);
    Settle();
    EXPECT_EQ(w.pos(), afterFirst);

    // A new drag starts afresh: its first step does not move.
    SendMouse(view, QEvent::MouseButtonPress, QPoint(50, 10), Qt::LeftButton, Qt::LeftButton);
    SendMouse(view, QEvent::MouseMove, QPoint(80, 10), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(w.pos(), afterFirst);
    SendMouse(view, QEvent::MouseButtonRelease, QPoint(80, 10), Qt::LeftButton, Qt::NoButton);
}

TEST(TCImageWindow, DoubleClickMinimisesOnlyWhenThePreferenceSaysSo)
{
    TempDir dir;
    UserDefaults::SetFileForTest(QString::fromStdString(dir / "defaults.ini"));
    TCImageWindow w(QRect(100, 100, 300, 200));
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QWidget* view = w.titleBarView();
    auto doubleClick = [&] {
        SendMouse(view, QEvent::MouseButtonPress, QPoint(60, 10), Qt::LeftButton, Qt::LeftButton);
        SendMouse(view, QEvent::MouseButtonRelease, QPoint(60, 10), Qt::LeftButton, Qt::NoButton);
        SendMouse(view, QEvent::MouseButtonDblClick, QPoint(60, 10), Qt::LeftButton, Qt::LeftButton);
        SendMouse(view, QEvent::MouseButtonRelease, QPoint(60, 10), Qt::LeftButton, Qt::NoButton);
        Settle();
    };
    doubleClick();
    EXPECT_FALSE(w.isMinimized());
    UserDefaults::SetValue(QStringLiteral("AppleMiniaturizeOnDoubleClick"), false);
    doubleClick();
    EXPECT_FALSE(w.isMinimized());
    // A single click does nothing even with the preference on.
    UserDefaults::SetValue(QStringLiteral("AppleMiniaturizeOnDoubleClick"), true);
    SendMouse(view, QEvent::MouseButtonPress, QPoint(60, 10), Qt::LeftButton, Qt::LeftButton);
    SendMouse(view, QEvent::MouseButtonRelease, QPoint(60, 10), Qt::LeftButton, Qt::NoButton);
    Settle();
    EXPECT_FALSE(w.isMinimized());
    doubleClick();
    EXPECT_TRUE(w.isMinimized());
    UserDefaults::SetFileForTest(QString());
}
