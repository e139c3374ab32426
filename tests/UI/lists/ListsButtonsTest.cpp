// The check-box cell of the trees, the hand button and the picture items.
#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "BVView.h"
#include "ListsTestSupport.h"
#include "NewButton.h"
#include "Photo.h"
#include "ZRCustomOutlineView.h"
#include "ZRHandButton.h"

namespace
{

class ButtonRecorder : public NewButtonDelegate
{
public:
    void clickButtonAction(NewButton* cell) override { items.push_back(cell->opNodeData()); }
    std::vector<OpNodeData*> items;
};

class ListsButtons : public ListsBundleTest
{
protected:
    void SetUp() override
    {
        ListsBundleTest::SetUp();
        NewButton::resetClickGuard();
    }
    void TearDown() override
    {
        NewButton::resetClickGuard();
        ListsBundleTest::TearDown();
    }
};

}  // namespace

TEST(CheckStates, ImageNamesAndNextState)
{
    const struct
    {
        int state;
        const char* triState;
        const char* twoState;
        int next;
    } cases[] = {{0, "checkbox_no", "checkbox_no", 2},
                 {1, "checkbox_election", "checkbox_no", 2},
                 {2, "checkbox_yes", "checkbox_yes", 0},
                 {3, "checkbox_election", "checkbox_no", 0},
                 {-1, "checkbox_election", "checkbox_no", 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(ZRCheckBoxImageName(c.state), c.triState) << c.state;
        EXPECT_EQ(ZRCheckBoxImageName(c.state, false), c.twoState) << c.state;
        EXPECT_EQ(ZRNextCheckState(c.state), c.next) << c.state;
    }
}

TEST_F(ListsButtons, CheckBoxCellRectangles)
{
    NewButton cell;
    const QRectF frame(10, 20, 300, 39);
    EXPECT_EQ(cell.imageRectForBounds(frame), QRectF());
    EXPECT_EQ(cell.iconImageRectForBounds(frame), QRectF());
    EXPECT_EQ(cell.imageFrameRectForBounds(frame), QRectF());

    cell.setCheckBoxImage(ZRCheckBoxImage(2));
    cell.setLabel(std::make_shared<ZRTextFieldCell>("Pictures"));
    EXPECT_EQ(cell.imageFrameRectForBounds(frame), QRectF(15, 20 + 13, 14, 14));
    EXPECT_EQ(cell.imageRectForBounds(frame), QRectF(25, 20 + 12, 800, 16));  // no icon: x + 15
    cell.setIconImageCell(std::make_shared<ZRImageCell>());
    EXPECT_EQ(cell.imageRectForBounds(frame), QRectF(50, 20 + 12, 800, 16));  // icon: x + 40
    EXPECT_EQ(cell.iconImageRectForBounds(frame), QRectF(18, 20 + 5, 40, 30));

    // The copy has its own label and icon cell.
    auto copied = cell.copy();
    auto* copy = dynamic_cast<NewButton*>(copied.get());
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->label(), cell.label());
    EXPECT_EQ(copy->label()->stringValue(), "Pictures");
    EXPECT_NE(copy->iconImageCell(), cell.iconImageCell());
    EXPECT_FALSE(copy->checkBoxImage().isNull());
}

TEST_F(ListsButtons, CheckBoxCellDrawsCheckBoxImageWhereItsRectangleIs)
{
    NewButton cell;
    cell.setCheckBoxImage(ZRCheckBoxImage(1));
    QImage image(100, 39, QImage::Format_ARGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        cell.drawWithFrame(painter, QRectF(0, 0, 100, 39), nullptr);
    }
    EXPECT_EQ(PixelAt(image, 5, 13), QColor(0, 0, 255));   // "checkbox_election"
    EXPECT_EQ(PixelAt(image, 18, 26), QColor(0, 0, 255));
    EXPECT_EQ(PixelAt(image, 4, 13), QColor(Qt::white));
    EXPECT_EQ(PixelAt(image, 19, 13), QColor(Qt::white));
}

TEST_F(ListsButtons, CheckBoxZoneAndSharedGuard)
{
    ButtonRecorder recorder;
    NewButton first, second;
    first.setDelegate(&recorder);
    second.setDelegate(&recorder);
    int a = 1, b = 2;
    first.setOpNodeData(reinterpret_cast<OpNodeData*>(&a));
    second.setOpNodeData(reinterpret_cast<OpNodeData*>(&b));
    const QRectF rowA(0, 0, 300, 39), rowB(0, 39, 300, 39);

    // x + 16 lies outside the 15-point check-box column.
    EXPECT_EQ(first.hitTestForEvent(QPointF(16, 10), rowA, nullptr), 0u);
    EXPECT_TRUE(recorder.items.empty());

    EXPECT_NE(first.hitTestForEvent(QPointF(7, 10), rowA, nullptr) & ZRCellHitTrackableArea, 0u);
    ASSERT_EQ(recorder.items.size(), 1u);
    EXPECT_EQ(recorder.items[0], reinterpret_cast<OpNodeData*>(&a));
    EXPECT_EQ(NewButton::clickGuard(), 1);
    // Another row's box within 0.2 s: ignored.
    EXPECT_EQ(second.hitTestForEvent(QPointF(7, 45), rowB, nullptr), 0u);
    EXPECT_EQ(recorder.items.size(), 1u);

    QTest::qWait(NewButton::kClickGuardMs + 100);
    EXPECT_EQ(NewButton::clickGuard(), 0);
    EXPECT_NE(second.hitTestForEvent(QPointF(7, 45), rowB, nullptr), 0u);
    ASSERT_EQ(recorder.items.size(), 2u);
    EXPECT_EQ(recorder.items[1], reinterpret_cast<OpNodeData*>(&b));
    second.changeVlaue();
    EXPECT_EQ(NewButton::clickGuard(), 0);

    // Without a delegate the click is still taken (and guarded).
    NewButton lone;
    EXPECT_NE(lone.hitTestForEvent(QPointF(1, 1), rowA, nullptr), 0u);
}

namespace
{
// Two rows; each row's check-box cell carries its item.
class CheckTree : public ZROutlineViewDataSource, public ZROutlineViewDelegate
{
public:
    int numberOfChildrenOfItem(ZROutlineView*, void* item) override { return item ? 0 : 2; }
    void* child(ZROutlineView*, int index, void*) override { return &items[index]; }
    void willDisplayCell(ZROutlineView*, ZRCell* cell, ZRTableColumn*, void* item) override
    {
        auto* box = dynamic_cast<NewButton*>(cell);
        ASSERT_NE(box, nullptr);
        box->setDelegate(recorder);
        box->setOpNodeData(static_cast<OpNodeData*>(item));
        box->setCheckBoxImage(ZRCheckBoxImage(0));
        box->setLabel(std::make_shared<ZRTextFieldCell>("row"));
    }
    bool shouldSelectItem(ZROutlineView*, void*) override
    {
        ++selections;
        return true;
    }
    int items[2] = {};
    ButtonRecorder* recorder = nullptr;
    int selections = 0;
};
}  // namespace

TEST_F(ListsButtons, ClickInTreeCheckBoxReachesDelegateOnceAndDoesNotSelect)
{
    ButtonRecorder recorder;
    CheckTree tree;
    tree.recorder = &recorder;
    ZRCustomOutlineView outline;
    ZRTableColumn* column = outline.addTableColumn("Name", "Name", 250);
    column->setDataCell(std::make_unique<NewButton>());
    outline.setDataSource(&tree);
    outline.setDelegate(&tree);
    outline.setRootIsDecorated(false);
    outline.resize(300, 200);
    outline.show();
    QCoreApplication::processEvents();

    const QRect row1 = outline.frameOfCellAtColumn(0, 1);
    QTest::mouseClick(outline.viewport(), Qt::LeftButton, {}, row1.topLeft() + QPoint(7, 10));
    ASSERT_EQ(recorder.items.size(), 1u);
    EXPECT_EQ(recorder.items[0], reinterpret_cast<OpNodeData*>(&tree.items[1]));
    EXPECT_EQ(tree.selections, 0);
    // A second click at once on the other row's box is swallowed; a click on
    // the label selects the row.
    const QRect row0 = outline.frameOfCellAtColumn(0, 0);
    QTest::mouseClick(outline.viewport(), Qt::LeftButton, {}, row0.topLeft() + QPoint(7, 10));
    EXPECT_EQ(recorder.items.size(), 1u);
    QTest::mouseClick(outline.viewport(), Qt::LeftButton, {}, row0.topLeft() + QPoint(60, 10));
    EXPECT_EQ(outline.selectedRow(), 0);
}

TEST_F(ListsButtons, HandButtonShowsPointingHandWhileHovered)
{
    ZRHandButton button("link");
    button.show();
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(&button, &enter);
    EXPECT_EQ(button.cursor().shape(), Qt::PointingHandCursor);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    EXPECT_EQ(button.cursor().shape(), Qt::ArrowCursor);
}

TEST(CoverFlowItem, PhotoAnswersTheBrowserItemQuestions)
{
    QPixmap picture(4, 4);
    Photo photo = Photo::initWithImage(picture, "IMG_1.JPG");
    EXPECT_EQ(photo.imageUID(), "IMG_1.JPG");
    EXPECT_EQ(photo.imageTitle(), "IMG_1.JPG");
    EXPECT_EQ(photo.imageRepresentation().size(), QSize(4, 4));
    photo.setName("B.PNG");
    photo.setImageRepresentation(QPixmap(8, 8));
    EXPECT_EQ(photo.imageUID(), "B.PNG");
    EXPECT_EQ(photo.imageRepresentation().size(), QSize(8, 8));
    EXPECT_FALSE(Photo::imageRepresentationType().isEmpty());
}

// ---------------------------------------------------------------------------
// Collection items

namespace
{
class FakeNodes : public BVNodeSource
{
public:
    bool IsScanRunning() override { return scanning; }
    QPixmap GetNSImageByFildNodeNSNumber(quint64 node) override { return thumbnails.count(node) ? thumbnails[node] : QPixmap(); }
    QString fileNodeName(quint64 node) override { return QString("file%1.jpg").arg(node); }
    int fileNodeState(quint64 node) override { return states[node]; }
    void setFileNode(quint64 node, int state) override
    {
        states[node] = state;
        ++writes;
    }
    bool isFileNodeDeleted(quint64 node) override { return node % 2 == 1; }

    bool scanning = false;
    std::map<quint64, int> states;
    std::map<quint64, QPixmap> thumbnails;
    int writes = 0;
};

class Owner : public BVPrototypeDelegate
{
public:
    void reLoadCollectionViewData() override { ++reloads; }
    int viewLoadCnt() override { return count; }
    int count = 1;
    int reloads = 0;
};

class CollectionItems : public ListsBundleTest
{
protected:
    void SetUp() override
    {
        ListsBundleTest::SetUp();
        BVNodeSource::setCurrent(&nodes);
    }
    void TearDown() override
    {
        BVNodeSource::setCurrent(nullptr);
        ListsBundleTest::TearDown();
    }
    FakeNodes nodes;
    Owner owner;
};

QColor CenterColor(const QLabel* label)
{
    const QImage image = label->pixmap().toImage();
    return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
}
}  // namespace

TEST_F(CollectionItems, ViewLayoutFollowsTheItemFrames)
{
    BVView view(QRect(40, 50, 999, 999));
    EXPECT_EQ(view.geometry(), QRect(40, 50, 120, 100));
    // Frames count from the bottom-left corner of the 120 x 100 item.
    EXPECT_EQ(view.bgImageView()->geometry(), QRect(3, 3, 114, 94));
    EXPECT_EQ(view.imageView()->geometry(), QRect(10, 10, 90, 55));
    EXPECT_EQ(view.titleLabel()->geometry(), QRect(30, 78, 80, 20));
    EXPECT_EQ(view.button()->geometry(), QRect(16, 76, 14, 14));
    EXPECT_EQ(view.deleteIamgeView()->geometry(), QRect(90, 49, 16, 16));
    EXPECT_TRUE(view.deleteIamgeView()->isHidden());
    EXPECT_EQ(view.titleLabel()->font().pixelSize(), 10);
}

TEST_F(CollectionItems, FillingShowsNameStateThumbnailAndDeletedMark)
{
    BVPrototype item;
    item.setDelegate(&owner);
    item.loadView();
    ASSERT_NE(item.view(), nullptr);
    EXPECT_NE(item.view(), BVPrototype::sharedView());  // the owner is filling: a view of its own
    QPixmap red(30, 30);
    red.fill(Qt::red);
    nodes.thumbnails[4] = red;
    nodes.states[4] = 2;
    item.setRepresentedObject(quint64(4));
    EXPECT_EQ(item.view()->listData(), std::optional<quint64>(4));
    EXPECT_EQ(item.view()->titleLabel()->toolTip(), "file4.jpg");
    EXPECT_EQ(item.view()->titleLabel()->text(), "file4.jpg");
    EXPECT_EQ(item.view()->checkBoxImageName(), "checkbox_yes");
    EXPECT_EQ(CenterColor(item.view()->imageView()), QColor(Qt::red));
    EXPECT_TRUE(item.view()->deleteIamgeView()->isHidden());

    // No thumbnail: the "logo" picture; a mixed node shows unchecked; a
    // deleted file shows its mark.
    nodes.states[5] = 1;
    item.setRepresentedObject(quint64(5));
    EXPECT_EQ(CenterColor(item.view()->imageView()), QColor(255, 255, 0));
    EXPECT_EQ(item.view()->checkBoxImageName(), "checkbox_no");
    EXPECT_FALSE(item.view()->deleteIamgeView()->isHidden());

    // Nothing given: nothing changes.
    item.setRepresentedObject(std::nullopt);
    EXPECT_EQ(item.view()->listData(), std::optional<quint64>(5));
}

TEST_F(CollectionItems, ItemsBeforeTheOwnerFillsShareOneHiddenView)
{
    owner.count = 0;
    BVPrototype a, b;
    a.setDelegate(&owner);
    b.setDelegate(&owner);
    a.loadView();
    b.loadView();
    EXPECT_EQ(a.view(), b.view());
    EXPECT_EQ(a.view(), BVPrototype::sharedView());
    a.view()->setListData(std::nullopt);
    a.view()->show();
    a.setRepresentedObject(quint64(2));
    EXPECT_TRUE(a.view()->isHidden());
    EXPECT_FALSE(a.view()->listData().has_value());
}

TEST_F(CollectionItems, CheckBoxTogglesTheFileAndTellsTheOwner)
{
    BVPrototype item;
    item.setDelegate(&owner);
    item.loadView();
    const struct
    {
        int before;
        int after;
        const char* image;
    } cases[] = {{1, 0, "checkbox_no"}, {0, 2, "checkbox_yes"}, {2, 0, "checkbox_no"}, {-1, 2, "checkbox_yes"}};
    int reloads = 0;
    for (const auto& c : cases) {
        nodes.states[8] = c.before;
        item.setRepresentedObject(quint64(8));
        QTest::mouseClick(item.view()->button(), Qt::LeftButton);
        EXPECT_EQ(nodes.states[8], c.after) << c.before;
        EXPECT_EQ(item.view()->checkBoxImageName(), c.image) << c.before;
        EXPECT_EQ(owner.reloads, ++reloads);
    }

    // While a scan runs nothing changes and nobody is told.
    nodes.scanning = true;
    nodes.states[8] = 1;
    const int writes = nodes.writes;
    item.setRepresentedObject(quint64(8));
    QTest::mouseClick(item.view()->button(), Qt::LeftButton);
    EXPECT_EQ(nodes.states[8], 1);
    EXPECT_EQ(nodes.writes, writes);
    EXPECT_EQ(owner.reloads, reloads);
}

TEST_F(CollectionItems, PointerLightsTheBackground)
{
    BVView view;
    EXPECT_EQ(view.backgroundImageName(), "view_bg_normal");
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(&view, &enter);
    EXPECT_EQ(view.backgroundImageName(), "view_bg_press");
    EXPECT_EQ(CenterColor(view.bgImageView()), QColor(200, 200, 200));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&view, &leave);
    EXPECT_EQ(view.backgroundImageName(), "view_bg_normal");
}

TEST_F(CollectionItems, ItemGoneBeforeTheSharedViewLeavesNoDanglingDelegate)
{
    owner.count = 0;
    {
        BVPrototype item;
        item.setDelegate(&owner);
        item.loadView();
        EXPECT_EQ(BVPrototype::sharedView()->delegate(), &item);
    }
    EXPECT_EQ(BVPrototype::sharedView()->delegate(), nullptr);
    BVPrototype::sharedView()->setListData(quint64(3));
    QTest::mouseClick(BVPrototype::sharedView()->button(), Qt::LeftButton);  // must not reach the gone item
    EXPECT_EQ(nodes.states[3], 2);
}
