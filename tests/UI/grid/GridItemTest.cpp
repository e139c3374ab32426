#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "DrawingChecks.h"

#include <cstdlib>
#include <thread>
#include <vector>

#include "BundleResources.h"
#include "CNGridViewItem.h"
#include "NotificationCenter.h"
#include "TestSupport.h"

namespace {

// The tile drawn over white, so that its translucent fills show as greys.
QImage RenderOnWhite(QWidget& widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

QImage Solid(int width, int height, QColor color)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

struct FakeEngine : CNGridViewItemEngine {
    bool running = false;
    bool paused = false;
    int state = 0;
    bool IsScanRunning() const override { return running; }
    bool IsPause() const override { return paused; }
    int NodeState(const void*) const override { return state; }
};

struct RecordingItemDelegate : CNGridViewItemDelegate {
    std::vector<qint64> indexes;
    void doSelectItem(qint64 index) override { indexes.push_back(index); }
};

QRgb IconColour(const QPushButton* button)
{
    return button->icon().pixmap(QSize(13, 13)).toImage().pixel(6, 6);
}

}  // namespace

TEST(GridItem, BackgroundIsDarkerWhileHoveredAndSelectionDrawsARing)
{
    CNGridViewItem item;
    const QImage plain = RenderOnWhite(item);
    // Black at alpha 0.05 over white, inside the rounded box only.
    EXPECT_NEAR(qRed(plain.pixel(75, 60)), 242, 2);
    EXPECT_EQ(plain.pixel(2, 2), QColor(Qt::white).rgb());

    item.setHovered(true);
    const QImage hovered = RenderOnWhite(item);
    EXPECT_NEAR(qRed(hovered.pixel(75, 60)), 178, 2);

    item.setHovered(false);
    item.setSelected(true);
    const QImage selected = RenderOnWhite(item);
    const QColor ring = selected.pixelColor(5, 75);
    EXPECT_GT(ring.blue(), ring.red() + 60) << "the left edge carries the blue selection ring";
    EXPECT_NEAR(qRed(selected.pixel(75, 60)), 242, 2);
}

TEST(GridItem, ThumbnailSidesAreCappedSeparatelyAndCentredAboveTheTitle)
{
    CNGridViewItem item;
    item.refImageWithImage(Solid(200, 100, Qt::red));
    const QImage image = RenderOnWhite(item);
    // Drawn 90 by 90 at (32.5, 22.5).
    auto isRed = [&](int x, int y) {
        const QColor c = image.pixelColor(x, y);
        return c.red() > 200 && c.green() < 60 && c.blue() < 60;
    };
    EXPECT_TRUE(isRed(34, 24));
    EXPECT_TRUE(isRed(121, 111));
    EXPECT_FALSE(isRed(31, 60));
    EXPECT_FALSE(isRed(124, 60));
    EXPECT_FALSE(isRed(75, 21));
    EXPECT_FALSE(isRed(75, 114));

    // An empty picture leaves what was there.
    item.refImageWithImage(QImage());
    EXPECT_EQ(item.itemImage().size(), QSize(200, 100));
}

TEST(GridItem, FixedPartsOfTheTile)
{
    CNGridViewItem item;
    EXPECT_EQ(CNGridViewItemBase::defaultItemSize(), QSize(150, 150));
    EXPECT_EQ(item.reuseIdentifier(), "CNGridViewItem");
    EXPECT_EQ(item.index(), CNNotFound);
    EXPECT_TRUE(item.selectable());
    EXPECT_EQ(item.itemButton()->geometry(), QRect(16, 121, 13, 13));
    EXPECT_EQ(item.titleLabel()->geometry(), QRect(30, 120, 120, 25));
    EXPECT_EQ(item.titleLabel()->font().pixelSize(), 11);
    EXPECT_TRUE(item.useLayout());

    CNGridViewItem named(CNGridViewItemLayout::defaultLayout(), "Other");
    EXPECT_EQ(named.reuseIdentifier(), "Other");
    EXPECT_EQ(named.currentLayout(), nullptr) << "the layout passed in is not kept";

    auto a = CNGridViewItemLayout::defaultLayout();
    auto b = CNGridViewItemLayout::defaultLayout();
    EXPECT_NE(a, b);
    EXPECT_EQ(a->selectionRingLineWidth, 3.0);
    EXPECT_EQ(a->contentInset, 3u);
    EXPECT_EQ(a->itemBorderRadius, 5u);
    EXPECT_EQ(a->visibleContentMask, 3);
    EXPECT_EQ(a->itemTitleTextAttributes.font.pixelSize(), 12);
}

TEST(GridItem, ReuseResetsStateButKeepsTitleTextAndNode)
{
    CNGridViewItem item;
    int node = 0;
    item.setIndex(4);
    item.setSelected(true);
    item.setHovered(true);
    item.setSelectable(false);
    item.setItemTitle("a.jpg");
    item.titleLabel()->setText("a.jpg");
    item.setNode(&node);
    item.refImageWithImage(Solid(10, 10, Qt::red));
    EXPECT_FALSE(item.isReuseable());

    item.prepareForReuse();
    EXPECT_EQ(item.index(), CNNotFound);
    EXPECT_FALSE(item.selected());
    EXPECT_FALSE(item.hovered());
    EXPECT_TRUE(item.selectable());
    EXPECT_TRUE(item.itemImage().isNull());
    EXPECT_TRUE(item.itemTitle().isEmpty());
    EXPECT_EQ(item.titleLabel()->text(), "a.jpg");
    EXPECT_EQ(item.node(), &node);
    EXPECT_TRUE(item.isReuseable());
}

TEST(GridItem, SelectAndDeselectAllNotificationsOfAnyGridReachEveryTile)
{
    CNGridViewItem a, b;
    int someGrid = 0;
    NotificationCenter::defaultCenter().PostNotification("CNGridViewSelectAllItems", &someGrid);
    EXPECT_TRUE(a.selected());
    EXPECT_TRUE(b.selected());
    NotificationCenter::defaultCenter().PostNotification("CNGridViewDeSelectAllItems", nullptr);
    EXPECT_FALSE(a.selected());
    EXPECT_FALSE(b.selected());

    const size_t before = NotificationCenter::defaultCenter().ObserverCount();
    {
        CNGridViewItem c;
        EXPECT_EQ(NotificationCenter::defaultCenter().ObserverCount(), before + 2);
    }
    EXPECT_EQ(NotificationCenter::defaultCenter().ObserverCount(), before);
}

TEST(GridItem, CheckBoxShowsTheNextStateAndTellsTheDelegateUnlessAScanRuns)
{
    TempDir dir;
    QDir().mkpath(QString::fromStdString(dir / "images"));
    Solid(13, 13, Qt::red).save(QString::fromStdString(dir / "images/checkbox_no.png"));
    Solid(13, 13, Qt::green).save(QString::fromStdString(dir / "images/checkbox_yes.png"));
    const QString oldPath = Bundle::ResourcePath();
    Bundle::SetResourcePath(QString::fromStdString(dir.path()));

    FakeEngine engine;
    CNGridViewItem::SetEngine(&engine);
    RecordingItemDelegate delegate;
    CNGridViewItem item;
    item.setDelegate(&delegate);
    item.setIndex(7);
    item.show();

    struct Case {
        bool running, paused;
        int state;
        bool acts;
        Qt::GlobalColor shown;
    };
    const Case cases[] = {
        {false, false, 2, true, Qt::red},   // checked: will be unchecked
        {false, false, 1, true, Qt::red},   // mixed counts as checked
        {false, false, 0, true, Qt::green}, // unchecked: will be checked
        {true, true, 2, true, Qt::red},     // a paused scan allows clicks
        {true, false, 0, false, Qt::red},   // a running scan ignores them
    };
    size_t calls = 0;
    for (const Case& c : cases) {
        engine.running = c.running;
        engine.paused = c.paused;
        engine.state = c.state;
        QTest::mouseClick(item.itemButton(), Qt::LeftButton);
        calls += c.acts ? 1 : 0;
        ASSERT_EQ(delegate.indexes.size(), calls);
        EXPECT_EQ(delegate.indexes.back(), 7);
        EXPECT_EQ(IconColour(item.itemButton()), QColor(c.shown).rgb());
    }

    CNGridViewItem::SetEngine(nullptr);
    Bundle::SetResourcePath(oldPath);
}

TEST(GridItem, ThumbnailFromAnotherThreadIsShownOnlyForTheSameNode)
{
    CNGridViewItem item;
    int nodeA = 0, nodeB = 0;
    item.setNode(&nodeA);

    // Another node's picture is dropped on the calling thread.
    std::thread([&] { item.updateImageViewWithImage(Solid(20, 20, Qt::blue), &nodeB); }).join();
    QCoreApplication::processEvents();
    EXPECT_TRUE(item.itemImage().isNull());

    // The same node's picture arrives on the main thread, not before.
    std::thread([&] { item.updateImageViewWithImage(Solid(20, 20, Qt::blue), &nodeA); }).join();
    EXPECT_TRUE(item.itemImage().isNull());
    QCoreApplication::processEvents();
    EXPECT_EQ(item.itemImage().size(), QSize(20, 20));

    // The tile is reused for another file before the main thread runs: the
    // stale picture must not appear on it.
    item.prepareForReuse();
    std::thread([&] { item.updateImageViewWithImage(Solid(30, 30, Qt::blue), &nodeA); }).join();
    item.setNode(&nodeB);
    QCoreApplication::processEvents();
    EXPECT_TRUE(item.itemImage().isNull());

    // A tile destroyed before the hand-over is not touched.
    auto* doomed = new CNGridViewItem;
    doomed->setNode(&nodeA);
    std::thread([&] { doomed->updateImageViewWithImage(Solid(20, 20, Qt::blue), &nodeA); }).join();
    delete doomed;
    QCoreApplication::processEvents();
}

// What the title line draws: the name, in a colour that stands out from the
// label's ground, whatever the platform's palette (a dark style once drew
// solid bars that hid the names).
// The name starts clear of the check box: no ink of the title in the first
// columns after the box, and the box itself is not painted over.
TEST(GridItem, TitleTextKeepsClearOfTheCheckBox)
{
    CNGridViewItem item;
    item.resize(150, 150);
    item.titleLabel()->setText(QStringLiteral("Wholly-wide-name.jpg"));
    const QImage drawn = item.grab().toImage();
    const QRect box = item.itemButton()->geometry();
    const QRect title = item.titleLabel()->geometry();
    EXPECT_GT(title.left(), box.right());
    const DrawnArea gap = Examine(drawn, QRect(title.left(), title.top(), 3, title.height()));
    EXPECT_EQ(gap.inked, 0) << "the name touches the check box: " << gap;
    const DrawnArea name = Examine(drawn, title);
    EXPECT_GE(name.contrast, 4.5) << name;
}

TEST(GridItem, TitleLineDrawsTheNameInAColourOtherThanItsGround)
{
    for (const bool darkStyle : {false, true}) {
        SCOPED_TRACE(darkStyle ? "dark palette" : "default palette");
        const QPalette before = QApplication::palette();
        if (darkStyle) {
            QPalette dark = before;
            for (QPalette::ColorRole role : {QPalette::Window, QPalette::WindowText, QPalette::Button, QPalette::Base})
                dark.setColor(role, Qt::black);
            QApplication::setPalette(dark);
        }
        CNGridViewItem item;
        item.titleLabel()->setText(QStringLiteral("holiday-photo.jpg"));
        const QImage drawn = item.titleLabel()->grab().toImage();
        QApplication::setPalette(before);
        const QRgb ground = drawn.pixel(drawn.width() - 2, drawn.height() - 2);
        int far = 0;
        for (int y = 0; y < drawn.height(); ++y)
            for (int x = 0; x < drawn.width(); ++x) {
                const QRgb p = drawn.pixel(x, y);
                const int distance = std::abs(qRed(p) - qRed(ground)) + std::abs(qGreen(p) - qGreen(ground)) +
                                     std::abs(qBlue(p) - qBlue(ground));
                far += distance > 200 ? 1 : 0;
            }
        EXPECT_GT(far, 20) << "the name is not readable on its ground";
        EXPECT_NE(item.titleLabel()->palette().color(QPalette::WindowText),
                  item.titleLabel()->palette().color(QPalette::Window));
    }
}
