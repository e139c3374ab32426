// The wizard's pages: the kinds chosen on the file-type page and the disk
// page's list, picks and refreshes.
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "BundleResources.h"
#include "FakeRootEngine.h"
#include "NotificationCenter.h"
#include "TCImageButton.h"
#include "TestSupport.h"
#include "TypeButton.h"
#include "ZRCustomOutlineView.h"
#include "ZRSelectDiskViewController.h"
#include "ZRSelectTypeViewController.h"

namespace {

struct TypeDelegate : ZRSelectTypeViewControllerDelegate {
    void changeContinueButtonState(const QStringList& selectArr) override
    {
        last = selectArr;
        ++changes;
    }
    void beginToStartScan() override { ++starts; }
    unsigned mask() const
    {
        unsigned m = 0;
        for (const QString& text : last)
            m |= text.toUInt();
        return m;
    }
    QStringList last;
    int changes = 0;
    int starts = 0;
};

struct DiskDelegate : ZRSelectDiskViewControllerDelegate {
    void backHomeButtonAction() override { ++backs; }
    void doubleClickedListToScan() override { ++scans; }
    void changeSelectDiskViewContinueButtonEnabled(const DiskVolumeNodeDataPtr& selection) override
    {
        reported.push_back(selection);
    }
    int backs = 0;
    int scans = 0;
    std::vector<DiskVolumeNodeDataPtr> reported;
};

// A page opened the way the root window opens it: every kind chosen.
class TypePage : public ::testing::Test {
protected:
    void SetUp() override
    {
        page.setDelegate(&delegate);
        page.show();
        page.setSelectAllCount(0);
        page.allTypesButtonClick(nullptr);
    }
    std::vector<TypeButton*> kinds() const
    {
        return {page.docTypeButton(), page.muiscTypeButton(), page.zipTypeButton(),
                page.picTypeButton(), page.videosTypeButton(), page.otherTypeButton()};
    }
    ZRSelectTypeViewController page;
    TypeDelegate delegate;
};

}  // namespace

TEST_F(TypePage, OpensWithEveryKindChosen)
{
    EXPECT_EQ(delegate.last, QStringList({"1", "2", "4", "8", "16", "32"}));
    EXPECT_EQ(page.selectAllCount(), 1);
    EXPECT_EQ(page.alltypesImageName(), "checkbox_yes");
    EXPECT_TRUE(page.startScanButton()->buttonEnabled());
    for (TypeButton* button : kinds())
        EXPECT_TRUE(button->isSelect());
}

TEST_F(TypePage, UncheckingOneKindClearsItsBitAndShowsTheMixedBox)
{
    // Each kind's bit is its engine type group: pictures 1, music 2,
    // movies 4, archives 8, documents 16, other 32.
    const std::vector<std::pair<TypeButton*, unsigned>> cases = {
        {page.docTypeButton(), 16}, {page.muiscTypeButton(), 2}, {page.zipTypeButton(), 8},
        {page.picTypeButton(), 1},  {page.videosTypeButton(), 4}, {page.otherTypeButton(), 32}};
    for (const auto& [button, bit] : cases) {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(45, 25));
        EXPECT_FALSE(button->isSelect());
        EXPECT_EQ(delegate.last.size(), 5);
        EXPECT_EQ(delegate.mask(), 63u & ~bit);
        EXPECT_EQ(page.alltypesImageName(), "checkbox_election");
        EXPECT_EQ(page.selectAllCount(), 2);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(45, 25));  // and back on
        EXPECT_EQ(delegate.mask(), 63u);
        EXPECT_EQ(page.selectAllCount(), 1);
    }
}

TEST_F(TypePage, UncheckingEveryKindDisablesStartAndTheBoxCycles)
{
    for (TypeButton* button : kinds()) {
        EXPECT_TRUE(page.startScanButton()->buttonEnabled());
        page.selectButtonClick(button);
    }
    EXPECT_TRUE(delegate.last.isEmpty());
    EXPECT_FALSE(page.startScanButton()->buttonEnabled());
    EXPECT_EQ(page.alltypesImageName(), "checkbox_no");
    EXPECT_EQ(page.selectAllCount(), 0);

    // None -> all (by the box), some -> all, all -> none.
    page.selectButtonClick(page.picTypeButton());
    EXPECT_EQ(delegate.last, QStringList({"1"}));
    QTest::mouseClick(page.alltypesButton(), Qt::LeftButton);
    EXPECT_EQ(delegate.mask(), 63u);
    EXPECT_EQ(delegate.last.size(), 6);  // no text twice
    QTest::mouseClick(page.alltypesButton(), Qt::LeftButton);
    EXPECT_TRUE(delegate.last.isEmpty());
    EXPECT_FALSE(page.startScanButton()->buttonEnabled());
    for (TypeButton* button : kinds())
        EXPECT_FALSE(button->isSelect());
}

TEST_F(TypePage, ChoosingOneKindTwiceLeavesNoTextOfIt)
{
    QTest::mouseClick(page.alltypesButton(), Qt::LeftButton);  // none
    page.selectButtonClick(page.videosTypeButton());
    page.selectButtonClick(page.videosTypeButton());
    EXPECT_FALSE(page.selectArr().contains("4"));
    EXPECT_TRUE(page.selectArr().isEmpty());
    page.selectButtonClick(page.zipTypeButton());
    page.startScanButton()->click();
    EXPECT_EQ(delegate.starts, 1);
}

TEST(TypeButtonDrawing, PicturesFollowUsableEnabledPressedAndHover)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "images");
    const std::map<std::string, QColor> pictures = {
        {"tb_normal", Qt::red}, {"tb_press", Qt::green}, {"tb_hover", Qt::blue}, {"tb_disable", Qt::gray}};
    for (const auto& [name, colour] : pictures) {
        QImage image(50, 50, QImage::Format_ARGB32);
        image.fill(colour);
        ASSERT_TRUE(image.save(QString::fromStdString(dir / ("images/" + name + ".png"))));
    }
    const QString oldPath = Bundle::ResourcePath();
    Bundle::SetResourcePath(QString::fromStdString(dir.path()));
    auto shown = [](const TypeButton& button, QColor* caption = nullptr) {
        const QPixmap* image = button.imageToDraw(caption);
        return image && !image->isNull() ? image->toImage().pixelColor(0, 0) : QColor();
    };

    TypeButton loaded;  // not made from a frame: not usable yet
    loaded.setImageFromFileNormalName("tb_normal", "tb_press", "tb_hover", "tb_disable");
    EXPECT_FALSE(loaded.isDisabled());
    EXPECT_EQ(shown(loaded), QColor(Qt::gray));
    QTest::mousePress(&loaded, Qt::LeftButton);  // ignored
    EXPECT_FALSE(loaded.isTracking());
    loaded.setButtonEnabled(true);
    EXPECT_EQ(shown(loaded), QColor(Qt::red));

    TypeButton made(QRect(0, 0, 90, 92), nullptr);
    EXPECT_EQ(made.imageToDraw(), nullptr);  // no normal picture: the plain button
    made.setTextWithName("Pictures");
    EXPECT_TRUE(made.isSelect());
    EXPECT_EQ(made.textField()->geometry(), QRect(0, 51, 90, 17));
    EXPECT_EQ(made.checkBox()->geometry(), QRect(37, 74, 16, 16));
    made.setImageFromFileNormalName("tb_normal", "tb_press", "tb_hover", "tb_disable");
    EXPECT_EQ(made.dstRect(), QRect(20, 0, 50, 50));
    QColor caption;
    EXPECT_EQ(shown(made, &caption), QColor(Qt::red));
    EXPECT_EQ(caption.alphaF(), 1.0f);
    made.setIsFocus(true);
    EXPECT_EQ(shown(made, &caption), QColor(Qt::blue));
    EXPECT_NEAR(caption.alphaF(), 0.8, 0.01);
    QTest::mousePress(&made, Qt::LeftButton, {}, QPoint(45, 25));
    EXPECT_EQ(shown(made), QColor(Qt::green));
    QTest::mouseRelease(&made, Qt::LeftButton, {}, QPoint(45, 25));
    EXPECT_EQ(shown(made), QColor(Qt::blue));
    made.setEnabled(false);  // usable, but the control is off
    EXPECT_EQ(shown(made, &caption), QColor(Qt::gray));
    EXPECT_EQ(caption, QColor(Qt::gray));
    Bundle::SetResourcePath(oldPath);
}

namespace {

// The disk page as the root window opens it: the list, the first volume
// preselected, then InitFinished.
class DiskPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        engine.disks = {{"Disk A", 1000000, {{"A1", 400000}, {"A2", 500000}}},
                        {"Stick", 64000000, {{"S1", 63000000}}, 1, 0, "sdb"},
                        {"Bare", 2000000, {}}};
        page.setDelegate(&delegate);
        page.resize(1000, 538);
        page.show();
        DiskVolumeNodeArray disks;
        engine.GetDeviceInfoToArray(&disks);
        page.setSelectDiskVolume(disks[0]->children()[0]);
        page.setAllDiskArr(disks);
        page.InitFinished();
    }
    void TearDown() override { NotificationCenter::defaultCenter().RemoveObserver(&page); }
    ZRCustomOutlineView* view() { return page.outlineView(); }
    DiskVolumeNodeData* itemAt(int row) { return static_cast<DiskVolumeNodeData*>(view()->itemAtRow(row)); }
    void clickRow(int row)
    {
        QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, view()->rectOfRow(row).center() + QPoint(100, 0));
    }
    FakeRootEngine engine;
    DiskDelegate delegate;
    ZRSelectDiskViewController page;
};

}  // namespace

TEST_F(DiskPage, ListsDisksWithVolumesExpandedAndMarksRowOne)
{
    // Rows: Disk A, A1, A2, Stick, S1, Bare.
    ASSERT_EQ(view()->numberOfRows(), 6);
    EXPECT_EQ(itemAt(1)->name(), "A1");
    EXPECT_EQ(itemAt(5)->name(), "Bare");
    EXPECT_EQ(page.rootArr(), QStringList({"0", "3"}));
    EXPECT_EQ(view()->isRootArr(), QStringList({"0", "3"}));
    EXPECT_EQ(page.selectedRow(), 1);
    EXPECT_EQ(view()->isSelectRow(), 1);
    ASSERT_FALSE(delegate.reported.empty());
    EXPECT_EQ(delegate.reported.back()->name(), "A1");  // the preselected first volume

    ZRTableColumn* size = view()->tableColumnWithIdentifier("Size");
    ZRTableColumn* fs = view()->tableColumnWithIdentifier("FileSystem");
    EXPECT_EQ(page.objectValueForTableColumn(view(), size, itemAt(0)).toString(), "976.56 KB");
    EXPECT_EQ(page.objectValueForTableColumn(view(), fs, itemAt(1)).toString(), "FAT32");
    EXPECT_FALSE(page.objectValueForTableColumn(view(), view()->tableColumnWithIdentifier("select"), itemAt(1)).isValid());
}

TEST_F(DiskPage, PickingADiskReportsTheDiskWithItsOwnNameAsParent)
{
    clickRow(3);

    EXPECT_EQ(page.selectedRow(), 3);
    ASSERT_TRUE(page.selectDiskVolume());
    EXPECT_EQ(page.selectDiskVolume()->name(), "Stick");
    EXPECT_EQ(page.selectDiskVolume()->parentName(), "Stick");
    EXPECT_EQ(page.selectDiskVolume()->parentDeviceName(), "sdb");
    EXPECT_EQ(delegate.reported.back().get(), itemAt(3));
    clickRow(4);
    EXPECT_EQ(delegate.reported.back()->name(), "S1");
    EXPECT_EQ(delegate.reported.back()->parentName(), "Stick");
    EXPECT_EQ(delegate.reported.back()->parentDeviceName(), "sdb");
    EXPECT_TRUE(page.scanButton()->buttonEnabled());

    // White text on the marked row, blue-grey elsewhere.
    EXPECT_EQ(view()->rowForItem(itemAt(4)), 4);
    EXPECT_EQ(view()->rowForItem(itemAt(1)), 1);
    EXPECT_EQ(page.selectedRow(), 4);
    ZRCell cell;
    ZRTableColumn* name = view()->tableColumnWithIdentifier("Name");
    page.willDisplayCell(view(), &cell, name, itemAt(4));
    EXPECT_EQ(cell.textColor(), QColor(Qt::white));
    page.willDisplayCell(view(), &cell, name, itemAt(1));
    EXPECT_EQ(cell.textColor(), QColor(175, 186, 219));
}

TEST_F(DiskPage, ClickBelowTheRowsDropsThePick)
{
    clickRow(2);
    const size_t before = delegate.reported.size();
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, QPoint(100, view()->viewport()->height() - 2));
    EXPECT_EQ(page.selectedRow(), -1);
    EXPECT_FALSE(page.selectDiskVolume());
    EXPECT_FALSE(page.scanButton()->buttonEnabled());
    EXPECT_EQ(view()->isSelectRow(), -1);
    ASSERT_EQ(delegate.reported.size(), before + 1);
    EXPECT_FALSE(delegate.reported.back());  // the root window ignores it
}

TEST_F(DiskPage, HeaderPressBlocksDoubleClickUntilTheNextPick)
{
    page.mouseDownInHeaderOfTableColumn(view(), view()->tableColumnWithIdentifier("Name"));
    page.doubleToScan();
    EXPECT_EQ(delegate.scans, 0);
    clickRow(1);
    EXPECT_FALSE(page.bClickHead());
    page.doubleToScan();
    EXPECT_EQ(delegate.scans, 1);
    page.scanButton()->click();
    page.backButton()->click();
    EXPECT_EQ(delegate.scans, 2);
    EXPECT_EQ(delegate.backs, 1);
}

TEST_F(DiskPage, MediaArrivingOrLeavingRebuildsTheListUntilDisabled)
{
    clickRow(4);
    engine.disks.push_back({"New", 8000000, {{"N1", 7000000}}});
    NotificationCenter::defaultCenter().PostNotification("RefreshAttachDevice");
    EXPECT_EQ(engine.refreshes, 1);
    ASSERT_EQ(view()->numberOfRows(), 8);
    EXPECT_EQ(itemAt(7)->name(), "N1");
    EXPECT_EQ(page.selectedRow(), 1);  // row 1 marked again
    EXPECT_EQ(view()->isSelectRow(), 1);
    // The pick follows the marked row, so the root window never scans an
    // object of the old list.
    ASSERT_TRUE(page.selectDiskVolume());
    EXPECT_EQ(page.selectDiskVolume()->name(), "A1");
    EXPECT_EQ(page.selectDiskVolume().get(), itemAt(1));
    EXPECT_EQ(delegate.reported.back().get(), itemAt(1));
    EXPECT_TRUE(page.scanButton()->buttonEnabled());

    engine.disks.pop_back();
    NotificationCenter::defaultCenter().PostNotification("RefreshDetachDevice", nullptr, {{"USBPath", "sdz"}});
    EXPECT_EQ(engine.refreshes, 2);
    EXPECT_EQ(view()->numberOfRows(), 6);

    page.disableRefreshDevice();
    NotificationCenter::defaultCenter().PostNotification("RefreshAttachDevice");
    EXPECT_EQ(engine.refreshes, 2);
}

TEST_F(DiskPage, CollapsingADiskRecountsTheDiskRows)
{
    view()->collapseItem(itemAt(0));
    EXPECT_EQ(page.selectedRow(), -1);
    EXPECT_EQ(page.rootArr(), QStringList({"0", "1"}));  // Disk A, Stick
    EXPECT_EQ(view()->isRootArr(), QStringList({"0", "1"}));
    view()->expandItem(itemAt(0));
    EXPECT_EQ(page.rootArr(), QStringList({"0", "3"}));
}

// With the shipped English texts, every picture button of the two pages
// carries a caption that fits on it, and the disk list's columns have their
// titles (the narrow mark column none).
TEST(PageCaptions, EveryPictureButtonHasAFittingCaption)
{
    const QString oldPath = Bundle::ResourcePath();
    Bundle::SetResourcePath(QStringLiteral(VANTREL_SOURCE_RESOURCES));
    Bundle::SetLanguage("en");
    {
        FakeRootEngine engine;
        ZRSelectTypeViewController types;
        ZRSelectDiskViewController disks;
        for (TCImageButton* button : {types.startScanButton(), disks.backButton(), disks.scanButton()}) {
            ASSERT_NE(button->textField(), nullptr);
            const QString caption = button->textField()->text();
            EXPECT_FALSE(caption.trimmed().isEmpty());
            EXPECT_LE(button->textField()->fontMetrics().horizontalAdvance(caption), button->width() - 8)
                << caption.toStdString();
        }
        std::map<QString, QString> titles;
        for (const auto& column : disks.outlineView()->tableColumns())
            titles[column->identifier()] = column->title();
        EXPECT_EQ(titles["select"], QString());
        EXPECT_EQ(titles["Name"], QStringLiteral("Drives"));
        EXPECT_EQ(titles["FileSystem"], QStringLiteral("File system"));
    }
    Bundle::SetResourcePath(oldPath);
}
