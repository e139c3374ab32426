// The results window over the real engine: a FAT volume image on a fake
// machine, scanned through the facade with the event loop turning. The
// window's progress texts, trees, list, search and check boxes must show
// what the image holds, and the image must stay unchanged.
#include <QAbstractButton>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "BridgeTestSupport.h"
#include "BundleResources.h"
#include "BridgeUtil.h"
#include "DirectoryTreeBuilder.h"
#include "EnumDevice.h"
#include "EnumTestSupport.h"
#include "FacadeTestSupport.h"
#include "ResultsTestSupport.h"
#include "ZRDeletailCoverFlow.h"
#include "ZRDeletailWindowController.h"
#include "ZRProgressView.h"
#include "TestSupport.h"
#include "ZRUIController.h"

namespace {

constexpr int kScanWaitMs = 120000;

class ResultsOnImage : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseResultsTestResources();
        EnsureFacadeMachine();
        m_digest = FileDigest(BridgeImage("vol.img"));
        volume = FindDevice("BRIDGEVOL");
        ASSERT_NE(volume, nullptr);
        window = std::make_unique<ZRDeletailWindowController>();
        window->setSelectDiskVolumeData(volume.get());
        window->showWindow();
    }
    void TearDown() override
    {
        // Let a scan the test left behind end before the next one starts.
        if (ZRUIController::IsScanRunning()) {
            ZRUIController::StopScan(1);
            EXPECT_TRUE(QTest::qWaitFor([] { return !ZRUIController::IsScanRunning(); }, kScanWaitMs));
        }
        window.reset();
        ZRUIController::SetViewType(0);
        EXPECT_EQ(FileDigest(BridgeImage("vol.img")), m_digest);
    }
    static bool Visible(QWidget* w) { return w && !w->isHidden(); }
    bool WaitForResultState()
    {
        return QTest::qWaitFor(
            [&] { return !ZRUIController::IsScanRunning() && Visible(window->recovertyButton); }, kScanWaitMs);
    }
    std::map<QString, FileNodeValue> ListByName() const
    {
        std::map<QString, FileNodeValue> out;
        for (size_t i = 0; i < window->arrList().size(); ++i)
            out[window->tableViewObjectValue("Name", static_cast<int>(i))] = window->arrList()[i];
        return out;
    }
    OpNodeData* ChildNamed(OpNodeData* parent, const QString& prefix)
    {
        const int n = window->outlineViewNumberOfChildrenOfItem(parent);
        for (int i = 0; i < n; ++i) {
            OpNodeData* child = window->outlineViewChildOfItem(i, parent);
            if (child && window->outlineViewTreeLabel(child).startsWith(prefix))
                return child;
        }
        return nullptr;
    }

    std::string m_digest;
    DiskVolumeNodeDataPtr volume;
    std::unique_ptr<ZRDeletailWindowController> window;
};

TEST_F(ResultsOnImage, QuickScanShowsTreesListSearchAndChecks)
{
    window->getData();
    EXPECT_TRUE(ZRUIController::IsScanRunning());
    ASSERT_TRUE(WaitForResultState());
    const quint64 total = 3000u + 2500 + 200000 + 1800 + 1200 + 700;
    const QString totalText = QString::fromStdString(ZRPublicUtilities::longlongConvertVolSpace(total));
    EXPECT_EQ(window->findFilesLabel->text(), "6 files found");
    EXPECT_EQ(window->selectFilesLabel->text(), "All: " + totalText + " in 6 files");
    EXPECT_FLOAT_EQ(window->progressValue(), 100.0f);
    EXPECT_TRUE(Visible(window->continueButton));  // a quick scan of a device offers the deep scan
    EXPECT_TRUE(Visible(window->exportButton));

    // Path tree: one file-system root, selected, with docs as its folder.
    ASSERT_EQ(window->allDiskArr().size(), 1u);
    OpNodeData* root = window->allDiskArr()[0].get();
    EXPECT_EQ(window->opDataFile(), root);
    OpNodeData* docs = ChildNamed(root, "docs");
    ASSERT_NE(docs, nullptr);
    EXPECT_EQ(window->outlineViewNumberOfChildrenOfItem(docs), 0);
    auto list = ListByName();
    // The root's files (its folder stays in the tree).
    for (const char* name : {"photo.jpg", "song.mp3", "clip.mp4"})
        EXPECT_EQ(list.count(name), 1u) << name;
    EXPECT_EQ(list.size(), 4u);
    int deleted = 0;
    for (size_t i = 0; i < window->arrList().size(); ++i) {
        const QString name = window->tableViewObjectValue("Name", static_cast<int>(i));
        // A deleted FAT entry has lost its first letter.
        const bool gone = name.endsWith("one.txt");
        deleted += gone ? 1 : 0;
        EXPECT_EQ(window->tableViewRowIsDeleted(static_cast<int>(i)), gone) << name.toStdString();
        if (name == "photo.jpg") {
            EXPECT_EQ(window->tableViewObjectValue("Size", static_cast<int>(i)), "2.93 KB");
            EXPECT_TRUE(window->tableViewObjectValue("Path", static_cast<int>(i)).endsWith("/photo.jpg"));
        }
    }
    EXPECT_EQ(deleted, 1);
    // The folder's files after selecting it.
    ASSERT_TRUE(window->outlineViewShouldSelectItem(docs, 0));
    list = ListByName();
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(list.count("report.pdf"), 1u);
    EXPECT_EQ(list.count("data.bin"), 1u);

    // Type tree: groups with their counts.
    window->typeButtonClick();
    ASSERT_FALSE(window->allTypeArr().empty());
    QStringList groups;
    for (const OpNodeDataPtr& group : window->allTypeArr())
        groups << window->outlineViewTreeLabel(group.get());
    EXPECT_TRUE(groups.join(",").contains("(")) << groups.join(",").toStdString();

    // Modification-time tree: one root, the year 2021 and month 03 with all
    // six files.
    window->timeButtonClick();
    window->modifyTimeButtonClick();
    ASSERT_EQ(window->allModifyTimeArr().size(), 1u);
    OpNodeData* timeRoot = window->allModifyTimeArr()[0].get();
    EXPECT_TRUE(window->outlineViewTreeLabel(timeRoot).endsWith("(6)"));
    OpNodeData* year = ChildNamed(timeRoot, "2021");
    ASSERT_NE(year, nullptr);
    OpNodeData* month = ChildNamed(year, "03");
    ASSERT_NE(month, nullptr);
    EXPECT_EQ(window->outlineViewTreeLabel(month), "03(6)");
    ASSERT_TRUE(window->outlineViewShouldSelectItem(month, 0));
    EXPECT_EQ(window->arrList().size(), 6u);

    // Tri-state: one file checked shows the totals and a mixed select-all;
    // select-all then checks every file of the month.
    window->nsbuttonCellClick(0);
    EXPECT_EQ(window->selectedFileCnt(), 1u);
    EXPECT_TRUE(window->recovertyButton->isEnabled());
    EXPECT_EQ(window->selectAllButtonImage(), "checkbox_election");
    window->setAllSelectOrNoSelect();
    EXPECT_EQ(window->selectedFileCnt(), 6u);
    EXPECT_EQ(window->selectedFileSize(), total);
    EXPECT_EQ(window->selectFilesLabel->text(), "Selected: " + totalText + ", 6 files");
    EXPECT_EQ(window->selectAllButtonImage(), "checkbox_yes");
    EXPECT_EQ(month->state(), 2);
    EXPECT_EQ(timeRoot->state(), 2);
    window->setAllSelectOrNoSelect();
    EXPECT_EQ(window->selectedFileCnt(), 0u);
    EXPECT_FALSE(window->recovertyButton->isEnabled());

    // Search: the key narrows the list to the matching file and unchecks all.
    window->pathButtonClick();
    window->nsbuttonCellClick(0);
    window->search->textField()->setText("photo");
    window->doSearch();
    EXPECT_EQ(window->selectedFileCnt(), 0u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ListByName().count("photo.jpg") == 1; }, 20000));
    EXPECT_EQ(ListByName().size(), 1u);
    EXPECT_FALSE(window->allDiskArr().empty());
    // The restarted search (same key) ends too; clearing brings no hits.
    QTest::qWait(300);
    window->searchClearButtonClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ZRUIController::GetSearchString().isEmpty(); }, 20000));
    QTest::qWait(300);
    EXPECT_TRUE(window->arrList().empty());
}

TEST_F(ResultsOnImage, PauseResumeAndAConfirmedStopReachTheResultState)
{
    window->getData();
    window->pauseButtonClick();
    if (ZRUIController::IsPause()) {
        EXPECT_EQ(window->isPause(), 1);
        EXPECT_TRUE(Visible(window->continueScanButton));
        EXPECT_TRUE(window->search->textField()->isEnabled());
        QTest::qWait(300);
        EXPECT_TRUE(ZRUIController::IsScanRunning());  // a paused scan does not end
        window->pauseButtonClick();
        EXPECT_EQ(window->isPause(), 0);
        EXPECT_FALSE(ZRUIController::IsPause());
    }
    if (ZRUIController::IsScanRunning()) {
        window->stopButtonClick();
        if (window->currentSheet()) {
            window->answerSheet(ZRDeletailWindowController::kSheetDefault);
            EXPECT_FALSE(window->stopButton->isEnabled());
        }
    }
    ASSERT_TRUE(WaitForResultState());
    EXPECT_EQ(window->isCanClick(), 1);
    // Whatever the scan found before it stopped is what the window counts.
    uint64_t found = 0;
    double percent = 0;
    window->bridge().GetScanProgress(percent, found);
    EXPECT_EQ(window->findFilesLabel->text(), QString("%1 files found").arg(found));
    EXPECT_EQ(window->allDiskArr().empty(), found == 0);
}

TEST_F(ResultsOnImage, DeepScanAfterTheQuickScan)
{
    window->getData();
    ASSERT_TRUE(WaitForResultState());
    // The quick scan's watcher thread polls every 0.1 s before it notices
    // the end; the deep scan starts once it has.
    QTest::qWait(500);
    window->deepSrcanButtonAction();
    EXPECT_EQ(window->attachedWindow, nullptr);
    EXPECT_TRUE(window->allDiskArr().empty());
    ASSERT_TRUE(QTest::qWaitFor([] { return ZRUIController::IsScanRunning(); }, 5000));
    ASSERT_TRUE(WaitForResultState());
    EXPECT_EQ(window->isDeepScan(), 1);
    EXPECT_FALSE(Visible(window->continueButton));
    EXPECT_TRUE(Visible(window->exportButton));
    EXPECT_FALSE(window->allDiskArr().empty());
    uint64_t found = 0;
    double percent = 0;
    window->bridge().GetScanProgress(percent, found);
    EXPECT_EQ(window->findFilesLabel->text(), QString("%1 files found").arg(found));
}

TEST_F(ResultsOnImage, RecoveryOfCheckedFilesCopiesTheirBytes)
{
    window->getData();
    ASSERT_TRUE(WaitForResultState());
    // photo.jpg from the root's list, data.bin from the docs folder's.
    auto checkByName = [&](const QString& name) {
        for (size_t i = 0; i < window->arrList().size(); ++i)
            if (window->tableViewObjectValue("Name", static_cast<int>(i)) == name)
                window->nsbuttonCellClick(static_cast<int>(i));
    };
    checkByName("photo.jpg");
    OpNodeData* docs = ChildNamed(window->allDiskArr()[0].get(), "docs");
    ASSERT_NE(docs, nullptr);
    ASSERT_TRUE(window->outlineViewShouldSelectItem(docs, 0));
    checkByName("data.bin");
    EXPECT_EQ(window->selectedFileCnt(), 2u);
    EXPECT_EQ(window->selectedFileSize(), 4200u);

    TempDir dest;
    int finished = 0;
    window->runRecoveryEndWindow = [&](const QString& folder) {
        EXPECT_EQ(folder.toStdString(), dest.path());
        ++finished;
    };
    window->recovrtyButtonClick();
    window->panelEnded(1, QString::fromStdString(dest.path()));
    EXPECT_EQ(window->currentSheet(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished == 1; }, 60000));
    EXPECT_EQ(window->recoveryProgressWindow(), nullptr);
    std::map<std::string, std::string> out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dest.path()))
        if (entry.is_regular_file())
            out[entry.path().filename().string()] = entry.path().string();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(ReadFileBytes(out["photo.jpg"]), ReadFileBytes(BridgeImage("src/photo.jpg")));
    EXPECT_EQ(ReadFileBytes(out["data.bin"]), ReadFileBytes(BridgeImage("src/docs/data.bin")));
    ZRUIController::UnselectedAllNodes();
}

TEST_F(ResultsOnImage, CoverFlowAndGridShowTheListsFiles)
{
    window->getData();
    ASSERT_TRUE(WaitForResultState());
    ASSERT_EQ(window->arrList().size(), 4u);
    ZRDeletailCoverFlow* pictures = window->coverFlow();
    ASSERT_NE(pictures, nullptr);

    window->segmentSelect(ZRDeletailWindowController::kViewCoverFlow);
    EXPECT_TRUE(Visible(window->coverFlower));
    EXPECT_FALSE(Visible(window->tableScrollView));
    EXPECT_EQ(pictures->photoCount(), 4u);
    // Previews load in the background meanwhile; the switch stops them.
    QTest::qWait(300);

    window->segmentSelect(ZRDeletailWindowController::kViewGrid);
    EXPECT_TRUE(Visible(window->gridView));
    EXPECT_FALSE(Visible(window->coverFlower));
    EXPECT_EQ(pictures->numberOfItemsInSection(pictures->gridMainView(), 0), 4);
    // A tile's check box checks the file like the list's.
    window->doSelectItem(0);
    EXPECT_EQ(window->selectedFileCnt(), 1u);

    window->segmentSelect(ZRDeletailWindowController::kViewList);
    EXPECT_TRUE(Visible(window->tableScrollView));
    EXPECT_FALSE(Visible(window->gridView));
    ZRUIController::UnselectedAllNodes();
}

}  // namespace

// A disk with one partition that was never formatted: whether the volume or
// the whole disk is scanned, the totals line says that no file system was
// known instead of a bare "0 byte in 0 files". The machine is this test's
// own, so the facade machine's device list stays as the other tests know it.
TEST(ResultsOnUnformattedDisk, TotalsSayThatNoFileSystemWasFound)
{
    // The program's own texts: the line must read whole in its place.
    Bundle::SetResourcePath(QStringLiteral(VANTREL_SOURCE_RESOURCES));
    Bundle::SetLanguage("en");
    TempDir dir;
    const std::string disk = dir / "blank.img";
    const std::string part = dir / "blank-p1.img";
    RunTool("truncate -s 16M '" + disk + "' && printf 'label: dos\\nlabel-id: 0x5eed0022\\nstart=2048, type=83\\n' | "
            "sfdisk -q '" + disk + "' && dd if='" + disk + "' of='" + part +
            "' bs=512 skip=2048 status=none conv=sparse");
    ASSERT_EQ(std::filesystem::file_size(part), (32768u - 2048u) * 512u);
    const std::string before = FileDigest(disk);

    FakeSys sys(dir / "machine");
    FakeSys::Disk sdx;
    sdx.name = "sdx";
    sdx.dev = "8:96";
    sdx.busPath = "pci0000:00/0000:00:1f.2/ata3/host2/target2:0:0/2:0:0:0/block";
    sdx.size512 = 32768;
    sdx.image = disk;
    sdx.vendor = "ATA";
    sdx.model = "Blank Disk";
    sys.AddDisk(sdx);
    sys.AddPartition({"sdx", "sdx1", "8:97", 1, 2048, 32768 - 2048, part});
    CEnumDeviceEx enumerator(sys.Platform());
    // The devices listed here go with this test: the shared ones come back
    // before they go.
    struct SharedDevicesBack {
        ~SharedDevicesBack() { ReinstallFacadeMachineDevices(); }
    } sharedDevicesBack;
    CDirectoryTreeBuilder::SetDefaultFirstBatchPause(std::chrono::milliseconds(0));
    UseEnumerator(&enumerator);
    ZRUIController::initFileType();
    ZRUIController::SetRecoveryType(127);
    BridgeListener listener;
    ZRUIController::NotifiyDeviceInfoAfterInit("aInitFinished");
    ASSERT_TRUE(QTest::qWaitFor([&] { return listener.Count("aInitFinished") >= 1; }, kScanWaitMs));
    DiskVolumeNodeArray devices;
    ZRUIController::GetDeviceInfoToArray(&devices);
    ASSERT_EQ(devices.size(), 1u);
    DiskVolumeNodeDataPtr whole = devices[0];
    ASSERT_EQ(whole->numberOfChildren(), 1);
    // A plain disk on a SATA controller is no disk image.
    EXPECT_EQ(whole->isDmg(), 0);
    EXPECT_EQ(ZRPublicUtilities::fileSystemTypeForInt(whole->fileSystem(), whole->isDmg()), "Disk");
    EXPECT_EQ(whole->childAtIndex(0)->fileSystem(), 10);

    for (DiskVolumeNodeData* scanned : {whole->childAtIndex(0), whole.get()}) {
        SCOPED_TRACE(scanned->name().toStdString());
        auto window = std::make_unique<ZRDeletailWindowController>();
        window->setSelectDiskVolumeData(scanned);
        window->showWindow();
        window->getData();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return !ZRUIController::IsScanRunning() && !window->recovertyButton->isHidden(); }, kScanWaitMs));
        QLabel* totals = window->selectFilesLabel;
        EXPECT_EQ(totals->text(), "No known file system was found. 0 byte in 0 files");
        EXPECT_LE(totals->fontMetrics().horizontalAdvance(totals->text()), totals->width());
        window.reset();
    }
    EXPECT_EQ(FileDigest(disk), before);
}

// A whole disk has no name of its own to give its trees: the FAT tree of a
// deep scan of the whole disk takes its volume's label, as the quick scan's
// does, not "Disk".
TEST(ResultsOnWholeImage, DeepScanNamesTheFatTreeByTheVolumeLabel)
{
    UseResultsTestResources();
    EnsureFacadeMachine();
    const std::string before = FileDigest(BridgeImage("vol.img"));
    DiskVolumeNodeDataPtr disk = FindDevice("vol.img");
    ASSERT_NE(disk, nullptr);
    auto window = std::make_unique<ZRDeletailWindowController>();
    window->setSelectDiskVolumeData(disk.get());
    window->showWindow();
    auto waitForResult = [&] {
        return QTest::qWaitFor(
            [&] { return !ZRUIController::IsScanRunning() && !window->recovertyButton->isHidden(); }, kScanWaitMs);
    };
    auto rootLabels = [&] {
        QStringList labels;
        for (const OpNodeDataPtr& root : window->allDiskArr())
            labels << window->outlineViewTreeLabel(root.get());
        return labels.join(",");
    };
    window->getData();
    ASSERT_TRUE(waitForResult());
    EXPECT_TRUE(rootLabels().startsWith("BRIDGEVOL(FAT/FAT32)")) << rootLabels().toStdString();
    QTest::qWait(500);
    window->deepSrcanButtonAction();
    ASSERT_TRUE(QTest::qWaitFor([] { return ZRUIController::IsScanRunning(); }, 5000));
    ASSERT_TRUE(waitForResult());
    EXPECT_EQ(window->isDeepScan(), 1);
    EXPECT_TRUE(rootLabels().contains("BRIDGEVOL(FAT/FAT32)")) << rootLabels().toStdString();
    EXPECT_FALSE(rootLabels().contains("Disk(FAT/FAT32)")) << rootLabels().toStdString();
    window.reset();
    EXPECT_EQ(FileDigest(BridgeImage("vol.img")), before);
}
