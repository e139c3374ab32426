// The kit's traffic-light buttons: groups by identifier, the shared rollover
// count and its notification, and which picture a button shows.
#include <QImage>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include "NotificationCenter.h"
#include "TCImageWindow.h"
#include "TCWindowButton.h"

namespace {

QPixmap Solid(QColor colour)
{
    QPixmap pixmap(14, 16);
    pixmap.fill(colour);
    return pixmap;
}

const QColor kActive(200, 0, 0), kNotKey(200, 200, 0), kInactive(90, 90, 90), kRollover(0, 0, 220),
    kPressed(0, 150, 0);

TCWindowButton* MakeButton(const QString& group, QWidget* parent)
{
    TCWindowButton* button = TCWindowButton::windowButtonWithSize(QSize(14, 16), group, parent);
    button->setActiveImage(Solid(kActive));
    button->setActiveNotKeyWindowImage(Solid(kNotKey));
    button->setInactiveImage(Solid(kInactive));
    button->setRolloverImage(Solid(kRollover));
    button->setPressedImage(Solid(kPressed));
    return button;
}

QColor Shown(TCWindowButton* button) { return button->grab().toImage().pixelColor(7, 8); }

void Settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(5);
    }
}

void Enter(QWidget* w)
{
    QEnterEvent event(QPointF(3, 3), QPointF(3, 3), QPointF(w->mapToGlobal(QPoint(3, 3))));
    QCoreApplication::sendEvent(w, &event);
}

void Leave(QWidget* w)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(w, &event);
}

}  // namespace

TEST(TCWindowButtonGroup, GroupsAreFoundByIdentifier)
{
    TCWindowButtonGroup* byNull = TCWindowButtonGroup::groupWithIdentifier(QString());
    EXPECT_EQ(byNull, TCWindowButtonGroup::groupWithIdentifier(QString::fromLatin1(kTCWindowButtonGroupDefault)));
    EXPECT_TRUE(QString::fromLatin1(kTCWindowButtonGroupDefault).endsWith("TCImageWindow.defaultWindowButtonGroup"));
    TCWindowButtonGroup* a = TCWindowButtonGroup::groupWithIdentifier("group.a");
    TCWindowButtonGroup* b = TCWindowButtonGroup::groupWithIdentifier("group.b");
    EXPECT_NE(a, b);
    EXPECT_NE(a, byNull);
    EXPECT_EQ(a, TCWindowButtonGroup::groupWithIdentifier("group.a"));
    EXPECT_EQ(a->identifier(), QStringLiteral("group.a"));
}

TEST(TCWindowButtonGroup, OnlySettingTheCountTellsTheButtons)
{
    TCWindowButtonGroup* group = TCWindowButtonGroup::groupWithIdentifier("group.count");
    std::vector<const void*> heard;
    int observer = 0;
    NotificationCenter::defaultCenter().AddObserver(
        &observer, TCWindowButtonGroupDidUpdateRolloverStateNotification,
        [&](const Notification& n) { heard.push_back(n.object); });

    group->setNumberOfCaptures(0);   // the current value
    group->setNumberOfCaptures(-1);  // negative
    EXPECT_TRUE(heard.empty());
    group->setNumberOfCaptures(2);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0], group);
    EXPECT_TRUE(group->shouldDisplayRollOver());

    group->didReleaseMousePointer();
    group->didReleaseMousePointer();
    EXPECT_FALSE(group->shouldDisplayRollOver());
    // A release too many leaves the count at zero: the next capture shows.
    group->didReleaseMousePointer();
    EXPECT_EQ(group->numberOfCaptures(), 0);
    group->didCaptureMousePointer();
    EXPECT_TRUE(group->shouldDisplayRollOver());
    group->resetMouseCaptures();
    EXPECT_EQ(group->numberOfCaptures(), 0);
    EXPECT_EQ(heard.size(), 1u);
    NotificationCenter::defaultCenter().RemoveObserver(&observer);
}

TEST(TCWindowButton, PictureFollowsKeyStateEnabledStateAndPointer)
{
    TCImageWindow window(QRect(0, 0, 300, 100));
    TCImageWindow other(QRect(400, 0, 300, 100));
    auto* close = MakeButton("group.window", nullptr);
    auto* zoom = MakeButton("group.window", nullptr);
    EXPECT_EQ(close->size(), QSize(14, 16));
    EXPECT_EQ(close->mouseTrackingArea(), QRect(-4, -4, 22, 24));
    EXPECT_EQ(close->group(), zoom->group());
    window.setCloseButton(close);
    window.setZoomButton(zoom);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    Settle();
    EXPECT_EQ(Shown(close), kActive);

    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    Settle();
    EXPECT_EQ(Shown(close), kNotKey);
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    Settle();
    EXPECT_EQ(Shown(close), kActive);

    // The pointer over one button: that one rolls over at once, the other
    // only when the group announces its count.
    Enter(close);
    EXPECT_EQ(Shown(close), kRollover);
    EXPECT_EQ(Shown(zoom), kActive);
    close->group()->setNumberOfCaptures(1);  // the count it has: nothing told
    EXPECT_EQ(Shown(zoom), kActive);
    close->group()->setNumberOfCaptures(2);
    EXPECT_EQ(Shown(zoom), kRollover);
    close->group()->setNumberOfCaptures(0);
    EXPECT_EQ(Shown(zoom), kActive);
    EXPECT_EQ(Shown(close), kActive);
    Leave(close);
    EXPECT_EQ(Shown(close), kActive);
    EXPECT_EQ(close->group()->numberOfCaptures(), 0);

    // Disabled: the inactive picture, also under the pointer.
    zoom->setEnabled(false);
    EXPECT_EQ(Shown(zoom), kInactive);
    zoom->group()->setNumberOfCaptures(3);
    EXPECT_EQ(Shown(zoom), kInactive);
    zoom->setEnabled(true);
    EXPECT_EQ(Shown(zoom), kActive);
    // Held down: the pressed picture.
    zoom->setDown(true);
    EXPECT_EQ(Shown(zoom), kPressed);
    zoom->setDown(false);

    // Full screen hides the buttons and clears the count; leaving it shows them.
    window.showFullScreen();
    Settle();
    EXPECT_TRUE(close->isHidden());
    EXPECT_EQ(close->group()->numberOfCaptures(), 0);
    window.showNormal();
    Settle();
    EXPECT_FALSE(close->isHidden());
}
