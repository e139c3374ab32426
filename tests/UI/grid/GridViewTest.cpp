#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CNGridView.h"
#include "NotificationCenter.h"
#include "RFOverlayScrollView.h"

namespace {

// Hands out tiles, reusing idle ones the way the results window does.
struct FakeDataSource : CNGridViewDataSource {
    qint64 count = 0;
    int created = 0;
    int reused = 0;
    std::vector<qint64> asked;
    qint64 numberOfItemsInSection(CNGridView*, qint64) override { return count; }
    CNGridViewItemBase* itemAtIndex(CNGridView* grid, qint64 index, qint64) override
    {
        asked.push_back(index);
        if (auto* item = grid->dequeueReusableItemWithIdentifier("CNGridViewItem")) {
            ++reused;
            return item;
        }
        ++created;
        return new CNGridViewItem;
    }
};

// One log for notifications and delegate calls, in the order they happen.
struct Log : CNGridViewDelegate {
    std::vector<std::string> lines;
    const void* grid = nullptr;

    static std::string Index(qint64 index) { return index == CNNotFound ? "none" : std::to_string(index); }

    explicit Log(CNGridView* g) : grid(g)
    {
        NotificationCenter::defaultCenter().AddObserver(
            this, "",
            [this](const Notification& n) {
                std::string line = "N " + n.name;
                if (n.userInfo.contains(CNGridViewItemIndexKey))
                    line += " " + Index(static_cast<qint64>(n.userInfo.value(CNGridViewItemIndexKey).toULongLong()));
                if (n.userInfo.contains(CNGridViewSelectedItemsKey))
                    line += " items=" + std::to_string(n.userInfo.value(CNGridViewSelectedItemsKey).toList().size());
                if (n.userInfo.contains(CNGridViewItemsIndexSetKey)) {
                    line += " set=";
                    for (const QVariant& v : n.userInfo.value(CNGridViewItemsIndexSetKey).toList())
                        line += std::to_string(v.toULongLong()) + ",";
                }
                lines.push_back(line);
            },
            grid);
    }
    ~Log() override { NotificationCenter::defaultCenter().RemoveObserver(this); }

    void willHoverItemAtIndex(CNGridView*, qint64 i, qint64) override { lines.push_back("D willHover " + Index(i)); }
    void willUnhoverItemAtIndex(CNGridView*, qint64 i, qint64) override
    {
        lines.push_back("D willUnhover " + Index(i));
    }
    void willSelectItemAtIndex(CNGridView*, qint64 i, qint64) override { lines.push_back("D willSelect " + Index(i)); }
    void didSelectItemAtIndex(CNGridView*, qint64 i, qint64) override { lines.push_back("D didSelect " + Index(i)); }
    void willDeselectItemAtIndex(CNGridView*, qint64 i, qint64) override
    {
        lines.push_back("D willDeselect " + Index(i));
    }
    void didDeselectItemAtIndex(CNGridView*, qint64 i, qint64) override
    {
        lines.push_back("D didDeselect " + Index(i));
    }
    void willDeselectAllItems(CNGridView*, const std::vector<CNGridViewItemBase*>& items) override
    {
        lines.push_back("D willDeselectAll " + std::to_string(items.size()));
    }
    void gridViewDidDeselectAllItems(CNGridView*) override { lines.push_back("D didDeselectAll"); }
    void didClickItemAtIndex(CNGridView*, qint64 i, qint64) override { lines.push_back("D click " + Index(i)); }
    void didDoubleClickItemAtIndex(CNGridView*, qint64 i, qint64) override
    {
        lines.push_back("D double " + Index(i));
    }
    void didActivateContextMenuWithIndexes(CNGridView*, const CNIndexSet& indexes, qint64) override
    {
        std::string line = "D menu ";
        for (qint64 i : indexes)
            line += std::to_string(i) + ",";
        lines.push_back(line);
    }
};

using Lines = std::vector<std::string>;

// A grid in an overlay scroll area whose viewport is width by height.
struct GridFixture {
    RFOverlayScrollView area;
    CNGridView* grid = new CNGridView;
    FakeDataSource source;

    GridFixture(int width, int height, qint64 count, bool center = false)
    {
        area.resize(width, height);
        area.setWidget(grid);
        grid->setUseCenterAlignment(center);
        grid->setDataSource(&source);
        source.count = count;
        area.show();
        Settle();
        grid->reloadData();
        Settle();
    }
    static void Settle()
    {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    void ScrollTo(int y)
    {
        area.verticalScrollBar()->setValue(y);
        Settle();
    }
    void Send(QEvent::Type type, QPointF at, Qt::MouseButton button = Qt::NoButton,
              Qt::MouseButtons buttons = Qt::NoButton, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QMouseEvent event(type, at, grid->mapToGlobal(at), button, buttons, modifiers);
        QCoreApplication::sendEvent(grid, &event);
    }
    void MoveTo(QPointF at) { Send(QEvent::MouseMove, at); }
    void RightClick(QPointF at) { Send(QEvent::MouseButtonPress, at, Qt::RightButton, Qt::RightButton); }
    CNGridViewItemBase* Item(qint64 index) { return grid->visibleItemAtIndex(index); }
    QPointF Centre(qint64 index) { return QRectF(grid->rectForItemAtIndex(index)).center(); }
};

}  // namespace

TEST(GridView, ColumnsInsetAndItemRectanglesFollowTheClipWidth)
{
    struct Case {
        int width;
        bool center;
        qint64 columns;
        double inset;
        qint64 item;
        QRect rect;
    };
    const Case cases[] = {
        {120, false, 1, 0, 1, QRect(0, 150, 150, 150)},
        {299, false, 1, 0, 2, QRect(0, 300, 150, 150)},
        {300, false, 2, 0, 3, QRect(150, 150, 150, 150)},
        {500, true, 3, 25, 4, QRect(175, 175, 150, 150)},
        {500, false, 3, 0, 4, QRect(150, 150, 150, 150)},
    };
    for (const Case& c : cases) {
        GridFixture f(c.width, 400, 7, c.center);
        SCOPED_TRACE(c.width);
        EXPECT_EQ(f.grid->columnsInGridView(), c.columns);
        EXPECT_EQ(f.grid->contentInset(), c.inset);
        EXPECT_EQ(f.grid->rectForItemAtIndex(c.item), c.rect);
        EXPECT_EQ(f.grid->allOverRowsInGridView(), (7 + c.columns - 1) / c.columns);
        EXPECT_EQ(f.grid->height(), f.grid->allOverRowsInGridView() * 150 + 2 * c.inset);
        EXPECT_EQ(f.grid->width(), c.width) << "the grid follows the viewport's width";
        ASSERT_NE(f.Item(c.item), nullptr);
        EXPECT_EQ(f.Item(c.item)->geometry(), c.rect) << "the placed tile sits in its cell";
    }
}

TEST(GridView, HeightChangesOfOnePixelOrLessAreNotApplied)
{
    GridFixture f(450, 300, 7);  // 3 columns, 3 rows
    EXPECT_EQ(f.grid->height(), 450);
    f.grid->resize(450, 451);
    f.grid->refreshGridViewAnimated(false, false);
    EXPECT_EQ(f.grid->height(), 451);
    f.grid->resize(450, 452);
    f.grid->refreshGridViewAnimated(false, false);
    EXPECT_EQ(f.grid->height(), 450);

    // Widening the area reflows the tiles into more columns.
    f.area.resize(600, 300);
    GridFixture::Settle();
    EXPECT_EQ(f.grid->columnsInGridView(), 4);
    EXPECT_EQ(f.grid->height(), 300);
    QTest::qWait(200);
    EXPECT_EQ(f.Item(4)->geometry(), QRect(0, 150, 150, 150));
}

TEST(GridView, VisibleRangeCoversTheVisibleRowsPlusOne)
{
    GridFixture f(450, 300, 30);  // 3 columns, 2 visible rows, 10 rows in all
    EXPECT_EQ(f.grid->visibleRowsInGridView(), 2);
    EXPECT_EQ(f.grid->visibleItemRange(), std::make_pair(qint64{0}, qint64{9}));
    EXPECT_EQ(f.grid->numberOfVisibleItems(), 9);

    f.ScrollTo(150);
    EXPECT_EQ(f.grid->visibleItemRange().first, 0);
    f.ScrollTo(151);
    EXPECT_EQ(f.grid->visibleItemRange().first, 3);
    EXPECT_EQ(f.grid->clippedRect(), QRect(0, 151, 450, 300));

    // At the end the range stops at the last item.
    f.ScrollTo(f.area.verticalScrollBar()->maximum());
    const auto [first, length] = f.grid->visibleItemRange();
    EXPECT_EQ(first + length, 30);
    EXPECT_EQ(f.grid->visibleIndexes().size(), static_cast<size_t>(length));
}

TEST(GridView, TilesLeavingTheRangeAreRecycledAndComeBackReset)
{
    GridFixture f(450, 300, 60);
    ASSERT_EQ(f.source.created, 9);

    f.ScrollTo(301);  // first visible index 6: rows 0 and 1 leave
    EXPECT_EQ(f.grid->visibleItemRange().first, 6);
    EXPECT_EQ(f.grid->indexesForVisibleItems(), (CNIndexSet{6, 7, 8, 9, 10, 11, 12, 13, 14}));
    // The six tiles of rows 0 and 1 left; the six new cells took them again.
    EXPECT_EQ(f.source.created, 9);
    EXPECT_EQ(f.source.reused, 6);
    EXPECT_EQ(f.grid->reuseableItemCount("CNGridViewItem"), 0u);

    // Scrolling through everything never makes more tiles than one screen.
    for (int y = 0; y <= f.area.verticalScrollBar()->maximum(); y += 75)
        f.ScrollTo(y);
    EXPECT_LE(f.source.created, 12);
    EXPECT_EQ(f.grid->numberOfVisibleItems(), f.grid->visibleItemRange().second);

    // An idle tile is handed out reset.
    for (qint64 index : f.grid->indexesForVisibleItems()) {
        f.Item(index)->setRepresentedObject(&f);
        f.Item(index)->setHovered(true);
    }
    f.grid->removeItemsAtIndexes(CNIndexSet{0}, false);
    const size_t idleCount = f.grid->reuseableItemCount("CNGridViewItem");
    ASSERT_GT(idleCount, 0u);
    for (size_t i = 0; i < idleCount; ++i) {
        CNGridViewItemBase* idle = f.grid->dequeueReusableItemWithIdentifier("CNGridViewItem");
        ASSERT_NE(idle, nullptr);
        EXPECT_EQ(idle->index(), CNNotFound);
        EXPECT_EQ(idle->representedObject(), nullptr);
        EXPECT_FALSE(idle->hovered());
    }
    EXPECT_EQ(f.grid->dequeueReusableItemWithIdentifier("CNGridViewItem"), nullptr);
    EXPECT_EQ(f.grid->dequeueReusableItemWithIdentifier("Unknown"), nullptr);
}

TEST(GridView, WhileSomethingIsSelectedNothingIsRecycled)
{
    GridFixture f(450, 300, 60);
    f.grid->selectItem(f.Item(1));
    for (int y = 0; y <= 900; y += 150)
        f.ScrollTo(y);
    EXPECT_EQ(f.grid->reuseableItemCount("CNGridViewItem"), 0u);
    EXPECT_EQ(f.source.reused, 0);
    EXPECT_TRUE(f.Item(0) != nullptr && f.Item(1) != nullptr) << "tiles out of sight stay placed";
    EXPECT_GT(f.grid->numberOfVisibleItems(), 9);
}

TEST(GridView, ReloadKeepsTheSelectionAndEmptiesVisibleAndReuseSets)
{
    GridFixture f(450, 300, 60);
    CNGridViewItemBase* chosen = f.Item(2);
    f.grid->selectItem(chosen);
    f.grid->deSelectItem(chosen);
    f.grid->selectItem(chosen);
    f.ScrollTo(0);

    f.source.count = 4;
    f.source.asked.clear();
    f.grid->reloadData();
    EXPECT_EQ(f.grid->numberOfVisibleItems(), 0);
    EXPECT_EQ(f.grid->reuseableItemCount("CNGridViewItem"), 0u);
    EXPECT_EQ(f.grid->selectedIndexes(), CNIndexSet{2});
    EXPECT_EQ(f.grid->selectedItems(), std::vector<CNGridViewItemBase*>{chosen});
    GridFixture::Settle();
    EXPECT_EQ(f.source.asked, (std::vector<qint64>{0, 1, 2, 3}));
    EXPECT_EQ(f.grid->numberOfItems(), 4);

    // New tiles fade in after a reload.
    EXPECT_LT(f.Item(0)->alphaValue(), 1.0);
    QTest::qWait(450);
    EXPECT_EQ(f.Item(0)->alphaValue(), 1.0);
}

TEST(GridView, HitTestingAndCellPositions)
{
    GridFixture f(500, 400, 7, true);  // 3 columns, inset 25
    struct Case {
        QPointF at;
        qint64 index;
    };
    const Case cases[] = {
        {{26, 26}, 0},      {{174, 30}, 0},      {{176, 30}, 1},     {{176, 176}, 4},
        {{24, 100}, CNNotFound},  // left of the inset
        {{100, 24}, CNNotFound},  // above it
        {{475, 100}, CNNotFound}, // the right edge of the last column
        {{480, 100}, CNNotFound}, // right of the last column
        {{200, 330}, CNNotFound}, // empty cell after item 6
        {{100, 330}, 6},
    };
    for (const Case& c : cases)
        EXPECT_EQ(f.grid->indexForItemAtLocation(c.at), c.index) << c.at.x() << "," << c.at.y();

    const CNItemPoint p = f.grid->locationForItemAtIndex(4);
    EXPECT_EQ(p.column, 2u);
    EXPECT_EQ(p.row, 2u);
    EXPECT_EQ(f.grid->locationForItemAtIndex(0).column, 1u);
    EXPECT_EQ(f.grid->boundIndexForItemAtLocation(QPointF(460, 160)), 3 + 3) << "x is limited to the columns";
}

TEST(GridView, DataSourceWithoutAnswersShowsNothing)
{
    struct Silent : CNGridViewDataSource {} silent;
    GridFixture f(450, 300, 5);
    f.grid->setDataSource(&silent);
    f.grid->reloadData();
    GridFixture::Settle();
    EXPECT_EQ(f.grid->numberOfItems(), 0);
    EXPECT_EQ(f.grid->numberOfVisibleItems(), 0);
    EXPECT_EQ(f.grid->height(), 0);
    EXPECT_EQ(f.grid->numberOfItemsInSection(0), CNNotFound);
    EXPECT_EQ(f.grid->numberOfSectionsInGridView(), CNNotFound);
    EXPECT_EQ(f.grid->itemAtIndex(0, 0), nullptr);
    f.grid->selectAllItems();
    EXPECT_TRUE(f.grid->selectedIndexes().empty());

    // A count but no tiles leaves every cell empty.
    struct CountOnly : CNGridViewDataSource {
        qint64 numberOfItemsInSection(CNGridView*, qint64) override { return 5; }
    } countOnly;
    f.grid->setDataSource(&countOnly);
    f.grid->reloadData();
    GridFixture::Settle();
    EXPECT_EQ(f.grid->numberOfItems(), 5);
    EXPECT_EQ(f.grid->numberOfVisibleItems(), 0);
}

TEST(GridView, InsertReloadAndRemoveShiftTilesAndFetchTheChangedCells)
{
    GridFixture f(450, 600, 5);
    CNGridViewItemBase* was1 = f.Item(1);
    CNGridViewItemBase* was4 = f.Item(4);

    f.source.count = 7;
    f.source.asked.clear();
    f.grid->insertItemsAtIndexes(CNIndexSet{1, 2}, false);
    EXPECT_EQ(f.grid->numberOfItems(), 7);
    EXPECT_EQ(f.Item(3), was1);
    EXPECT_EQ(was1->index(), 3);
    EXPECT_EQ(f.Item(6), was4);
    EXPECT_EQ(was4->geometry(), QRect(0, 300, 150, 150));
    GridFixture::Settle();
    EXPECT_EQ(f.source.asked, (std::vector<qint64>{1, 2}));

    f.source.asked.clear();
    f.grid->insertItemAtIndex(0, false);
    f.source.count = 8;
    EXPECT_EQ(f.Item(4), was1);
    GridFixture::Settle();
    EXPECT_EQ(f.source.asked, std::vector<qint64>{0});

    f.source.asked.clear();
    f.grid->reloadItemsAtIndexes(CNIndexSet{4}, false);
    EXPECT_EQ(f.Item(4), nullptr);
    GridFixture::Settle();
    EXPECT_EQ(f.source.asked, std::vector<qint64>{4});

    f.source.asked.clear();
    f.source.count = 6;
    f.grid->removeItemsAtIndexes(CNIndexSet{2, 3}, false);
    EXPECT_EQ(f.grid->numberOfItems(), 6);
    EXPECT_EQ(f.grid->reuseableItemCount("CNGridViewItem"), 6u) << "tiles from index 2 on wait for reuse";
    GridFixture::Settle();
    EXPECT_EQ(f.source.asked, (std::vector<qint64>{2, 3, 4, 5}));
    EXPECT_EQ(f.source.reused, 4);

    // Empty sets change nothing.
    const qint64 before = f.grid->numberOfItems();
    f.grid->insertItemsAtIndexes({}, false);
    f.grid->removeItemsAtIndexes({}, false);
    f.grid->reloadItemsAtIndexes({}, false);
    EXPECT_EQ(f.grid->numberOfItems(), before);
}

TEST(GridView, AnimatedInsertionMovesTilesToTheirNewCells)
{
    GridFixture f(450, 600, 4);
    CNGridViewItemBase* last = f.Item(3);
    ASSERT_EQ(last->geometry(), QRect(0, 150, 150, 150));
    f.source.count = 5;
    f.grid->insertItemAtIndex(0, true);
    EXPECT_EQ(f.Item(4), last);
    EXPECT_NE(last->geometry(), QRect(150, 150, 150, 150)) << "the move is animated";
    QTest::qWait(250);
    EXPECT_EQ(last->geometry(), QRect(150, 150, 150, 150));
    EXPECT_EQ(f.Item(0)->geometry(), QRect(0, 0, 150, 150));
    QTest::qWait(400);
    EXPECT_EQ(f.Item(0)->alphaValue(), 1.0);
}

TEST(GridView, HoveringAnnouncesNotificationThenDelegateAndHighlightsOneTile)
{
    GridFixture f(450, 300, 4);
    Log log(f.grid);
    f.grid->setDelegate(&log);

    QTest::qWait(400);  // the tiles have faded in
    const QColor before = f.area.grab().toImage().pixelColor(75, 60);
    f.MoveTo(f.Centre(0));
    EXPECT_TRUE(f.Item(0)->hovered());
    const QImage shown = f.area.grab().toImage();
    EXPECT_LT(shown.pixelColor(75, 60).red(), before.red() - 40) << "the hovered tile is drawn darker";
    EXPECT_EQ(shown.pixelColor(225, 60), before) << "its neighbour is not";
    f.MoveTo(f.Centre(0) + QPointF(10, 10));  // same tile: nothing
    f.MoveTo(f.Centre(1));
    EXPECT_FALSE(f.Item(0)->hovered());
    EXPECT_TRUE(f.Item(1)->hovered());
    f.MoveTo(f.Centre(5));  // empty cell
    EXPECT_FALSE(f.Item(1)->hovered());
    EXPECT_EQ(f.grid->lastHoveredIndex(), CNNotFound);
    f.MoveTo(f.Centre(5) + QPointF(3, 3));  // still nothing under the pointer
    f.MoveTo(f.Centre(2));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(f.grid, &leave);
    EXPECT_FALSE(f.Item(2)->hovered()) << "leaving the grid leaves no tile highlighted";
    EXPECT_EQ(f.grid->lastHoveredIndex(), CNNotFound);

    const Lines expected = {
        "N CNGridViewWillHoverItem 0",   "D willHover 0",
        "N CNGridViewWillUnhoverItem 0", "D willUnhover 0",
        "N CNGridViewWillHoverItem 1",   "D willHover 1",
        "N CNGridViewWillUnhoverItem 1", "D willUnhover 1",
        "N CNGridViewWillHoverItem none", "D willHover none",
        "N CNGridViewWillHoverItem 2",   "D willHover 2",
        "N CNGridViewWillUnhoverItem 2", "D willUnhover 2",
    };
    EXPECT_EQ(log.lines, expected);

    log.lines.clear();
    f.grid->setUseHover(false);
    f.MoveTo(f.Centre(3));
    EXPECT_TRUE(log.lines.empty());
}

TEST(GridView, RightClickSelectsTheTileUnderThePointer)
{
    GridFixture f(500, 300, 6);
    Log log(f.grid);
    f.grid->setDelegate(&log);

    f.RightClick(f.Centre(1));
    EXPECT_EQ(log.lines, (Lines{"N CNGridViewWillSelectItem 1", "D willSelect 1", "N CNGridViewDidSelectItem 1",
                                "D didSelect 1"}));
    log.lines.clear();

    f.RightClick(f.Centre(4));
    EXPECT_EQ(log.lines, (Lines{"N CNGridViewWillDeselectAllItems items=1", "D willDeselectAll 1",
                                "N CNGridViewDeSelectAllItems", "N CNGridViewDidDeselectAllItems",
                                "D didDeselectAll", "N CNGridViewWillSelectItem 4", "D willSelect 4",
                                "N CNGridViewDidSelectItem 4", "D didSelect 4"}));
    EXPECT_FALSE(f.Item(1)->selected());
    EXPECT_TRUE(f.Item(4)->selected());
    log.lines.clear();

    // On a selected tile the selection stays.
    f.RightClick(f.Centre(4));
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(f.grid->selectedIndexes(), CNIndexSet{4});

    // On empty space everything is deselected.
    f.RightClick(QPointF(470, 200));
    EXPECT_TRUE(f.grid->selectedIndexes().empty());
    EXPECT_FALSE(f.Item(4)->selected());
    log.lines.clear();

    // Deselecting nothing announces nothing.
    f.grid->deselectAllItems();
    EXPECT_TRUE(log.lines.empty());
}

TEST(GridView, ContextMenuCarriesTheSelectedIndexesAndIsAnnouncedWhenClosed)
{
    GridFixture f(450, 300, 6);
    f.grid->setAllowsMultipleSelection(true);
    f.grid->selectItemAtIndex(0, 0);
    f.grid->selectItemAtIndex(2, CNCommandKeyMask);
    QMenu menu;
    QAction* open = menu.addAction("Open");
    f.grid->setItemContextMenu(&menu);
    Log log(f.grid);
    f.grid->setDelegate(&log);

    QTimer::singleShot(50, &menu, [&menu] { menu.close(); });
    f.RightClick(f.Centre(2));
    const QVariantList carried = open->data().toList();
    ASSERT_EQ(carried.size(), 2);
    EXPECT_EQ(carried[0].toULongLong(), 0u);
    EXPECT_EQ(carried[1].toULongLong(), 2u);
    EXPECT_EQ(log.lines, (Lines{"N CNGridViewRightMouseButtonClickedOnItem set=0,2,", "D menu 0,2,"}));
}

TEST(GridView, ModifierKeysWithMultipleSelection)
{
    GridFixture f(450, 600, 12);
    f.grid->setAllowsMultipleSelection(true);

    f.grid->selectItemAtIndex(3, 0);
    f.grid->selectItemAtIndex(7, CNShiftKeyMask);
    EXPECT_EQ(f.grid->selectedIndexes(), (CNIndexSet{3, 4, 5, 6, 7}));
    EXPECT_EQ(f.grid->lastSelectedItemIndex(), CNNotFound);

    f.grid->selectItemAtIndex(5, CNCommandKeyMask);  // toggles off
    EXPECT_EQ(f.grid->selectedIndexes(), (CNIndexSet{3, 4, 6, 7}));
    EXPECT_FALSE(f.Item(5)->selected());
    f.grid->selectItemAtIndex(10, CNCommandKeyMask);  // toggles on
    EXPECT_EQ(f.grid->selectedIndexes(), (CNIndexSet{3, 4, 6, 7, 10}));

    // Shift reaches back from the highest selected index.
    f.grid->selectItemAtIndex(8, CNShiftKeyMask);
    EXPECT_EQ(f.grid->selectedIndexes(), (CNIndexSet{3, 4, 6, 7, 8, 9, 10}));

    // A plain click on a tile makes it the only one, selected or not.
    f.grid->selectItemAtIndex(4, 0);
    EXPECT_EQ(f.grid->selectedIndexes(), CNIndexSet{4});
    f.grid->selectItemAtIndex(1, 0);
    EXPECT_EQ(f.grid->selectedIndexes(), CNIndexSet{1});
    for (qint64 i : {0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11})
        EXPECT_FALSE(f.Item(i)->selected()) << i;

    // Shift with nothing selected selects just the tile.
    f.grid->deselectAllItems();
    f.grid->selectItemAtIndex(9, CNShiftKeyMask);
    EXPECT_EQ(f.grid->selectedIndexes(), CNIndexSet{9});

    // Switching multiple selection off clears the selection with only the
    // deselect-all notification.
    Log log(f.grid);
    f.grid->setDelegate(&log);
    f.grid->setAllowsMultipleSelection(false);
    EXPECT_TRUE(f.grid->selectedIndexes().empty());
    EXPECT_FALSE(f.Item(9)->selected());
    EXPECT_EQ(log.lines, Lines{"N CNGridViewDeSelectAllItems"});
}

TEST(GridView, SingleSelectionReplacesTheLastChoice)
{
    GridFixture f(450, 300, 6);
    f.grid->selectItemAtIndex(1, 0);
    EXPECT_EQ(f.grid->lastSelectedItemIndex(), 1);
    f.grid->selectItemAtIndex(4, 0);
    EXPECT_EQ(f.grid->selectedIndexes(), CNIndexSet{4});
    EXPECT_FALSE(f.Item(1)->selected());
    f.grid->selectItemAtIndex(4, CNCommandKeyMask);
    EXPECT_TRUE(f.grid->selectedIndexes().empty());
    f.grid->selectItemAtIndex(CNNotFound, 0);
    EXPECT_TRUE(f.grid->selectedIndexes().empty());
}

TEST(GridView, DeselectAllClearsTheTilesOfEveryGrid)
{
    GridFixture one(450, 300, 3);
    GridFixture two(450, 300, 3);
    two.grid->selectItem(two.Item(0));
    one.grid->selectItem(one.Item(2));
    one.grid->deselectAllItems();
    EXPECT_FALSE(one.Item(2)->selected());
    EXPECT_FALSE(two.Item(0)->selected()) << "every tile hears the deselect-all notification";
    EXPECT_EQ(two.grid->selectedIndexes(), CNIndexSet{0}) << "the other grid's own record is not touched";
}

TEST(GridView, SelectAllMarksEveryItemWithoutAnnouncing)
{
    GridFixture f(450, 300, 20);
    Log log(f.grid);
    f.grid->setDelegate(&log);
    f.grid->selectAllItems();
    EXPECT_EQ(f.grid->selectedIndexes().size(), 20u);
    EXPECT_TRUE(log.lines.empty());
    for (CNGridViewItemBase* item : f.grid->selectedItems())
        EXPECT_TRUE(item->selected());
    f.grid->deselectAllItems();
    EXPECT_TRUE(f.grid->selectedIndexes().empty());
}

TEST(GridView, DragFrameMarksCoveredTilesAndCommitsOnRelease)
{
    GridFixture f(450, 600, 12);  // 3 columns, 4 rows, all visible
    Log log(f.grid);
    f.grid->setDelegate(&log);

    // Without both switches a drag does nothing.
    f.Send(QEvent::MouseMove, QPointF(10, 10), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(f.grid->selectionFrameView(), nullptr);

    f.grid->setAllowsMultipleSelection(true);
    f.grid->setAllowsMultipleSelectionWithDrag(true);
    f.Send(QEvent::MouseMove, QPointF(10, 10), Qt::NoButton, Qt::LeftButton);
    ASSERT_NE(f.grid->selectionFrameView(), nullptr);
    EXPECT_EQ(f.grid->selectionFrameView()->geometry(), QRect(10, 10, 0, 0));
    f.Send(QEvent::MouseMove, QPointF(320, 170), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(f.grid->selectionFrameView()->geometry(), QRect(10, 10, 310, 160));
    for (qint64 i = 0; i < 12; ++i)
        EXPECT_EQ(f.Item(i)->selected(), i <= 5) << i;
    EXPECT_TRUE(f.grid->selectedIndexes().empty()) << "nothing is committed while dragging";
    EXPECT_TRUE(log.lines.empty());

    // Pulling back unmarks the tiles that left the frame.
    f.Send(QEvent::MouseMove, QPointF(160, 100), Qt::NoButton, Qt::LeftButton);
    for (qint64 i = 0; i < 12; ++i)
        EXPECT_EQ(f.Item(i)->selected(), i == 0 || i == 1) << i;

    // The frame never reaches past the last column.
    f.Send(QEvent::MouseMove, QPointF(700, 100), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(f.grid->selectionFrameView()->geometry().right(), 450 - 2);

    f.Send(QEvent::MouseMove, QPointF(160, 100), Qt::NoButton, Qt::LeftButton);
    f.Send(QEvent::MouseButtonRelease, QPointF(160, 100), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(f.grid->selectionFrameView(), nullptr);
    EXPECT_EQ(f.grid->selectedIndexes(), (CNIndexSet{0, 1}));
    EXPECT_EQ(log.lines, (Lines{"N CNGridViewWillSelectItem 0", "D willSelect 0", "N CNGridViewDidSelectItem 0",
                                "D didSelect 0", "N CNGridViewWillSelectItem 1", "D willSelect 1",
                                "N CNGridViewDidSelectItem 1", "D didSelect 1"}));

    // With Command the frame toggles against the committed selection.
    f.Send(QEvent::MouseMove, QPointF(10, 10), Qt::NoButton, Qt::LeftButton, Qt::ControlModifier);
    f.Send(QEvent::MouseMove, QPointF(400, 100), Qt::NoButton, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_FALSE(f.Item(0)->selected());
    EXPECT_FALSE(f.Item(1)->selected());
    EXPECT_TRUE(f.Item(2)->selected());
    f.Send(QEvent::MouseButtonRelease, QPointF(400, 100), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(f.grid->selectedIndexes(), CNIndexSet{2});
}

TEST(GridView, EscapeFreezesTheDragUntilTheButtonIsReleased)
{
    GridFixture f(450, 600, 12);
    f.grid->setAllowsMultipleSelection(true);
    f.grid->setAllowsMultipleSelectionWithDrag(true);
    f.Send(QEvent::MouseMove, QPointF(10, 10), Qt::NoButton, Qt::LeftButton);
    f.Send(QEvent::MouseMove, QPointF(170, 20), Qt::NoButton, Qt::LeftButton);
    const QRect frozen = f.grid->selectionFrameView()->geometry();
    QTest::keyClick(f.grid, Qt::Key_Escape);
    EXPECT_TRUE(f.grid->abortSelection());
    f.Send(QEvent::MouseMove, QPointF(400, 400), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(f.grid->selectionFrameView()->geometry(), frozen);
    EXPECT_FALSE(f.Item(8)->selected());

    // The abandoned drag commits nothing and the next one works again.
    f.Send(QEvent::MouseButtonRelease, QPointF(400, 400), Qt::LeftButton, Qt::NoButton);
    EXPECT_TRUE(f.grid->selectedIndexes().empty());
    EXPECT_FALSE(f.Item(0)->selected());
    EXPECT_FALSE(f.grid->abortSelection());
    f.Send(QEvent::MouseMove, QPointF(10, 10), Qt::NoButton, Qt::LeftButton);
    f.Send(QEvent::MouseMove, QPointF(20, 20), Qt::NoButton, Qt::LeftButton);
    EXPECT_TRUE(f.Item(0)->selected());
}

TEST(GridView, SelectionFrameIsATranslucentDarkRectangleWithAWhiteEdge)
{
    CNSelectionFrameView frame;
    frame.resize(40, 30);
    QImage image(40, 30, QImage::Format_ARGB32);
    image.fill(QColor(200, 0, 0));
    frame.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_EQ(image.pixelColor(20, 15), QColor(170, 0, 0));  // 15 % black over the red
    const QColor edge = image.pixelColor(20, 0);
    EXPECT_GT(edge.green(), 100) << "the edge is stroked in white";
}

TEST(GridView, ClicksAreClassifiedBySingleAndDoubleClicks)
{
    GridFixture f(450, 300, 6);
    Log log(f.grid);
    f.grid->setDelegate(&log);
    const QPointF a = f.Centre(0), b = f.Centre(1), c = f.Centre(2);
    struct Case {
        std::vector<QPointF> clicks;
        Lines delegateCalls;
    };
    const Case cases[] = {
        {{a}, {"D click 0"}},
        {{a, a}, {"D double 0"}},
        {{a, b}, {"D click 0", "D click 1"}},
        {{a, a, a}, {"D double 0"}},
        {{a, a, b}, {"D double 0", "D click 1"}},
        {{a, b, b}, {"D click 0", "D double 1"}},
        {{a, b, c}, {"D click 0", "D click 1", "D click 2"}},
        {{QPointF(10, 320)}, {}},
    };
    for (const Case& k : cases) {
        log.lines.clear();
        f.grid->handleClicks(k.clicks);
        Lines delegateOnly;
        for (const std::string& line : log.lines)
            if (line[0] == 'D')
                delegateOnly.push_back(line);
        EXPECT_EQ(delegateOnly, k.delegateCalls);
        EXPECT_EQ(log.lines.size(), 2 * delegateOnly.size()) << "each announcement is also a notification";
    }
}

TEST(GridView, ScrollAreaAlwaysShowsTheControlColour)
{
    GridFixture f(450, 300, 0);
    f.grid->setBackgroundColor(QColor(Qt::magenta));
    EXPECT_FALSE(f.grid->backgroundColor().isValid());
    EXPECT_EQ(f.area.viewport()->palette().color(QPalette::Window), QPalette().color(QPalette::Button));
    const QImage shown = f.area.grab().toImage();
    EXPECT_EQ(shown.pixelColor(100, 100), QPalette().color(QPalette::Button));
    EXPECT_TRUE(CNGridView::isBiggerVersionForMac1070());
}
