// The results window's rules over a scripted engine: progress display, the
// scan controls and their sheets, tree switching, the outline and list data
// sources, sorting, the search key and the tri-state check boxes.
#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QSplitter>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "DiskVolumeNodeData.h"
#include "DrawingChecks.h"
#include "MAAttachedWindow.h"
#include "TCImageButton.h"
#include "ZRShowScanProgressWindowController.h"
#include "NotificationCenter.h"
#include "ResultsFakeBridge.h"
#include "ResultsTestSupport.h"
#include "ZRDeletailWindowController.h"
#include "ZRProgressView.h"
#include "ZRUIDeviceData.h"

namespace {

class RootWindowProbe : public ZRDeletailWindowControllerDelegate {
public:
    int shown = 0;
    void showRootWindow(ZRDeletailWindowController*) override { ++shown; }
};

class ResultsWindow : public ::testing::Test {
protected:
    // The texts (and pictures) the window is made with.
    virtual void UseResources() { UseResultsTestResources(); }
    void SetUp() override
    {
        UseResources();
        // Path tree: VOL/ with a.jpg, b.mp3, c.txt and docs/ holding d.pdf.
        vol = Make("VOL", 0, 0, true);
        docs = Make("docs", 0, 0, true);
        a = Make("a.jpg", 3000, 300);
        b = Make("b.mp3", 2500, 100);
        c = Make("c.txt", 100, 200);
        d = Make("d.pdf", 1800, 400);
        vol->AddChild(docs);
        vol->AddChild(a);
        vol->AddChild(b);
        vol->AddChild(c);
        docs->AddChild(d);
        volItem = OpNodeData::initWithFileNode(FileNodeToValue(vol));
        docsItem = OpNodeData::initWithFileNode(FileNodeToValue(docs));
        volItem->setSubNode({OpNodeChild(docsItem)});
        bridge.roots[0] = {volItem};
        bridge.files[volItem.get()] = {V(docs), V(a), V(b), V(c)};
        bridge.files[docsItem.get()] = {V(d)};
        // Type tree: "Pictures" with the extension group "jpg".
        pictures = Group(1, "Pictures");
        jpg = Group(1, "jpg");
        jpg->setSubNode({OpNodeChild(V(a))});
        pictures->setExpandAble(1);
        pictures->setSubNode({OpNodeChild(jpg)});
        music = Group(1, "Music");
        bridge.roots[1] = {pictures, music};
        bridge.files[jpg.get()] = {V(a)};
        bridge.files[pictures.get()] = {V(a)};
        bridge.allFiles = {a, b, c, d};
        window = std::make_unique<ZRDeletailWindowController>(&bridge);
        window->setDelegate(&root);
    }
    void TearDown() override
    {
        window.reset();
        NotificationCenter::defaultCenter().RemoveObserver(this);
    }

    TestNode* Make(const char* name, long long size, unsigned long long created, bool dir = false)
    {
        auto node = std::make_unique<TestNode>(name, static_cast<long long>(nodes.size() + 10), dir);
        node->m_size = size;
        node->m_created = created;
        node->ShowNode(1);
        nodes.push_back(std::move(node));
        return nodes.back().get();
    }
    static FileNodeValue V(TestNode* node) { return FileNodeToValue(node); }
    static OpNodeDataPtr Group(int type, const char* name)
    {
        OpNodeDataPtr group = OpNodeData::initWithFileNode(0);
        group->setType(type);
        group->setFadeName(name);
        return group;
    }
    // Starts a scan and lets the engine report once while it runs.
    void StartScan()
    {
        window->getData();
        bridge.found = 4;
        ResultsFakeBridge::Post();
    }
    // The worker's end: state idle and one last notification.
    void EndScan()
    {
        bridge.state = 0;
        bridge.percent = 100;
        bridge.totalSize = 7400;
        bridge.totalCount = 4;
        ResultsFakeBridge::Post();
    }
    static bool Visible(QWidget* w) { return w && !w->isHidden(); }

    std::vector<std::unique_ptr<TestNode>> nodes;
    TestNode *vol, *docs, *a, *b, *c, *d;
    OpNodeDataPtr volItem, docsItem, pictures, jpg, music;
    ResultsFakeBridge bridge;
    RootWindowProbe root;
    std::unique_ptr<ZRDeletailWindowController> window;
};

TEST_F(ResultsWindow, ProgressShowsFilesEveryTimeAndRemainingTimeOncePerSecond)
{
    auto waitNextSecond = [] {
        const qint64 start = QDateTime::currentSecsSinceEpoch();
        return QTest::qWaitFor([&] { return QDateTime::currentSecsSinceEpoch() > start; }, 2500);
    };
    window->getData();
    // At the start of a second, so that the next calls fall in the same one.
    ASSERT_TRUE(waitNextSecond());
    bridge.found = 4;
    bridge.remaining = "00:00:09";
    ResultsFakeBridge::Post();
    EXPECT_EQ(window->findFilesLabel->text(), "4 files found");
    EXPECT_EQ(window->remainTimeLabel->text(), "Remaining 00:00:09");

    bridge.remaining = "00:00:07";
    bridge.found = 9;
    ResultsFakeBridge::Post();
    EXPECT_EQ(window->findFilesLabel->text(), "9 files found");
    EXPECT_EQ(window->remainTimeLabel->text(), "Remaining 00:00:09");

    ASSERT_TRUE(waitNextSecond());
    bridge.remaining = "00:00:05";
    ResultsFakeBridge::Post();
    EXPECT_EQ(window->remainTimeLabel->text(), "Remaining 00:00:05");
}

TEST_F(ResultsWindow, ProgressBelowOnePercentShowsAnEmptyBar)
{
    StartScan();
    const struct {
        double percent;
        float shown;
    } cases[] = {{0.5, 0.0f}, {0.99, 0.0f}, {1.0, 1.0f}, {42.5, 42.5f}};
    for (const auto& tc : cases) {
        bridge.percent = tc.percent;
        window->getScanProgress();
        EXPECT_FLOAT_EQ(window->progressValue(), tc.shown) << tc.percent;
    }
}

TEST_F(ResultsWindow, QuickScanEndOffersTheDeepScanOnceAndShowsTheResultState)
{
    StartScan();
    EXPECT_EQ(bridge.Count("DoScanWithData"), 1);
    EXPECT_FALSE(Visible(window->continueButton));
    EndScan();
    EXPECT_TRUE(Visible(window->continueButton));
    EXPECT_TRUE(Visible(window->deepScanLabel));
    EXPECT_TRUE(Visible(window->recovertyButton));
    EXPECT_FALSE(Visible(window->pauseButton));
    EXPECT_FALSE(Visible(window->stopButton));
    EXPECT_FALSE(Visible(window->progressView));
    EXPECT_FALSE(Visible(window->findFilesLabel));
    EXPECT_TRUE(Visible(window->selectFilesLabel));
    // The totals line of all found files.
    EXPECT_EQ(window->selectFilesLabel->text(), "All: 7.23 KB in 4 files");
    ASSERT_NE(window->attachedWindow, nullptr);
    ASSERT_NE(window->exportButton, nullptr);
    EXPECT_TRUE(Visible(window->exportButton));
    EXPECT_EQ(window->exportButton->toolTip(), "Save the scan result");
    EXPECT_TRUE(window->backHomeButton->isEnabled());
    // The path tree's first root is selected and its files listed.
    EXPECT_EQ(window->opDataFile(), volItem.get());
    EXPECT_EQ(window->arrList().size(), 4u);

    // A resize moves the open offer along (a new pop-over at the anchor).
    window->windowDidResize();
    ASSERT_NE(window->attachedWindow, nullptr);
    ASSERT_NE(window->popView, nullptr);
    EXPECT_TRUE(window->attachedWindow->isAncestorOf(window->popView));

    // A second end (another notification) does not offer it again.
    window->popupViewHidden();
    EXPECT_EQ(window->attachedWindow, nullptr);
    EXPECT_EQ(window->isClodePopView(), 1);
    ResultsFakeBridge::Post();
    EXPECT_EQ(window->attachedWindow, nullptr);
    window->windowDidResize();
    EXPECT_EQ(window->attachedWindow, nullptr);

    // Starting the deep scan hides the offer controls and runs it 0.2 s later.
    window->deepSrcanButtonAction();
    EXPECT_FALSE(Visible(window->continueButton));
    EXPECT_FALSE(Visible(window->exportButton));
    EXPECT_TRUE(window->allDiskArr().empty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return bridge.Count("DoDeepScan") == 1; }, 2000));
    EXPECT_EQ(bridge.Count("ResetShouldBuild"), 1);
    EXPECT_EQ(window->bSave(), 0);
    ResultsFakeBridge::Post();
    EndScan();
    // After a deep scan: no deep-scan offer, the save button again.
    EXPECT_FALSE(Visible(window->continueButton));
    EXPECT_TRUE(Visible(window->exportButton));
    EXPECT_EQ(window->attachedWindow, nullptr);
}

TEST_F(ResultsWindow, TheDeepScanOfferClosesByItselfAfterEightSeconds)
{
    StartScan();
    EndScan();
    ASSERT_NE(window->attachedWindow, nullptr);
    QTest::qWait(7000);
    EXPECT_NE(window->attachedWindow, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->attachedWindow == nullptr; }, 3000));
    EXPECT_EQ(window->isClodePopView(), 1);
}

TEST_F(ResultsWindow, DeepScanEndAndImportedResultGetTheirOwnControls)
{
    bridge.deep = true;
    StartScan();
    EndScan();
    EXPECT_FALSE(Visible(window->continueButton));
    ASSERT_NE(window->exportButton, nullptr);
    EXPECT_TRUE(window->exportButton->toolTip().isEmpty());
    EXPECT_EQ(window->attachedWindow, nullptr);

    ResultsFakeBridge other;
    other.roots = bridge.roots;
    ZRDeletailWindowController imported(&other);
    imported.getImportData("/tmp/x.rsf");
    EXPECT_EQ(other.Count("RestorPostUIUpdate:load"), 1);
    EXPECT_TRUE(imported.backHomeButton->isEnabled());
    other.state = 0;
    ResultsFakeBridge::Post();
    EXPECT_EQ(imported.exportButton, nullptr);
    EXPECT_FALSE(Visible(imported.continueButton));
    EXPECT_EQ(imported.attachedWindow, nullptr);
}

TEST_F(ResultsWindow, StopSheetRefusedResumesOnlyAScanTheUserHadNotPaused)
{
    StartScan();
    window->stopButtonClick();
    EXPECT_EQ(bridge.state, 3);  // paused for the sheet
    ASSERT_EQ(window->currentSheetKind(), ZRDeletailWindowController::SheetKind::StopScan);
    window->answerSheet(ZRDeletailWindowController::kSheetAlternate);
    EXPECT_EQ(bridge.state, 2);

    window->pauseButtonClick();
    EXPECT_EQ(window->isPause(), 1);
    EXPECT_EQ(bridge.state, 3);
    EXPECT_TRUE(Visible(window->continueScanButton));
    window->stopButtonClick();
    window->answerSheet(ZRDeletailWindowController::kSheetAlternate);
    EXPECT_EQ(bridge.state, 3);
    EXPECT_EQ(window->isPause(), 1);
}

TEST_F(ResultsWindow, ConfirmedStopWaitsForTheScansLastNotification)
{
    StartScan();
    window->stopButtonClick();
    window->answerSheet(ZRDeletailWindowController::kSheetDefault);
    EXPECT_FALSE(window->stopButton->isEnabled());
    EXPECT_FALSE(window->backHomeButton->isEnabled());
    EXPECT_TRUE(QTest::qWaitFor([&] { return bridge.Count("StopScan:0") == 1; }, 2000));
    EXPECT_EQ(window->isCanClick(), 0);
    EXPECT_TRUE(bridge.IsScanRunning());  // stop asked, worker not ended yet
    EXPECT_FALSE(Visible(window->recovertyButton));
    EndScan();
    EXPECT_TRUE(Visible(window->recovertyButton));
    EXPECT_EQ(window->isCanClick(), 1);
    EXPECT_TRUE(window->backHomeButton->isEnabled());
}

TEST_F(ResultsWindow, PauseThatFindsTheScanEndedTurnsIntoAStop)
{
    StartScan();
    bridge.state = 0;  // ended before the click arrived
    window->pauseButtonClick();
    EXPECT_EQ(bridge.Count("StopScan:1"), 1);
    EXPECT_EQ(window->isPause(), 0);
    EXPECT_TRUE(Visible(window->recovertyButton));
}

TEST_F(ResultsWindow, ResumingAPausedDeepScanShowsTheListAndLocksTheViewSwitch)
{
    bridge.deep = true;
    StartScan();
    window->pauseButtonClick();
    EXPECT_TRUE(window->segment->isEnabled());
    window->segmentSelect(ZRDeletailWindowController::kViewGrid);
    EXPECT_EQ(window->selectSegmentCount(), ZRDeletailWindowController::kViewGrid);
    window->pauseButtonClick();
    EXPECT_EQ(window->isPause(), 0);
    EXPECT_FALSE(window->segment->isEnabled());
    EXPECT_EQ(window->selectSegmentCount(), ZRDeletailWindowController::kViewList);
    EXPECT_TRUE(Visible(window->pauseButton));
    EXPECT_FALSE(Visible(window->continueScanButton));
    EXPECT_FALSE(window->search->textField()->isEnabled());
}

TEST_F(ResultsWindow, ConfirmedCloseEndsTheApplicationOnlyAfterTheScanStopped)
{
    int terminate = 0;
    NotificationCenter::defaultCenter().AddObserver(this, "appWillTerminate",
                                                    [&](const Notification&) { ++terminate; });
    StartScan();
    window->closeWindow();
    ASSERT_EQ(window->currentSheetKind(), ZRDeletailWindowController::SheetKind::CloseWindow);
    window->answerSheet(ZRDeletailWindowController::kSheetDefault);
    EXPECT_EQ(bridge.Count("StopScan:1"), 1);
    EXPECT_EQ(window->isCloseWindow(), 1);
    EXPECT_EQ(terminate, 0);
    // Further close clicks are ignored while closing.
    window->closeWindow();
    EXPECT_EQ(window->currentSheet(), nullptr);
    EndScan();
    EXPECT_EQ(terminate, 1);
}

TEST_F(ResultsWindow, CloseWithoutAScanEndsTheApplicationAtOnce)
{
    int terminate = 0;
    NotificationCenter::defaultCenter().AddObserver(this, "appWillTerminate",
                                                    [&](const Notification&) { ++terminate; });
    window->closeWindow();
    EXPECT_EQ(terminate, 1);
    EXPECT_EQ(window->currentSheet(), nullptr);
}

TEST_F(ResultsWindow, ConfirmedBackHomeGoesHomeWhenTheScanHasStopped)
{
    StartScan();
    window->backButtonAction();
    ASSERT_EQ(window->currentSheetKind(), ZRDeletailWindowController::SheetKind::BackHome);
    window->answerSheet(ZRDeletailWindowController::kSheetDefault);
    EXPECT_EQ(bridge.Count("StopScan:1"), 1);
    EXPECT_EQ(window->isSelectBackHome(), 1);
    EXPECT_FALSE(window->isGone());
    EndScan();
    EXPECT_TRUE(window->isGone());
    EXPECT_TRUE(window->window()->isHidden());
    EXPECT_TRUE(QTest::qWaitFor([&] { return root.shown == 1; }, 2000));
    EXPECT_EQ(bridge.Count("RefreshDeviceInfo"), 1);
    // The window no longer listens.
    const int trees = bridge.Count("GetScanTreeNodeData:0");
    ResultsFakeBridge::Post();
    EXPECT_EQ(bridge.Count("GetScanTreeNodeData:0"), trees);
}

TEST_F(ResultsWindow, BackHomeSheetRefusedResumesTheScan)
{
    StartScan();
    window->backButtonAction();
    EXPECT_EQ(bridge.state, 3);
    window->answerSheet(ZRDeletailWindowController::kSheetAlternate);
    EXPECT_EQ(bridge.state, 2);
    EXPECT_EQ(window->isCanClick(), 1);
    EXPECT_FALSE(window->isGone());
}

// Two loop devices reading files of one name are two disks of one name: the
// device name tells them apart.
TEST_F(ResultsWindow, DetachOfAnotherDiskOfTheSameNameChangesNothing)
{
    _DiskVolumeData record;
    record.name = "HOLIDAY";
    DiskVolumeNodeDataPtr volume = DiskVolumeNodeData::initWithNodeData(record);
    volume->setParentName("disk.img");
    volume->setParentDeviceName("loop0");
    window->setSelectDiskVolumeData(volume.get());
    StartScan();
    NotificationCenter::defaultCenter().PostNotification("RefreshDetachDevice", nullptr,
                                                         {{"USBPath", "disk.img"}, {"BSDName", "loop3"}});
    EXPECT_EQ(bridge.Count("StopScan:1"), 0);
    EXPECT_EQ(window->currentSheet(), nullptr);
    NotificationCenter::defaultCenter().PostNotification("RefreshDetachDevice", nullptr,
                                                         {{"USBPath", "disk.img"}, {"BSDName", "loop0"}});
    EXPECT_EQ(bridge.Count("StopScan:1"), 1);
    EXPECT_EQ(window->currentSheetKind(), ZRDeletailWindowController::SheetKind::DeviceDetached);
}

TEST_F(ResultsWindow, DetachOfTheScannedDiskStopsAndGoesHomeOtherDisksChangeNothing)
{
    _DiskVolumeData record;
    record.name = "DATA";
    DiskVolumeNodeDataPtr volume = DiskVolumeNodeData::initWithNodeData(record);
    volume->setParentName("sdb");
    window->setSelectDiskVolumeData(volume.get());
    StartScan();
    NotificationCenter::defaultCenter().PostNotification("RefreshDetachDevice", nullptr, {{"USBPath", "sdc"}});
    EXPECT_EQ(bridge.Count("StopScan:1"), 0);
    EXPECT_EQ(window->currentSheet(), nullptr);
    NotificationCenter::defaultCenter().PostNotification("RefreshDetachDevice", nullptr, {{"USBPath", "sdb"}});
    EXPECT_EQ(bridge.Count("StopScan:1"), 1);
    ASSERT_EQ(window->currentSheetKind(), ZRDeletailWindowController::SheetKind::DeviceDetached);
    EXPECT_EQ(window->currentSheet()->informativeText(), "The usb device is detatched!");
    // Heard once only.
    NotificationCenter::defaultCenter().PostNotification("RefreshDetachDevice", nullptr, {{"USBPath", "sdb"}});
    EXPECT_EQ(bridge.Count("StopScan:1"), 1);
    window->answerSheet(ZRDeletailWindowController::kSheetDefault);
    EXPECT_TRUE(window->isGone());
    EXPECT_TRUE(QTest::qWaitFor([&] { return root.shown == 1; }, 2000));
}

TEST_F(ResultsWindow, TreeTabsSwitchTreesAndTheActiveTabDoesNothing)
{
    StartScan();
    EndScan();
    const size_t before = bridge.calls.size();
    window->pathButtonClick();
    EXPECT_EQ(bridge.calls.size(), before);

    window->typeButtonClick();
    EXPECT_EQ(window->selectTypeCount(), 1);
    EXPECT_EQ(bridge.viewType, 1);
    EXPECT_EQ(window->typeButton->property("tabImage").toString(), "bg_tab");
    EXPECT_EQ(window->pathButton->property("tabImage").toString(), " ");
    ASSERT_EQ(window->allTypeArr().size(), 2u);
    EXPECT_EQ(bridge.Count("RefreshTypeTreeState"), 1);
    EXPECT_EQ(window->opDataFile(), pictures.get());
    EXPECT_TRUE(window->PTOutlineViewBlowView->isVisibleTo(window->window()));

    // Only the first type group opens; a group without sub-groups cannot.
    EXPECT_TRUE(window->outlineView->isItemExpanded(pictures.get()));
    EXPECT_FALSE(window->outlineView->isItemExpanded(music.get()));
    EXPECT_TRUE(window->outlineViewIsItemExpandable(pictures.get()));
    EXPECT_FALSE(window->outlineViewIsItemExpandable(music.get()));
    EXPECT_EQ(window->outlineViewTreeLabel(pictures.get()), "Pictures(1)");
    EXPECT_EQ(window->outlineViewIconName(pictures.get()), "2IconImage");

    window->timeButtonClick();
    EXPECT_EQ(window->selectTypeCount(), 2);
    EXPECT_EQ(window->timeButton->property("tabImage").toString(), "bg_tab");
    EXPECT_EQ(window->modifyButton->property("tabImage").toString(), "text_bg");
    EXPECT_EQ(window->pathButton->property("tabImage").toString(), "");
    EXPECT_FALSE(window->PTOutlineViewBlowView->isVisibleTo(window->window()));
    EXPECT_TRUE(window->timeOutlineBlowView->isVisibleTo(window->window()));
    // The rebuild flag is cleared after a rebuild made while no scan runs:
    // coming back to the tree does not ask again.
    const int builds = bridge.Count("GetScanTreeNodeData:0");
    window->modifyTimeButtonClick();
    window->timeButtonClick();
    EXPECT_EQ(bridge.Count("GetScanTreeNodeData:0"), builds + 1);  // the modified tree once
}

TEST_F(ResultsWindow, TreeRowsAreDressedAndTheirCheckBoxReachesTheNode)
{
    StartScan();
    EndScan();
    window->typeButtonClick();
    ZRTableColumn* name = window->outlineView->tableColumnWithIdentifier("Name");
    ASSERT_NE(name, nullptr);
    NewButton cell;
    window->willDisplayCell(window->outlineView, &cell, name, pictures.get());
    EXPECT_EQ(cell.opNodeData(), pictures.get());
    EXPECT_EQ(cell.delegate(), static_cast<NewButtonDelegate*>(window.get()));
    ASSERT_NE(cell.label(), nullptr);
    EXPECT_EQ(cell.label()->stringValue(), "Pictures(1)");
    EXPECT_NE(cell.iconImageCell(), nullptr);
    // The cell's click goes to its node: unchecked becomes checked.
    window->clickButtonAction(&cell);
    EXPECT_EQ(pictures->state(), CHECKED_ALL);
    EXPECT_EQ(a->GetCheckedStatus(), CHECKED_ALL);
    // The list's deleted mark follows the file.
    d->m_deleted = true;
    window->outlineViewShouldSelectItem(volItem.get(), 0);
    window->pathButtonClick();
    ASSERT_TRUE(window->outlineViewShouldSelectItem(docsItem.get(), 0));
    EXPECT_TRUE(window->tableViewRowIsDeleted(0));
    EXPECT_FALSE(window->tableViewRowIsDeleted(1));
}

TEST_F(ResultsWindow, OutlineCountsOnlyFolderEntriesAndRefusesOtherKeys)
{
    StartScan();
    EndScan();
    EXPECT_EQ(window->outlineViewNumberOfChildrenOfItem(nullptr), 1);
    EXPECT_EQ(window->outlineViewNumberOfChildrenOfItem(volItem.get()), 1);
    EXPECT_EQ(window->outlineViewChildOfItem(0, volItem.get()), docsItem.get());
    EXPECT_EQ(window->outlineViewChildOfItem(5, volItem.get()), nullptr);
    EXPECT_EQ(window->outlineViewChildOfItem(1, nullptr), nullptr);
    EXPECT_TRUE(window->outlineViewIsItemExpandable(volItem.get()));
    EXPECT_FALSE(window->outlineViewIsItemExpandable(docsItem.get()));

    // A letter key does not move the selection; the arrows do.
    EXPECT_FALSE(window->outlineViewShouldSelectItem(docsItem.get(), 0x41));
    EXPECT_EQ(window->opDataFile(), volItem.get());
    EXPECT_TRUE(window->outlineViewShouldSelectItem(docsItem.get(), 125));
    EXPECT_EQ(window->opDataFile(), docsItem.get());
    ASSERT_EQ(window->arrList().size(), 1u);
    EXPECT_EQ(window->tableViewObjectValue("Name", 0), "d.pdf");
    EXPECT_EQ(window->tableViewObjectValue("Size", 0), "1.76 KB");
    EXPECT_EQ(window->tableViewObjectValue("Name", 1), "");

    // The same through the view: the Home key does not select the root,
    // the up arrow does.
    window->outlineView->setFocus();
    QTest::keyClick(window->outlineView, Qt::Key_Home);
    EXPECT_EQ(window->opDataFile(), docsItem.get());
    window->outlineView->selectRowIndexes(window->outlineView->rowForItem(docsItem.get()));
    QTest::keyClick(window->outlineView, Qt::Key_Up);
    EXPECT_EQ(window->opDataFile(), volItem.get());
}

TEST_F(ResultsWindow, SortingAlternatesDirectionAcrossColumns)
{
    StartScan();
    EndScan();
    auto names = [&] {
        QStringList out;
        for (size_t i = 0; i < window->arrList().size(); ++i)
            out << window->tableViewObjectValue("Name", static_cast<int>(i));
        return out.join(",");
    };
    // First click: descending.
    window->tableViewDidClickTableColumn("Size");
    EXPECT_EQ(names(), "a.jpg,b.mp3,c.txt,docs");
    EXPECT_EQ(window->sortIndicatorImage(), "NSDescendingSortIndicator");
    window->tableViewDidClickTableColumn("Size");
    EXPECT_EQ(names(), "docs,c.txt,b.mp3,a.jpg");
    EXPECT_EQ(window->sortIndicatorImage(), "NSAscendingSortIndicator");
    // Another column continues the alternation: descending now.
    window->tableViewDidClickTableColumn("Name");
    EXPECT_EQ(names(), "docs,c.txt,b.mp3,a.jpg");
    EXPECT_EQ(window->sortIndicatorImage(), "NSDescendingSortIndicator");
    // The check-box column sorts nothing but flips the direction.
    window->tableViewDidClickTableColumn("CheckBox");
    EXPECT_EQ(names(), "docs,c.txt,b.mp3,a.jpg");
    EXPECT_EQ(window->sortIndicatorImage(), "NSAscendingSortIndicator");
    EXPECT_EQ(window->sortIndicatorColumn(), "CheckBox");
    window->tableViewDidClickTableColumn("Created");  // descending: latest first
    EXPECT_EQ(names(), "a.jpg,c.txt,b.mp3,docs");

    // Equal times: ascending keeps the order, descending turns it round.
    a->m_created = b->m_created = c->m_created = docs->m_created = 5;
    window->tableViewDidClickTableColumn("Created");  // ascending
    EXPECT_EQ(names(), "a.jpg,c.txt,b.mp3,docs");
    window->tableViewDidClickTableColumn("Created");  // descending
    EXPECT_EQ(names(), "docs,b.mp3,c.txt,a.jpg");

    // Refused while the scan runs unpaused.
    bridge.state = 2;
    window->tableViewDidClickTableColumn("Name");
    EXPECT_EQ(names(), "docs,b.mp3,c.txt,a.jpg");
}

TEST(ResultsSearchKey, NormalisesOneLeadingAndOneTrailingSpace)
{
    const QString wide = QString(QChar(0x00C2)) + "  ";
    const struct {
        QString in, out;
    } cases[] = {
        {" word ", "word"},
        {"  word", " word"},
        {"word  ", "word "},
        {"two words", "two words"},
        {"a" + wide + "b", "a b"},
        {"x" + wide + wide + "y", "x  y"},
        {"", ""},
        {" ", ""},
    };
    for (const auto& tc : cases)
        EXPECT_EQ(ZRDeletailWindowController::GetSearchText(tc.in), tc.out) << tc.in.toStdString();
}

TEST_F(ResultsWindow, SearchStartsOnlyForANewKeyAndRestartsOnceWithTheBoxText)
{
    StartScan();
    EndScan();
    a->SetCheck(CHECKED_ALL);
    for (const char* ignored : {" ", "  "}) {
        window->search->textField()->setText(ignored);
        window->doSearch();
    }
    EXPECT_EQ(bridge.searching, false);
    EXPECT_EQ(bridge.Count("UnselectedAllNodes"), 0);
    // Clearing with no key set does nothing.
    window->searchClearButtonClick();
    EXPECT_FALSE(bridge.searching);

    window->search->textField()->setText(" jpg ");
    window->doSearch();
    EXPECT_TRUE(bridge.searching);
    EXPECT_EQ(bridge.searchKey, "jpg");
    EXPECT_TRUE(window->allDiskArr().empty());
    EXPECT_TRUE(window->arrList().empty());
    EXPECT_EQ(a->GetCheckedStatus(), CHECKED_NONE);
    EXPECT_EQ(window->selectedFileCnt(), 0u);
    // The same key again does nothing.
    const size_t calls = bridge.calls.size();
    window->doSearch();
    EXPECT_EQ(bridge.calls.size(), calls);

    // The search ends: trees back (shown and unchecked), hits listed, and
    // the box's key searched once more.
    bridge.searchHits = {V(a)};
    NotificationCenter::defaultCenter().PostNotification("DoSearchValue");
    EXPECT_EQ(bridge.Count("GetScanTreeNodeData:1"), 1);
    EXPECT_EQ(window->allDiskArr().size(), 1u);
    ASSERT_EQ(window->arrList().size(), 1u);
    EXPECT_EQ(window->arrList()[0], V(a));
    EXPECT_EQ(bridge.Count("DoSearchWithString:jpg"), 2);
    EXPECT_EQ(window->lastSearchStr(), "jpg");
    NotificationCenter::defaultCenter().PostNotification("DoSearchValue");
    EXPECT_EQ(bridge.Count("DoSearchWithString:jpg"), 2);

    // Clearing the box after a search runs the empty key.
    window->searchClearButtonClick();
    EXPECT_EQ(bridge.Count("DoSearchWithString:"), 1);

    // The search box's own button reaches the window.
    bridge.searching = false;
    window->search->textField()->setText("mp3");
    window->search->doSearchAction();
    EXPECT_EQ(bridge.Count("DoSearchWithString:mp3"), 1);
}

TEST_F(ResultsWindow, TreeCheckBoxesCycleAndAreInertWhileTheScanRuns)
{
    StartScan();
    // Running unpaused: nothing changes.
    window->clickButtonAction(volItem.get());
    EXPECT_EQ(vol->GetCheckedStatus(), CHECKED_NONE);
    EndScan();
    window->clickButtonAction(volItem.get());
    EXPECT_EQ(vol->GetCheckedStatus(), CHECKED_ALL);
    EXPECT_EQ(a->GetCheckedStatus(), CHECKED_ALL);
    EXPECT_EQ(window->selectedFileCnt(), 4u);
    EXPECT_EQ(window->selectValue(), 7400u);
    EXPECT_TRUE(window->recovertyButton->isEnabled());
    EXPECT_EQ(window->selectAllButtonImage(), "checkbox_yes");
    window->clickButtonAction(volItem.get());
    EXPECT_EQ(a->GetCheckedStatus(), CHECKED_NONE);
    EXPECT_FALSE(window->recovertyButton->isEnabled());
    EXPECT_EQ(window->selectFilesLabel->text(), "Selected: 0 byte, 0 files");

    // A mixed group becomes checked.
    window->typeButtonClick();
    pictures->setNodeState(CHECKED_NONE);
    jpg->setNodeState(CHECKED_PARTLY);
    ASSERT_EQ(pictures->state(), CHECKED_PARTLY);
    window->clickButtonAction(pictures.get());
    EXPECT_EQ(pictures->state(), CHECKED_ALL);
    EXPECT_EQ(a->GetCheckedStatus(), CHECKED_ALL);
}

TEST_F(ResultsWindow, ListCheckBoxesAndSelectAll)
{
    StartScan();
    EndScan();
    ASSERT_EQ(window->arrList().size(), 4u);  // docs, a, b, c
    // Out of range rows change nothing.
    window->nsbuttonCellClick(-1);
    window->nsbuttonCellClick(4);
    EXPECT_EQ(window->selectedFileCnt(), 0u);
    window->nsbuttonCellClick(1);
    EXPECT_EQ(a->GetCheckedStatus(), CHECKED_ALL);
    EXPECT_EQ(window->selectAllButtonImage(), "checkbox_election");
    EXPECT_TRUE(Visible(window->recovertyButton));
    EXPECT_EQ(window->GetCellNodeState(nullptr), 1);
    // Select-all with some checked checks every file; the folder keeps its state.
    window->setAllSelectOrNoSelect();
    for (TestNode* f : {a, b, c})
        EXPECT_EQ(f->GetCheckedStatus(), CHECKED_ALL);
    EXPECT_EQ(window->selectAllButtonImage(), "checkbox_yes");
    EXPECT_EQ(window->selectedFileCnt(), 3u);
    // With all checked it unchecks them all.
    window->setAllSelectOrNoSelect();
    for (TestNode* f : {a, b, c})
        EXPECT_EQ(f->GetCheckedStatus(), CHECKED_NONE);
    EXPECT_EQ(window->selectAllButtonImage(), "checkbox_no");

    // Through the list's check column: the cell dressed for row 2 clicks row 2.
    ZRTableColumn* checkColumn = window->tableView->tableColumnWithIdentifier("CheckBox");
    ASSERT_NE(checkColumn, nullptr);
    window->objectValueForTableColumn(window->tableView, checkColumn, 2);
    ZRCell* cell = checkColumn->dataCell();
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->tag(), 2);
    ASSERT_TRUE(cell->hasAction());
    cell->performAction();
    EXPECT_EQ(b->GetCheckedStatus(), CHECKED_ALL);

    // While the scan runs unpaused the boxes are inert.
    bridge.state = 2;
    window->nsbuttonCellClick(3);
    window->setAllSelectOrNoSelect();
    EXPECT_EQ(c->GetCheckedStatus(), CHECKED_NONE);
}

// A real click on a row's check box in the shown list toggles that file and
// the totals line follows; a click beside the box selects the row and
// leaves the check marks alone.
TEST_F(ResultsWindow, ClickedListCheckBoxTogglesItsFileAndTheTotals)
{
    StartScan();
    EndScan();
    window->showWindow();
    ASSERT_EQ(window->arrList().size(), 4u);  // docs, a, b, c
    ZRTableView* list = window->tableView;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(list->window()));
    const auto clickCell = [&](int column, int row) {
        const QRect cell = list->frameOfCellAtColumn(column, row);
        ASSERT_TRUE(cell.isValid()) << column << "," << row;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    };
    const QString before = window->selectFilesLabel->text();
    clickCell(0, 1);
    EXPECT_EQ(a->GetCheckedStatus(), CHECKED_ALL);
    EXPECT_EQ(window->selectedFileCnt(), 1u);
    EXPECT_EQ(window->selectedFileSize(), 3000u);
    const QString checked = window->selectFilesLabel->text();
    EXPECT_NE(checked, before);
    EXPECT_TRUE(checked.contains(QStringLiteral("1 files"))) << checked.toStdString();
    // The name cell selects and checks nothing.
    clickCell(1, 2);
    EXPECT_EQ(list->selectedRow(), 2);
    EXPECT_EQ(b->GetCheckedStatus(), CHECKED_NONE);
    EXPECT_EQ(window->selectedFileCnt(), 1u);
    // The box again: unchecked, and the totals go back.
    clickCell(0, 1);
    EXPECT_EQ(a->GetCheckedStatus(), CHECKED_NONE);
    EXPECT_EQ(window->selectedFileCnt(), 0u);
    EXPECT_NE(window->selectFilesLabel->text(), checked);
}

// With the shipped English texts every sheet of the window has a message,
// an informative text and captions that fit their buttons.
TEST_F(ResultsWindow, EverySheetShowsItsTextsAndCaptions)
{
    Bundle::SetResourcePath(QStringLiteral(VANTREL_SOURCE_RESOURCES));
    Bundle::SetLanguage("en");
    window->showWindow();
    using Kind = ZRDeletailWindowController::SheetKind;
    for (Kind kind : {Kind::StopScan, Kind::CloseWindow, Kind::BackHome, Kind::NoAccess, Kind::SameDevice,
                      Kind::NoSpace}) {
        SCOPED_TRACE(static_cast<int>(kind));
        window->showSheet(kind);
        QMessageBox* sheet = window->currentSheet();
        ASSERT_NE(sheet, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
        EXPECT_FALSE(sheet->text().trimmed().isEmpty());
        EXPECT_FALSE(sheet->informativeText().trimmed().isEmpty());
        const int expectedButtons = kind == Kind::NoAccess ? 1 : 2;
        ASSERT_EQ(sheet->buttons().size(), expectedButtons);
        for (QAbstractButton* button : sheet->buttons()) {
            EXPECT_FALSE(button->text().trimmed().isEmpty());
            EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()), button->width());
        }
        sheet->hide();
    }
    UseResultsTestResources();
}

TEST_F(ResultsWindow, RecoverButtonComesInOnceWhilePaused)
{
    StartScan();
    window->pauseButtonClick();
    const int boxWidth = window->subBox->width();
    window->outlineViewShouldSelectItem(volItem.get(), 0);
    window->nsbuttonCellClick(1);
    EXPECT_TRUE(Visible(window->recovertyButton));
    EXPECT_EQ(window->subBox->width(), boxWidth - 100);
    const QRect placed = window->recovertyButton->geometry();
    window->nsbuttonCellClick(2);
    EXPECT_EQ(window->subBox->width(), boxWidth - 100);
    EXPECT_EQ(window->recovertyButton->geometry(), placed);
    // The button ends inside the right part of the panel.
    EXPECT_GT(placed.right(), window->subBox->width() - 110);
    EXPECT_LE(placed.right(), window->abox->width());
    // Resuming gives the place back and hides the button.
    window->pauseButtonClick();
    EXPECT_FALSE(Visible(window->recovertyButton));
    EXPECT_EQ(window->subBox->width(), boxWidth);
    EXPECT_EQ(a->GetCheckedStatus(), CHECKED_NONE);
}

TEST_F(ResultsWindow, LeftPaneStaysBetweenItsLimits)
{
    EXPECT_EQ(window->splitViewConstrainMinCoordinate(0), 224);
    EXPECT_EQ(window->splitViewConstrainMaxCoordinate(0), 400);
    EXPECT_EQ(window->splitViewConstrainMinCoordinate(1), 1500);
    EXPECT_EQ(window->splitViewConstrainMaxCoordinate(1), 5000);
    QWidget* w = window->window();
    w->resize(1000, 640);
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    window->splistView->setSizes({100, 900});
    window->windowDidResize();
    EXPECT_EQ(window->splistView->sizes()[0], 223);
    window->splistView->setSizes({600, 400});
    window->windowDidResize();
    EXPECT_EQ(window->splistView->sizes()[0], 400);
    // The search box keeps its distance to the right edge.
    w->resize(1200, 640);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->search->geometry().right() + 1, 1200 - 20);
}

TEST_F(ResultsWindow, EmptyListUnderAFilledTreeShowsTheNotes)
{
    StartScan();
    EndScan();
    EXPECT_EQ(window->tableView->noValueView(), nullptr);
    window->outlineViewShouldSelectItem(docsItem.get(), 0);
    bridge.files[docsItem.get()].clear();
    window->refashDetailPageData();
    EXPECT_NE(window->tableView->noValueView(), nullptr);
    EXPECT_NE(window->coverFlowerTableView->noValueView(), nullptr);
    EXPECT_NE(window->gridNoValueView, nullptr);
    window->outlineViewShouldSelectItem(volItem.get(), 0);
    EXPECT_EQ(window->tableView->noValueView(), nullptr);
    EXPECT_EQ(window->gridNoValueView, nullptr);
}

}  // namespace

namespace {

class ResultsRecovery : public ResultsWindow {
protected:
    void SetUp() override
    {
        ResultsWindow::SetUp();
        StartScan();
        EndScan();
        window->canWriteTo = [this](const QString&) { return writable; };
        window->freeSpaceOf = [this](const QString&) { return freeBytes; };
        window->runRecoveryEndWindow = [this](const QString& folder) { finished.push_back(folder); };
        window->runRecoveryNotEndWindow = [this](double files, const QString& folder) {
            stopped.push_back(folder);
            stoppedFiles = files;
        };
    }
    // Checks files worth exactly bytes (c.txt is 100 bytes).
    void CheckHundredBytes()
    {
        c->SetCheck(CHECKED_ALL);
        window->showSelectFilesCountAndSize();
        ASSERT_EQ(window->selectedFileSize(), 100u);
    }
    bool RecoverButtonOn() const
    {
        auto* button = qobject_cast<TCImageButton*>(window->recovertyButton);
        return button && button->buttonEnabled();
    }

    bool writable = true;
    int64_t freeBytes = 1 << 30;
    std::vector<QString> finished, stopped;
    double stoppedFiles = -1;
};

TEST_F(ResultsRecovery, CancelledPanelReenablesTheButtonAndKeepsItsFrame)
{
    window->recovrtyButtonClick();
    ASSERT_NE(window->panel(), nullptr);
    EXPECT_FALSE(RecoverButtonOn());
    const QRect moved(40, 50, 700, 500);
    window->panel()->setGeometry(moved);
    window->panelEnded(0, QString());
    EXPECT_TRUE(RecoverButtonOn());
    EXPECT_EQ(window->rectNew(), moved);
    EXPECT_EQ(bridge.Count("DoRecovery"), 0);
    window->recovrtyButtonClick();
    ASSERT_NE(window->panel(), nullptr);
    EXPECT_EQ(window->panel()->geometry(), moved);
    window->panelEnded(0, QString());
}

TEST_F(ResultsRecovery, FreeSpaceMustExceedTheCheckedSizeByFivePercent)
{
    CheckHundredBytes();
    const struct {
        int64_t free;
        bool starts;
    } cases[] = {{105, false}, {106, true}, {-1, false}, {0, false}};
    for (const auto& tc : cases) {
        bridge.calls.clear();
        freeBytes = tc.free;
        window->recovrtyButtonClick();
        window->panelEnded(1, "/dest");
        EXPECT_EQ(bridge.Count("DoRecovery"), tc.starts ? 1 : 0) << tc.free;
        if (!tc.starts) {
            ASSERT_EQ(window->currentSheetKind(), ZRDeletailWindowController::SheetKind::NoSpace) << tc.free;
            // Its default button chooses another folder: a new panel comes.
            window->answerSheet(ZRDeletailWindowController::kSheetDefault);
            EXPECT_EQ(bridge.Count("DoRecovery"), 0);
            EXPECT_TRUE(QTest::qWaitFor([&] { return window->panel() != nullptr; }, 3000)) << tc.free;
            window->panelEnded(0, QString());
        }
        bridge.recoveryState = 0;
    }
    // The alternate button of the no-space sheet starts anyway.
    freeBytes = 10;
    window->recovrtyButtonClick();
    window->panelEnded(1, "/dest");
    window->answerSheet(ZRDeletailWindowController::kSheetAlternate);
    EXPECT_EQ(bridge.Count("DoRecovery"), 1);
    EXPECT_EQ(bridge.recFolder, "/dest");
}

TEST_F(ResultsRecovery, UnwritableFolderEndsTheRequest)
{
    writable = false;
    window->recovrtyButtonClick();
    window->panelEnded(1, "/dest");
    ASSERT_EQ(window->currentSheetKind(), ZRDeletailWindowController::SheetKind::NoAccess);
    EXPECT_EQ(window->currentSheet()->buttons().size(), 1);
    window->answerSheet(ZRDeletailWindowController::kSheetDefault);
    EXPECT_EQ(bridge.Count("DoRecovery"), 0);
    EXPECT_TRUE(RecoverButtonOn());
}

TEST_F(ResultsRecovery, SameDeviceAskAgainOrStartWithoutTheSpaceCheck)
{
    bridge.sameDevice = true;
    freeBytes = 0;
    CheckHundredBytes();
    window->recovrtyButtonClick();
    window->panelEnded(1, "/same");
    ASSERT_EQ(window->currentSheetKind(), ZRDeletailWindowController::SheetKind::SameDevice);
    window->answerSheet(ZRDeletailWindowController::kSheetDefault);
    EXPECT_EQ(window->panel(), nullptr);
    EXPECT_TRUE(RecoverButtonOn());
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->panel() != nullptr; }, 2000));
    EXPECT_FALSE(RecoverButtonOn());
    window->panelEnded(1, "/same");
    window->answerSheet(ZRDeletailWindowController::kSheetAlternate);
    EXPECT_EQ(bridge.Count("DoRecovery"), 1);
    EXPECT_EQ(window->currentSheet(), nullptr);
}

TEST_F(ResultsRecovery, ProgressWindowFollowsTheRecoveryAndTheEndIsHandledOnce)
{
    window->recovrtyButtonClick();
    window->panelEnded(1, "/dest");
    ASSERT_EQ(bridge.Count("DoRecovery"), 1);
    bridge.recTotal = 200;
    double seen = -1;
    bool full = false;
    QTimer::singleShot(50, [&] {
        bridge.recDone = 50;
        bridge.recName = "a.jpg";
        ResultsFakeBridge::PostRecovery();
        if (auto* progress = window->recoveryProgressWindow())
            seen = progress->progressValue();
    });
    QTimer::singleShot(100, [&] {
        bridge.recError = 7;  // the destination is full: the engine paused itself
        ResultsFakeBridge::PostRecovery();
        if (auto* progress = window->recoveryProgressWindow())
            full = progress->noMemeryView() && !progress->noMemeryView()->isHidden();
        bridge.recError = 0;
    });
    QTimer::singleShot(150, [&] {
        bridge.recoveryState = 0;
        bridge.recDone = 200;
        ResultsFakeBridge::PostRecovery();
    });
    // The first notification runs the progress window until the end.
    ResultsFakeBridge::PostRecovery();
    EXPECT_DOUBLE_EQ(seen, 25.0);
    EXPECT_TRUE(full);
    EXPECT_EQ(window->recoveryProgressWindow(), nullptr);
    EXPECT_EQ(window->isFinishRecovery(), 1);
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0], "/dest");
    ResultsFakeBridge::PostRecovery();
    EXPECT_EQ(finished.size(), 1u);
    EXPECT_TRUE(stopped.empty());
}

TEST_F(ResultsRecovery, StoppingFromTheProgressWindowOpensOnlyTheStoppedWindow)
{
    window->recovrtyButtonClick();
    window->panelEnded(1, "/dest");
    bridge.recFiles = 3;
    QTimer::singleShot(50, [&] {
        auto* progress = window->recoveryProgressWindow();
        ASSERT_NE(progress, nullptr);
        progress->stopProgressButtonAction();  // pauses and asks
        EXPECT_EQ(bridge.recoveryState, 3);
        progress->noButtonAction();  // goes on
        EXPECT_EQ(bridge.recoveryState, 2);
        progress->stopProgressButtonAction();
        progress->yesButtonAction();  // stops
    });
    ResultsFakeBridge::PostRecovery();
    EXPECT_EQ(bridge.Count("StopRecvoery"), 1);
    EXPECT_EQ(window->recoveryProgressWindow(), nullptr);
    ASSERT_EQ(stopped.size(), 1u);
    EXPECT_DOUBLE_EQ(stoppedFiles, 3.0);
    ResultsFakeBridge::PostRecovery();
    EXPECT_TRUE(finished.empty());
    EXPECT_EQ(window->isRecoveryEndSHowWindow(), 0);
}

TEST_F(ResultsRecovery, ARecoveryEndedBeforeItsFirstNotificationGetsNoProgressWindow)
{
    window->recovrtyButtonClick();
    window->panelEnded(1, "/dest");
    bridge.recoveryState = 0;
    ResultsFakeBridge::PostRecovery();
    EXPECT_EQ(window->recoveryProgressWindow(), nullptr);
    EXPECT_EQ(finished.size(), 1u);
}

}  // namespace

// ---- what the window draws ----------------------------------------------------
// Rendered checks on the window's own widgets with the shipped pictures and
// texts: the ground and the ink of what shows, not the widgets' state.

namespace {

class ResultsDrawing : public ResultsWindow {
protected:
    void UseResources() override
    {
        Bundle::SetResourcePath(QStringLiteral(VANTREL_SOURCE_RESOURCES));
        Bundle::SetLanguage("en");
    }
    // A scan that ends with the given totals, in the shown window.
    void ShowResult(uint64_t totalSize = 7400, uint64_t totalCount = 4)
    {
        window->showWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window->window()));
        StartScan();
        EndScan();
        bridge.totalSize = totalSize;
        bridge.totalCount = totalCount;
        window->setFoundAllFiles();
        QCoreApplication::processEvents();
    }
    QImage Shot(const char* name)
    {
        QCoreApplication::processEvents();
        QImage picture = window->window()->grab().toImage();
        KeepShot(picture, name);
        return picture;
    }
    DrawnArea In(const QImage& picture, const QWidget* widget, const QRect& part = QRect())
    {
        return ExamineInWindow(picture, window->window(), widget, part);
    }
    // The last few points of a list header's section, where a sort
    // indicator goes.
    QRect IndicatorPlace(CustomTableView* list, const char* column)
    {
        ZRTableHeaderView* header = list->headerView();
        const int index = list->columnWithIdentifier(QString::fromLatin1(column));
        const int right = header->sectionViewportPosition(index) + header->sectionSize(index);
        const QRect place(right - 18, 3, 16, header->height() - 6);
        return QRect(header->viewport()->mapTo(window->window(), place.topLeft()), place.size());
    }
    void ClickTreeRow(OpNodeData* item)
    {
        const int row = window->outlineView->rowForItem(item);
        ASSERT_GE(row, 0);
        const QRect rect = window->outlineView->rectOfRow(row);
        QTest::mouseClick(window->outlineView->viewport(), Qt::LeftButton, {}, QPoint(rect.right() - 20, rect.center().y()));
        QCoreApplication::processEvents();
    }
};

constexpr double kReadable = 4.5;

}  // namespace

// Each tree's tab wears the active box while its tree shows, also after a
// click into the tree took the focus; every tab title reads on its ground,
// and of the two time tabs the chosen one stands out from the other.
TEST_F(ResultsDrawing, TreeTabsShowWhichTreeIsActive)
{
    ShowResult();
    struct Case {
        const char* name;
        void (ZRDeletailWindowController::*open)();
        QAbstractButton* ZRDeletailWindowController::*active;
    };
    const Case cases[] = {
        {"path", &ZRDeletailWindowController::pathButtonClick, &ZRDeletailWindowController::pathButton},
        {"type", &ZRDeletailWindowController::typeButtonClick, &ZRDeletailWindowController::typeButton},
        {"time", &ZRDeletailWindowController::timeButtonClick, &ZRDeletailWindowController::timeButton},
        {"path-again", &ZRDeletailWindowController::pathButtonClick, &ZRDeletailWindowController::pathButton},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        (window.get()->*c.open)();
        for (bool clicked : {false, true}) {
            SCOPED_TRACE(clicked ? "after a click into the tree" : "as opened");
            if (clicked) {
                // The first node of the tree (the time trees are empty here:
                // a click into the empty tree).
                CustemOutlineView* tree = window->outlineView->isVisible() ? window->outlineView : window->timeOutlineView;
                if (tree->numberOfRows() > 0)
                    ClickTreeRow(window->outlineViewChildOfItem(0, nullptr));
                else
                    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
            }
            const QImage picture = Shot((std::string("tabs-") + c.name + (clicked ? "-clicked" : "")).c_str());
            QAbstractButton* active = window.get()->*c.active;
            const DrawnArea shown = In(picture, active);
            EXPECT_GE(shown.contrast, kReadable) << shown;
            for (QAbstractButton* tab : {window->pathButton, window->typeButton, window->timeButton}) {
                if (tab == active)
                    continue;
                const DrawnArea other = In(picture, tab);
                EXPECT_GE(other.contrast, kReadable) << tab->objectName().toStdString() << ": " << other;
                EXPECT_GE(ContrastRatio(shown.ground, other.ground), 1.3)
                    << "the active tab's box stands out from " << tab->objectName().toStdString();
            }
        }
    }

    // The time tree's own tabs: both titles read; the chosen one is white.
    for (bool modified : {false, true}) {
        SCOPED_TRACE(modified ? "modified" : "created");
        modified ? window->modifyTimeButtonClick() : window->timeButtonClick();
        const QImage picture = Shot(modified ? "time-tabs-modified" : "time-tabs-created");
        QAbstractButton* chosen = modified ? window->modifyButton : window->creatButton;
        QAbstractButton* other = modified ? window->creatButton : window->modifyButton;
        const DrawnArea chosenArea = In(picture, chosen), otherArea = In(picture, other);
        EXPECT_GE(chosenArea.contrast, kReadable) << chosenArea;
        EXPECT_GE(otherArea.contrast, kReadable) << otherArea;
        EXPECT_EQ(chosenArea.ink, QColor(Qt::white)) << chosenArea;
        EXPECT_GT(Luminance(chosenArea.ink), Luminance(otherArea.ink));
    }
}

// A sort click puts the direction's indicator on the clicked column's
// header, the other direction draws the other indicator, and choosing a tree
// node takes it away.
TEST_F(ResultsDrawing, SortedColumnHeaderShowsItsIndicator)
{
    ShowResult();
    const DrawnArea unsorted = Examine(Shot("header-unsorted"), IndicatorPlace(window->tableView, "Size"));
    EXPECT_EQ(unsorted.inked, 0) << unsorted;

    QImage pictures[2];
    for (int click = 0; click < 2; ++click) {
        SCOPED_TRACE(click == 0 ? "descending" : "ascending");
        window->tableViewDidClickTableColumn("Size");
        const QImage picture = Shot(click == 0 ? "header-descending" : "header-ascending");
        const QRect place = IndicatorPlace(window->tableView, "Size");
        const DrawnArea shown = Examine(picture, place);
        EXPECT_GE(shown.contrast, 3.0) << shown;
        EXPECT_GT(shown.inked, 10) << shown;
        pictures[click] = picture.copy(place);
        // No other column carries one.
        EXPECT_EQ(Examine(picture, IndicatorPlace(window->tableView, "Path")).inked, 0);
    }
    EXPECT_NE(pictures[0], pictures[1]) << "both directions draw the same indicator";

    ClickTreeRow(volItem.get());
    const DrawnArea cleared = Examine(Shot("header-after-node"), IndicatorPlace(window->tableView, "Size"));
    EXPECT_EQ(cleared.inked, 0) << cleared;
}

// At every width down to the smallest the window allows, the title image
// lies whole inside the title bar and shows, and the totals line of a large
// result reads whole inside the progress panel, clear of its edges.
TEST_F(ResultsDrawing, TitleImageAndTotalsLineStayWholeDownToTheMinimumSize)
{
    ShowResult(1099500000000ull, 9999999);  // "1023.99 GB in 9999999 files"
    window->showRecoveryButton();
    QWidget* w = window->window();
    const QSize minimum = w->minimumSize();
    ASSERT_GT(minimum.width(), 0);
    ASSERT_GT(minimum.height(), 0);
    w->resize(minimum - QSize(200, 200));
    QCoreApplication::processEvents();
    EXPECT_EQ(w->size(), minimum) << "the window goes below its minimum size";
    EXPECT_TRUE(window->selectFilesLabel->text().contains("9999999")) << window->selectFilesLabel->text().toStdString();

    for (int width : {minimum.width(), 1000, 1400}) {
        SCOPED_TRACE(width);
        w->resize(std::max(width, minimum.width()), 640);
        QCoreApplication::processEvents();
        window->windowDidResize();
        const QImage picture = Shot(("title-bar-" + std::to_string(width)).c_str());

        EXPECT_TRUE(window->titleBarView->rect().contains(window->titleImage->geometry()))
            << "title image at " << window->titleImage->geometry().y() << " of a bar "
            << window->titleBarView->height() << " high";
        const DrawnArea logo = In(picture, window->titleImage);
        EXPECT_GT(logo.inked, 20) << logo;

        QLabel* line = window->selectFilesLabel;
        ASSERT_TRUE(Visible(line));
        const QString text = line->text();
        const QRect drawn = TextRect(line);
        const QRect inPanel(line->mapTo(window->subBox, drawn.topLeft()), drawn.size());
        EXPECT_TRUE(window->subBox->rect().contains(inPanel))
            << text.toStdString() << " drawn from " << inPanel.left() << " to " << inPanel.right() << " in a panel "
            << window->subBox->width() << " wide";
        const DrawnArea totals = Examine(picture, QRect(line->mapTo(w, drawn.topLeft()), drawn.size()));
        EXPECT_GE(totals.contrast, kReadable) << totals;
    }
}

// The deep-scan offer's text reads light on the pop-over's dark ground and
// every line of it shows.
TEST_F(ResultsDrawing, DeepScanOfferTextReadsWhole)
{
    ShowResult();
    ASSERT_NE(window->attachedWindow, nullptr);
    QLabel* text = window->attachedWindow->findChild<QLabel*>();
    ASSERT_NE(text, nullptr);
    EXPECT_FALSE(text->text().trimmed().isEmpty());
    EXPECT_LE(text->heightForWidth(text->width()), text->height()) << text->text().toStdString();
    EXPECT_TRUE(text->parentWidget()->rect().contains(text->geometry()));
    QCoreApplication::processEvents();
    const QImage picture = window->attachedWindow->grab().toImage();
    KeepShot(picture, "deep-scan-offer");
    const DrawnArea shown =
        Examine(picture, QRect(text->mapTo(window->attachedWindow, QPoint()), text->size()));
    EXPECT_GE(shown.contrast, kReadable) << shown;
}
