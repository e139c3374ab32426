// The cover flow and the grid of the results window over a scripted window:
// which rows get previews, that previews are made off the main thread by one
// loader at a time and handed back to it, that stale previews are dropped
// when tiles are reused or the file list changes, and what the tiles' check
// boxes do.
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "BundleResources.h"
#include "TestSupport.h"
#include "ZRDeletailCoverFlow.h"

namespace {

// Pictures the tiles use, each of one colour, so a tile's check box and
// placeholder can be told apart by a pixel.
const QColor kYes(0, 200, 0);
const QColor kNo(200, 0, 0);
const QColor kLoading(0, 0, 200);

void UseCoverFlowResources()
{
    static TempDir dir;
    static bool made = false;
    if (!made) {
        made = true;
        QDir().mkpath(QString::fromStdString(dir / "images"));
        auto write = [&](const char* name, QColor colour) {
            QImage image(13, 13, QImage::Format_ARGB32);
            image.fill(colour);
            image.save(QString::fromStdString(dir / (std::string("images/") + name)), "PNG");
        };
        write("checkbox_yes.png", kYes);
        write("checkbox_no.png", kNo);
        write("loading.png", kLoading);
    }
    Bundle::SetResourcePath(QString::fromStdString(dir.path()));
}

QRgb IconColour(const QPushButton* button)
{
    return button->icon().pixmap(QSize(13, 13)).toImage().pixel(6, 6);
}

// The window as the picture views see it: a list of engine nodes, scan
// flags, and previews that say which file they show by their width.
class FakeWindow : public ZRDeletailCoverFlowHost {
public:
    explicit FakeWindow(size_t count, const std::string& prefix = "file") { SetFiles(count, prefix); }

    void SetFiles(size_t count, const std::string& prefix)
    {
        files.clear();
        for (size_t i = 0; i < count; ++i) {
            auto node = std::make_unique<TestNode>(prefix + std::to_string(i), static_cast<long long>(nodes.size()));
            files.push_back(FileNodeToValue(node.get()));
            widthOf[files.back()] = static_cast<int>(nodes.size()) + 1;
            nodes.push_back(std::move(node));
        }
    }
    // The width of the preview of a file.
    int WidthOf(FileNodeValue file) const { return widthOf.at(file); }

    const FileNodeArray& coverFlowFiles() const override { return files; }
    bool IsScanRunning() const override { return scanRunning; }
    bool IsPause() const override { return paused; }
    void doSelectItem(int index) override { toggled.push_back(index); }
    void coverFlowDidPickRow(int row) override { picked.push_back(row); }

    QImage previewOfFile(FileNodeValue file) const override
    {
        const int now = ++inFlight;
        int seen = maxInFlight.load();
        while (now > seen && !maxInFlight.compare_exchange_weak(seen, now)) {
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            calls.push_back(file);
            if (std::this_thread::get_id() == mainThread)
                calledOnMain = true;
        }
        if (delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs.load()));
        --inFlight;
        if (noPreview.count(file))
            return {};
        QImage image(widthOf.at(file), 8, QImage::Format_ARGB32);
        image.fill(Qt::white);
        return image;
    }

    // The icon of a file without a preview: none unless a test sets one.
    QImage fileTypeIcon(const QString& name) const override
    {
        std::lock_guard<std::mutex> guard(lock);
        iconsAskedFor.push_back(name);
        if (std::this_thread::get_id() != mainThread)
            iconAskedOffMain = true;
        return typeIcon;
    }

    std::vector<FileNodeValue> Calls() const
    {
        std::lock_guard<std::mutex> guard(lock);
        return calls;
    }
    void ClearCalls()
    {
        std::lock_guard<std::mutex> guard(lock);
        calls.clear();
    }

    std::vector<std::unique_ptr<TestNode>> nodes;
    FileNodeArray files;
    std::map<FileNodeValue, int> widthOf;
    std::set<FileNodeValue> noPreview;
    bool scanRunning = false;
    bool paused = false;
    std::vector<int> toggled;
    std::vector<int> picked;
    std::atomic<int> delayMs{0};
    std::thread::id mainThread = std::this_thread::get_id();

    mutable std::mutex lock;
    mutable std::vector<FileNodeValue> calls;
    QImage typeIcon;
    mutable std::vector<QString> iconsAskedFor;
    mutable bool iconAskedOffMain = false;
    mutable bool calledOnMain = false;
    mutable std::atomic<int> inFlight{0};
    mutable std::atomic<int> maxInFlight{0};
};

// Waits for the image thread to end without turning the event loop, so its
// previews are still on their way to the main thread.
void WaitForThreadOnly(const ZRDeletailCoverFlow& flow)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (flow.nImageState() != 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Lets the image thread finish and its previews reach the items.
void FinishCoverFlow(ZRDeletailCoverFlow& flow)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return flow.nImageState() == 2; }, 20000));
    flow.stopImageLoading();  // joins
    QCoreApplication::processEvents();
}

void FinishGrid(ZRDeletailCoverFlow& flow)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return flow.gridImageState() == 2; }, 20000));
    QCoreApplication::processEvents();
}

// Builds the cover flow as the window does on entering the mode.
void EnterCoverFlow(ZRDeletailCoverFlow& flow)
{
    flow.resetCoverFlow();
    flow.setFlowSelectedIndex(0);
    flow.showCoverFlowerViewWithRefresh(true);
    flow.selectedCoverFlow(0);
}

class CoverFlowTest : public ::testing::Test {
protected:
    void SetUp() override { UseCoverFlowResources(); }
};

}  // namespace

TEST_F(CoverFlowTest, PreviewsLoadForTheRowsAroundTheChosenRowInAscendingOrder)
{
    struct Case {
        size_t files;
        int row;
        size_t first;
        size_t last;  // excluded
    };
    const Case cases[] = {
        {10, 7, 0, 10},      // a short list loads whole, whatever the row
        {11, 0, 0, 11},      // from 11 rows on, the window applies
        {500, 250, 150, 350},
        {500, 30, 0, 130},
        {500, 480, 380, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.files << " files, row " << c.row);
        FakeWindow window(c.files);
        ZRDeletailCoverFlow flow(window);
        flow.showCoverFlowerViewWithRefresh(true);
        ASSERT_EQ(flow.photoCount(), c.files);
        EXPECT_EQ(flow.flowView()->numberOfItems(), static_cast<qint64>(c.files));
        flow.selectedCoverFlow(c.row);
        FinishCoverFlow(flow);
        EXPECT_EQ(flow.flowSelectedIndex(), c.row);
        EXPECT_EQ(flow.flowView()->selectedIndex(), c.row);

        std::vector<FileNodeValue> expected(window.files.begin() + c.first, window.files.begin() + c.last);
        EXPECT_EQ(window.Calls(), expected);
        EXPECT_FALSE(window.calledOnMain);
        for (size_t i = 0; i < c.files; ++i) {
            const Photo photo = *flow.photoAt(i);
            const bool loaded = i >= c.first && i < c.last;
            EXPECT_EQ(photo.imageUID(), loaded ? QString("file%1").arg(i) : ZRDeletailCoverFlow::kPlaceholderID) << i;
            EXPECT_EQ(photo.imageRepresentation().width(), loaded ? window.WidthOf(window.files[i]) : 0) << i;
        }
    }
}

TEST_F(CoverFlowTest, PreviewsReachTheViewOnlyThroughTheMainThread)
{
    FakeWindow window(3);
    ZRDeletailCoverFlow flow(window);
    flow.showCoverFlowerViewWithRefresh(true);
    flow.flowView()->resize(600, 300);
    flow.selectedCoverFlow(1);
    WaitForThreadOnly(flow);
    ASSERT_EQ(window.Calls().size(), 3u);
    // The thread has named the rows, but the pictures wait for the main
    // thread's event loop.
    EXPECT_EQ(flow.photoAt(1)->imageUID(), "file1");
    EXPECT_TRUE(flow.photoAt(1)->imageRepresentation().isNull());
    // The view draws the placeholder's empty frame (and caches the item)
    // meanwhile.
    EXPECT_TRUE(flow.flowView()->shownItem(1)->imageRepresentation().isNull());
    const QPoint centre = flow.flowView()->itemRect(1).center();
    EXPECT_EQ(flow.flowView()->grab().toImage().pixelColor(centre), QColor(30, 30, 30));
    FinishCoverFlow(flow);
    EXPECT_EQ(flow.flowView()->grab().toImage().pixelColor(centre), QColor(Qt::white));
    // The reloaded cell now shows the picture.
    EXPECT_EQ(flow.flowView()->shownItem(1)->imageRepresentation().width(), window.WidthOf(window.files[1]));
    EXPECT_EQ(flow.flowView()->shownItem(1)->imageTitle(), "file1");
}

TEST_F(CoverFlowTest, ATriedRowIsNotTriedAgainUntilTheCoverFlowIsRebuilt)
{
    FakeWindow window(4);
    window.noPreview.insert(window.files[2]);
    ZRDeletailCoverFlow flow(window);
    EnterCoverFlow(flow);
    FinishCoverFlow(flow);
    EXPECT_EQ(window.Calls().size(), 4u);
    // No preview: the row is named and keeps the placeholder's empty picture.
    EXPECT_EQ(flow.photoAt(2)->imageUID(), "file2");
    EXPECT_TRUE(flow.photoAt(2)->imageRepresentation().isNull());

    window.ClearCalls();
    flow.selectedCoverFlow(3);
    FinishCoverFlow(flow);
    EXPECT_TRUE(window.Calls().empty());

    EnterCoverFlow(flow);
    FinishCoverFlow(flow);
    EXPECT_EQ(window.Calls().size(), 4u);
}

// A file without a preview (a text file, say) shows the icon of its type in
// the cover flow and the grid instead of an empty frame; the icon is made on
// the main thread.
TEST_F(CoverFlowTest, AFileWithoutAPreviewShowsItsTypeIcon)
{
    FakeWindow window(3, "notes");
    window.noPreview.insert(window.files[1]);
    window.typeIcon = QImage(41, 41, QImage::Format_ARGB32);
    window.typeIcon.fill(Qt::red);
    ZRDeletailCoverFlow flow(window);
    flow.flowView()->resize(600, 300);
    EnterCoverFlow(flow);
    FinishCoverFlow(flow);
    EXPECT_EQ(flow.photoAt(1)->imageUID(), "notes1");
    EXPECT_EQ(flow.photoAt(1)->imageRepresentation().width(), 41);
    EXPECT_EQ(flow.photoAt(0)->imageRepresentation().width(), window.WidthOf(window.files[0]));
    EXPECT_EQ(window.iconsAskedFor, std::vector<QString>{"notes1"});
    EXPECT_FALSE(window.iconAskedOffMain);
    flow.selectedCoverFlow(1);
    FinishCoverFlow(flow);
    const QPoint centre = flow.flowView()->itemRect(1).center();
    EXPECT_EQ(flow.flowView()->grab().toImage().pixelColor(centre), QColor(Qt::red));
}

TEST_F(CoverFlowTest, OnlyOneImageThreadRunsAndAStopWaitsForIt)
{
    FakeWindow window(300);
    window.delayMs = 2;
    ZRDeletailCoverFlow flow(window);
    flow.showCoverFlowerViewWithRefresh(true);
    for (int row : {0, 120, 40, 260, 5}) {
        flow.selectedCoverFlow(row);
        EXPECT_EQ(flow.nImageState(), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(7));
    }
    flow.stopImageLoading();
    EXPECT_EQ(flow.nImageState(), 2);
    const size_t afterStop = window.Calls().size();
    EXPECT_EQ(window.inFlight.load(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(window.Calls().size(), afterStop);
    EXPECT_EQ(window.maxInFlight.load(), 1);
    // Each start skipped the rows earlier threads had named: no file twice.
    const std::vector<FileNodeValue> calls = window.Calls();
    EXPECT_EQ(std::set<FileNodeValue>(calls.begin(), calls.end()).size(), calls.size());
    // A stop with no thread running returns at once.
    flow.stopImageLoading();
    EXPECT_EQ(flow.nImageState(), 2);
}

TEST_F(CoverFlowTest, PreviewsOfAnEarlierFileListAreDroppedWhenTheNodeChanges)
{
    FakeWindow window(5, "old");
    ZRDeletailCoverFlow flow(window);
    EnterCoverFlow(flow);
    // Every preview of the old list is made and on its way to the main
    // thread, which has not looked yet.
    WaitForThreadOnly(flow);
    ASSERT_EQ(flow.nImageState(), 2);

    // The window selects another tree node: stop, new list, rebuild.
    flow.stopImageLoading();
    flow.stopGridImageLoading();
    window.SetFiles(5, "new");
    window.noPreview.insert(window.files.begin(), window.files.end());
    EnterCoverFlow(flow);
    FinishCoverFlow(flow);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(flow.photoAt(i)->imageUID(), QString("new%1").arg(i));
        EXPECT_TRUE(flow.photoAt(i)->imageRepresentation().isNull()) << i;
    }
}

TEST_F(CoverFlowTest, FillingAddsPlaceholdersOnlyWhenTheCentreMoved)
{
    FakeWindow window(3);
    ZRDeletailCoverFlow flow(window);
    EXPECT_FALSE(flow.publicItem().has_value());
    flow.setFlowSelectedIndex(-1);
    flow.showCoverFlowerViewWithRefresh(true);
    ASSERT_TRUE(flow.publicItem().has_value());
    EXPECT_EQ(flow.publicItem()->imageUID(), "Loading...");
    EXPECT_EQ(flow.flowSelectedIndex(), 0);  // -1 is read as 0
    EXPECT_EQ(flow.photoCount(), 3u);

    // Centred on row 0 already, with items: nothing added.
    flow.showCoverFlowerViewWithRefresh(true);
    EXPECT_EQ(flow.photoCount(), 3u);

    // A check-box refresh after the user moved on keeps the old items (with
    // their names) and appends placeholders after them; the view still
    // shows one item per file.
    flow.selectedCoverFlow(2);
    FinishCoverFlow(flow);
    flow.showCoverFlowerViewWithRefresh(true);
    EXPECT_EQ(flow.photoCount(), 6u);
    EXPECT_EQ(flow.photoAt(0)->imageUID(), "file0");
    EXPECT_EQ(flow.photoAt(3)->imageUID(), "Loading...");
    EXPECT_EQ(flow.flowView()->numberOfItems(), 3);
    EXPECT_EQ(flow.flowView()->selectedIndex(), 2);
    EXPECT_FALSE(flow.itemAtIndex(flow.flowView(), 6).has_value());
}

TEST_F(CoverFlowTest, PickingAnItemInTheViewMovesTheListsAndRestartsLoading)
{
    FakeWindow window(20);
    ZRDeletailCoverFlow flow(window);
    ZRCoverFlowView* view = flow.flowView();
    view->resize(800, 300);
    EnterCoverFlow(flow);
    FinishCoverFlow(flow);

    const QRect right = view->itemRect(2);
    ASSERT_FALSE(right.isEmpty());
    // The part of the second neighbour that the first does not cover.
    QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, QPoint(right.right() - 2, right.center().y()));
    EXPECT_EQ(view->selectedIndex(), 2);
    EXPECT_EQ(flow.flowSelectedIndex(), 2);
    EXPECT_EQ(window.picked, std::vector<int>{2});

    QTest::keyClick(view, Qt::Key_Left);
    EXPECT_EQ(window.picked, (std::vector<int>{2, 1}));
    // Beyond the first item nothing is picked.
    QTest::keyClick(view, Qt::Key_Left);
    QTest::keyClick(view, Qt::Key_Left);
    EXPECT_EQ(window.picked, (std::vector<int>{2, 1, 0}));
    // A click beside every item picks nothing.
    QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    EXPECT_EQ(window.picked.size(), 3u);
    flow.stopImageLoading();
}

namespace {

class GridTest : public CoverFlowTest {
protected:
    void Show(ZRDeletailCoverFlow& flow)
    {
        QScrollArea* area = flow.gridScrollArea();
        area->resize(620, 480);
        area->show();
        QCoreApplication::processEvents();
        Refill(flow);
    }
    // The grid places its tiles after the current event.
    static void Refill(ZRDeletailCoverFlow& flow)
    {
        flow.showGridView();
        QCoreApplication::processEvents();
    }
    static std::vector<CNGridViewItem*> Tiles(ZRDeletailCoverFlow& flow)
    {
        std::vector<CNGridViewItem*> tiles;
        CNGridView* grid = flow.gridMainView();
        for (qint64 i = 0; i < grid->numberOfItems(); ++i)
            if (auto* tile = qobject_cast<CNGridViewItem*>(grid->visibleItemAtIndex(i)))
                tiles.push_back(tile);
        return tiles;
    }
};

}  // namespace

TEST_F(GridTest, TilesGetTheFilesNamePlaceholderCheckBoxAndThenTheirThumbnail)
{
    FakeWindow window(40);
    OpNodeData::setFileNode(window.files[1], 2);
    ZRDeletailCoverFlow flow(window);
    Show(flow);
    const std::vector<CNGridViewItem*> tiles = Tiles(flow);
    ASSERT_GE(tiles.size(), 6u);
    ASSERT_LT(tiles.size(), 40u);  // only the visible rows are asked for

    CNGridViewItem* tile1 = qobject_cast<CNGridViewItem*>(flow.gridMainView()->visibleItemAtIndex(1));
    ASSERT_NE(tile1, nullptr);
    EXPECT_EQ(tile1->itemTitle(), "file1");
    EXPECT_EQ(tile1->titleLabel()->text(), "file1");
    EXPECT_EQ(tile1->reuseIdentifier(), kCNDefaultItemIdentifier);
    EXPECT_EQ(tile1->delegate(), &flow);
    EXPECT_EQ(IconColour(tile1->itemButton()), kYes.rgb());
    auto* tile2 = qobject_cast<CNGridViewItem*>(flow.gridMainView()->visibleItemAtIndex(2));
    EXPECT_EQ(IconColour(tile2->itemButton()), kNo.rgb());

    FinishGrid(flow);
    EXPECT_FALSE(window.calledOnMain);
    EXPECT_EQ(window.maxInFlight.load(), 1);
    EXPECT_EQ(window.Calls().size(), tiles.size());
    for (qint64 i = 0; i < static_cast<qint64>(tiles.size()); ++i) {
        auto* tile = qobject_cast<CNGridViewItem*>(flow.gridMainView()->visibleItemAtIndex(i));
        ASSERT_NE(tile, nullptr);
        EXPECT_EQ(tile->itemImage().width(), window.WidthOf(window.files[i])) << i;
    }
}

TEST_F(GridTest, AnIndexBeyondTheListGivesNoTile)
{
    FakeWindow window(3);
    window.files.push_back(0);  // a row no outline node can be made of
    ZRDeletailCoverFlow flow(window);
    EXPECT_EQ(flow.itemAtIndex(flow.gridMainView(), 4, 0), nullptr);
    EXPECT_EQ(flow.itemAtIndex(flow.gridMainView(), 3, 0), nullptr);
    EXPECT_EQ(flow.itemAtIndex(flow.gridMainView(), -1, 0), nullptr);
    EXPECT_EQ(flow.numberOfItemsInSection(flow.gridMainView(), 0), 4);
    EXPECT_EQ(flow.gridImageState(), -1);  // nothing was queued
}

TEST_F(GridTest, AThumbnailForAReusedTileIsDropped)
{
    FakeWindow window(80);
    window.delayMs = 15;
    // The files at the end have no thumbnail: a tile that shows one of them
    // must keep the placeholder.
    window.noPreview.insert(window.files.begin() + 40, window.files.end());
    ZRDeletailCoverFlow flow(window);
    Show(flow);
    std::set<CNGridViewItem*> topTiles;
    for (CNGridViewItem* tile : Tiles(flow))
        topTiles.insert(tile);
    ASSERT_GT(topTiles.size(), 2u);

    // Scrolled to the end while the top row's thumbnails are still being
    // made: the grid hands the top tiles out again for the last files.
    QScrollBar* bar = flow.gridScrollArea()->verticalScrollBar();
    bar->setValue(bar->maximum());
    QCoreApplication::processEvents();
    FinishGrid(flow);
    QTest::qWait(30);

    size_t reused = 0;
    size_t checked = 0;
    for (qint64 i = 40; i < 80; ++i) {
        auto* tile = qobject_cast<CNGridViewItem*>(flow.gridMainView()->visibleItemAtIndex(i));
        if (!tile)
            continue;
        ++checked;
        reused += topTiles.count(tile);
        EXPECT_EQ(tile->itemTitle(), QString("file%1").arg(i));
        EXPECT_EQ(tile->itemImage().width(), 13) << i;  // the placeholder
    }
    EXPECT_GT(checked, 2u);
    EXPECT_GT(reused, 0u);
}

TEST_F(GridTest, ATileWithoutAThumbnailShowsItsTypeIcon)
{
    FakeWindow window(3, "notes");
    window.noPreview.insert(window.files[2]);
    window.typeIcon = QImage(41, 41, QImage::Format_ARGB32);
    window.typeIcon.fill(Qt::red);
    ZRDeletailCoverFlow flow(window);
    Show(flow);
    FinishGrid(flow);
    auto* tile = qobject_cast<CNGridViewItem*>(flow.gridMainView()->visibleItemAtIndex(2));
    ASSERT_NE(tile, nullptr);
    EXPECT_EQ(tile->itemImage().width(), 41);
    EXPECT_EQ(window.iconsAskedFor, std::vector<QString>{"notes2"});
    EXPECT_FALSE(window.iconAskedOffMain);
}

TEST_F(GridTest, StoppingDropsQueuedThumbnailsAndWaitsForTheRunningOne)
{
    FakeWindow window(40);
    window.delayMs = 15;
    ZRDeletailCoverFlow flow(window);
    Show(flow);
    const size_t shown = Tiles(flow).size();
    ASSERT_GT(shown, 4u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.Calls().empty(); }, 20000));
    flow.stopGridImageLoading();
    EXPECT_EQ(flow.gridImageState(), 2);
    EXPECT_EQ(window.inFlight.load(), 0);
    const size_t made = window.Calls().size();
    EXPECT_LT(made, shown);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(window.Calls().size(), made);
    // A stop with nothing loading returns at once.
    flow.stopGridImageLoading();
    EXPECT_EQ(flow.gridImageState(), 2);

    // The next refill loads again.
    window.delayMs = 0;
    window.ClearCalls();
    Refill(flow);
    FinishGrid(flow);
    EXPECT_EQ(window.Calls().size(), shown);
}

TEST_F(GridTest, SwitchingNodesWhileThumbnailsLoadShowsOnlyTheNewFiles)
{
    FakeWindow window(30, "old");
    window.delayMs = 4;
    ZRDeletailCoverFlow flow(window);
    Show(flow);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.Calls().empty(); }, 20000));
    // A new tree node: both loaders stop before the list changes.
    flow.stopImageLoading();
    flow.stopGridImageLoading();
    window.SetFiles(3, "new");
    window.delayMs = 0;
    Refill(flow);
    FinishGrid(flow);
    QTest::qWait(30);
    const std::vector<CNGridViewItem*> tiles = Tiles(flow);
    ASSERT_EQ(tiles.size(), 3u);
    for (qint64 i = 0; i < 3; ++i) {
        auto* tile = qobject_cast<CNGridViewItem*>(flow.gridMainView()->visibleItemAtIndex(i));
        EXPECT_EQ(tile->itemTitle(), QString("new%1").arg(i));
        EXPECT_EQ(tile->itemImage().width(), window.WidthOf(window.files[i])) << i;
    }
}

TEST_F(GridTest, ATilesCheckBoxFollowsTheNodeAndAsksTheWindowToToggle)
{
    FakeWindow window(5);
    OpNodeData::setFileNode(window.files[3], 2);
    ZRDeletailCoverFlow flow(window);
    Show(flow);
    FinishGrid(flow);
    auto* tile0 = qobject_cast<CNGridViewItem*>(flow.gridMainView()->visibleItemAtIndex(0));
    auto* tile3 = qobject_cast<CNGridViewItem*>(flow.gridMainView()->visibleItemAtIndex(3));
    ASSERT_NE(tile0, nullptr);
    ASSERT_NE(tile3, nullptr);
    EXPECT_EQ(flow.NodeState(tile3->node()), 2);
    EXPECT_EQ(flow.NodeState(tile0->node()), 0);
    EXPECT_EQ(flow.NodeState(nullptr), 0);

    // Unchecked shows "checked" at once; the window gets the index.
    tile0->itemButton()->click();
    EXPECT_EQ(IconColour(tile0->itemButton()), kYes.rgb());
    tile3->itemButton()->click();
    EXPECT_EQ(IconColour(tile3->itemButton()), kNo.rgb());
    EXPECT_EQ(window.toggled, (std::vector<int>{0, 3}));

    // While a scan runs unpaused, a click changes nothing; paused it counts.
    window.scanRunning = true;
    tile0->itemButton()->click();
    EXPECT_EQ(window.toggled.size(), 2u);
    window.paused = true;
    tile0->itemButton()->click();
    EXPECT_EQ(window.toggled, (std::vector<int>{0, 3, 0}));

    // A state changed elsewhere shows when the grid is refilled.
    OpNodeData::setFileNode(window.files[0], 2);
    Refill(flow);
    FinishGrid(flow);
    tile0 = qobject_cast<CNGridViewItem*>(flow.gridMainView()->visibleItemAtIndex(0));
    EXPECT_EQ(IconColour(tile0->itemButton()), kYes.rgb());

    // Clicks, selections and menus on the grid itself ask nothing of the
    // window.
    flow.gridMainView()->handleSingleClickForItemAtIndex(1);
    flow.gridMainView()->handleDoubleClickForItemAtIndex(1);
    flow.gridMainView()->selectItemAtIndex(1, 0);
    EXPECT_EQ(window.toggled.size(), 3u);
}

TEST_F(GridTest, DestroyingTheLoaderWhileThumbnailsLoadTakesItsViewsAlong)
{
    FakeWindow window(30);
    window.delayMs = 5;
    auto flow = std::make_unique<ZRDeletailCoverFlow>(window);
    // The window keeps both views in containers of its own.
    QWidget container;
    flow->gridScrollArea()->setParent(&container);
    flow->flowView()->setParent(&container);
    container.resize(620, 480);
    flow->gridScrollArea()->resize(620, 480);
    container.show();
    QCoreApplication::processEvents();
    Refill(*flow);
    flow->showCoverFlowerViewWithRefresh(true);
    flow->selectedCoverFlow(0);
    QPointer<CNGridViewItem> tile = qobject_cast<CNGridViewItem*>(flow->gridMainView()->visibleItemAtIndex(0));
    ASSERT_TRUE(tile);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Calls().size() >= 2; }, 20000));
    flow.reset();
    EXPECT_FALSE(tile);
    EXPECT_TRUE(container.findChildren<QWidget*>().isEmpty());
    EXPECT_EQ(CNGridViewItem::Engine(), nullptr);
    EXPECT_EQ(window.inFlight.load(), 0);
    const size_t made = window.Calls().size();
    QTest::qWait(40);
    EXPECT_EQ(window.Calls().size(), made);
}
