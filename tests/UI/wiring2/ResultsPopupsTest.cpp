// The results window with its pop-up windows over the real engine: a FAT
// volume image on a fake machine is scanned through the facade; a recovery
// ends in the finished or the stopped-early window, the save button writes a
// scan result that loads back, and the deep-scan offer closes through the
// window. The pop-up windows run modally, so a timer acts inside them.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sys/mount.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>

#include "BridgeTestSupport.h"
#include "BundleResources.h"
#include "FacadeTestSupport.h"
#include "MAAttachedWindow.h"
#include "OpenPopup.h"
#include "TCImageButton.h"
#include "TCImageWindow.h"
#include "TestSupport.h"
#include "ZRDeepScanViewController.h"
#include "ZRDeletailWindowController.h"
#include "ZRProgressWindow.h"
#include "ZRScanEndSaveWindowController.h"
#include "ZRScanNotEndSaveWindowController.h"
#include "ZRShowScanProgressWindowController.h"
#include "ZRUIController.h"

namespace {

constexpr int kScanWaitMs = 120000;

// The string table the texts are checked against and a settings file (the
// save folder is only stored into readable settings).
void UseWiringResources()
{
    static TempDir dir;
    static bool made = false;
    if (!made) {
        made = true;
        QDir().mkpath(QString::fromStdString(dir / "en.lproj"));
        QFile strings(QString::fromStdString(dir / "en.lproj/Localizable.strings"));
        if (strings.open(QIODevice::WriteOnly))
            strings.write("\"PAGE_FOUR_FILESFOUND\" = \"%lld files found\";\n"
                          "\"PAGE_FOUR_RECOVER_NOTEND_NODE\" = \"%.0f files were recovered.\";\n"
                          "\"PAGE_FOUR_DEEPSCAN_NODE\" = \"A deep scan finds more.\";\n"
                          "\"PAGE_FOUR_RECOVERY_NO_SPACE_TITLE\" = \"Destination full\";\n"
                          "\"PAGE_FOUR_RECOVERY_NO_SPACE_NODE\" = \"Make room.\";\n"
                          "\"PAGE_FOUR_RECOVERY_NO_SPACE_NO_BUTTON\" = \"Go on\";\n"
                          "\"PAGE_FOUR_RECOVERY_STOP_YES_BUTTON\" = \"Stop\";\n");
    }
    Bundle::SetResourcePath(QString::fromStdString(dir.path()));
    Bundle::SetLanguage("en");
    QFile settings(Bundle::SettingsPath());
    if (settings.open(QIODevice::WriteOnly))
        settings.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                       "<key>FristTime</key><string>NO</string></dict></plist>\n");
}

// Calls step every 20 ms from the event loop (also inside modal sessions)
// for as long as the object lives.
class Watcher {
public:
    explicit Watcher(std::function<void()> step)
    {
        QObject::connect(&m_timer, &QTimer::timeout, std::move(step));
        m_timer.start(20);
    }

private:
    QTimer m_timer;
};

class ResultsWithPopups : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseWiringResources();
        EnsureFacadeMachine();
        m_digest = FileDigest(ImagePath());
        volume = FindDevice(VolumeName());
        ASSERT_NE(volume, nullptr);
        window = std::make_unique<ZRDeletailWindowController>();
        window->setSelectDiskVolumeData(volume.get());
        window->showWindow();
        window->getData();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return !ZRUIController::IsScanRunning() && window->recovertyButton &&
                       !window->recovertyButton->isHidden();
            },
            kScanWaitMs));
    }
    void TearDown() override
    {
        if (ZRUIController::IsRecoveryRunning()) {
            ZRUIController::StopRecvoery();
            EXPECT_TRUE(QTest::qWaitFor([] { return !ZRUIController::IsRecoveryRunning(); }, kScanWaitMs));
        }
        ZRUIController::UnselectedAllNodes();
        window.reset();
        ZRUIController::SetViewType(0);
        EXPECT_EQ(FileDigest(ImagePath()), m_digest);
    }
    // The scanned volume and its image.
    virtual const char* VolumeName() const { return "BRIDGEVOL"; }
    virtual std::string ImagePath() const { return BridgeImage("vol.img"); }
    // Checks every file of the path tree's first root.
    void CheckAllFiles()
    {
        ASSERT_FALSE(window->allDiskArr().empty());
        window->clickButtonAction(window->allDiskArr()[0].get());
        ASSERT_GT(window->selectedFileCnt(), 0u);
    }

    // Saves the scan result into path through the save button, as a user
    // does; the progress window closes itself.
    void SaveThroughTheButton(const QString& path)
    {
        QApplication::setActiveWindow(window->window());
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->exportButton->isEnabled(); }, 3000));
        window->chooseSaveFile = [&](const QString&, const QString&) { return path; };
        // The result file is not on the scanned image: no same-device warning.
        window->runSaveSameDiskAlert = [] {
            ADD_FAILURE() << "same-device warning for a file off the scanned device";
            return ZRDeletailWindowController::kSheetOther;
        };
        bool progressShown = false;
        QElapsedTimer clock;
        clock.start();
        Watcher watcher([&] {
            if (auto* progress = OpenPopup<ZRProgressWindow>()) {
                progressShown = true;
                if (QMessageBox* alert = progress->failureAlert()) {
                    ADD_FAILURE() << alert->informativeText().toStdString();
                    alert->accept();
                } else if (clock.elapsed() > kScanWaitMs) {
                    progress->stopModal();
                }
            }
        });
        window->exportButton->click();
        EXPECT_TRUE(progressShown);
        EXPECT_EQ(window->bSave(), 1);
    }

    std::string m_digest;
    DiskVolumeNodeDataPtr volume;
    std::unique_ptr<ZRDeletailWindowController> window;
};

TEST_F(ResultsWithPopups, FinishedRecoveryShowsTheEndWindowWithTheDestination)
{
    CheckAllFiles();
    const uint32_t checked = window->selectedFileCnt();
    TempDir dest;
    const QString folder = QString::fromStdString(dest.path());
    int endWindows = 0, stoppedWindows = 0;
    QString shownPath, linkTip;
    bool okClosed = false;
    Watcher watcher([&] {
        if (OpenPopup<ZRScanNotEndSaveWindowController>())
            ++stoppedWindows;
        if (auto* end = OpenPopup<ZRScanEndSaveWindowController>()) {
            ++endWindows;
            shownPath = end->savePathLabel()->linkText();
            linkTip = end->savePathLabel()->toolTip();
            end->okButton()->click();
            okClosed = true;
        }
    });
    window->recovrtyButtonClick();
    window->panelEnded(1, folder);
    ASSERT_TRUE(QTest::qWaitFor([&] { return okClosed && window->recoveryEndWindowsShown() == 1; }, 60000));
    // The end window closed and left no modal session behind.
    EXPECT_TRUE(QTest::qWaitFor([] { return OpenPopup<ZRScanEndSaveWindowController>() == nullptr; }, 3000));
    EXPECT_EQ(endWindows, 1);
    EXPECT_EQ(stoppedWindows, 0);
    EXPECT_EQ(shownPath, folder);
    EXPECT_EQ(linkTip, folder);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    size_t copied = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dest.path()))
        copied += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(copied, checked);
}

TEST_F(ResultsWithPopups, StoppedRecoveryShowsTheStoppedEarlyWindowWithTheCount)
{
    CheckAllFiles();
    TempDir dest;
    const QString folder = QString::fromStdString(dest.path());
    // The real window, with the count the results window hands it kept.
    double handed = -1;
    auto realStoppedWindow = window->runRecoveryNotEndWindow;
    ASSERT_TRUE(realStoppedWindow);
    window->runRecoveryNotEndWindow = [&](double files, const QString& to) {
        handed = files;
        realStoppedWindow(files, to);
    };
    int stoppedWindows = 0, endWindows = 0;
    QString note, link;
    Watcher watcher([&] {
        if (OpenPopup<ZRScanEndSaveWindowController>())
            ++endWindows;
        if (auto* stopped = OpenPopup<ZRScanNotEndSaveWindowController>()) {
            ++stoppedWindows;
            note = stopped->showRecoveryNoteLabel()->text();
            link = stopped->savePtahStr();
            stopped->okButton()->click();
        }
    });
    window->recovrtyButtonClick();
    window->panelEnded(1, folder);
    // The progress window's stop button, answered at once.
    window->stopButtonAction(0);
    EXPECT_EQ(window->recoveryNotEndWindowsShown(), 1);
    ASSERT_EQ(stoppedWindows, 1);
    ASSERT_GE(handed, 0);
    EXPECT_EQ(note, QString("%1 files were recovered.").arg(handed, 0, 'f', 0));
    EXPECT_EQ(link, folder);
    // The engine's last "DoRecovery" after the stop brings no finished window.
    ASSERT_TRUE(QTest::qWaitFor([] { return !ZRUIController::IsRecoveryRunning(); }, kScanWaitMs));
    QTest::qWait(300);
    EXPECT_EQ(endWindows, 0);
    EXPECT_EQ(window->recoveryEndWindowsShown(), 0);
    EXPECT_EQ(OpenPopup<ZRScanNotEndSaveWindowController>(), nullptr);
}

TEST_F(ResultsWithPopups, ExportButtonSavesAResultThatLoadsBack)
{
    quint64 sizeBefore = 0, countBefore = 0;
    ZRUIController::GetScanFileSize(&sizeBefore, &countBefore);
    ASSERT_GT(countBefore, 0u);
    TempDir dir;
    const QString path = QString::fromStdString(dir.path() + "/result.rsf");

    // A cancelled panel saves nothing.
    int panels = 0;
    QString startFolder, proposedName;
    // The title bar's controls work in the main window only.
    QApplication::setActiveWindow(window->window());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->exportButton->isEnabled(); }, 3000));
    window->chooseSaveFile = [&](const QString& folder, const QString& name) {
        ++panels;
        startFolder = folder;
        proposedName = name;
        return QString();
    };
    window->exportButton->click();
    EXPECT_EQ(panels, 1);
    EXPECT_EQ(startFolder, ZRUIController::GetDefaultSavePath());
    EXPECT_TRUE(proposedName.startsWith(QStringLiteral("BRIDGEVOL")));
    EXPECT_EQ(window->bSave(), 0);
    EXPECT_TRUE(ZRUIController::GetSavePath().isNull());

    // A chosen file: the progress window follows the save and closes itself
    // (a watchdog ends it, or answers its failure alert, should it not).
    SaveThroughTheButton(path);
    EXPECT_EQ(ZRUIController::GetSavePath(), path);
    ASSERT_TRUE(std::filesystem::exists(path.toStdString()));
    EXPECT_GT(std::filesystem::file_size(path.toStdString()), 0u);

    // Loaded back as the root window loads it: the same files.
    window.reset();
    ZRUIController::RestorPostUIUpdate(QStringLiteral("NormalScranValue"), false);
    ZRUIController::beginSaveOrRestoreNode(false, path);
    ZRProgressWindow load;
    load.setStrPostName(QStringLiteral("NormalScranValue"));
    load.setBSave(false);
    load.runModal();
    ASSERT_EQ(load.getResult(), 1);
    quint64 sizeAfter = 0, countAfter = 0;
    ZRUIController::GetScanFileSize(&sizeAfter, &countAfter);
    EXPECT_EQ(countAfter, countBefore);
    EXPECT_EQ(sizeAfter, sizeBefore);
}

TEST_F(ResultsWithPopups, TheDeepScanOfferIsItsViewAndClosesThroughTheWindow)
{
    ASSERT_NE(window->attachedWindow, nullptr);
    auto* offer = qobject_cast<ZRDeepScanViewController*>(window->popView);
    ASSERT_NE(offer, nullptr);
    EXPECT_TRUE(window->attachedWindow->isAncestorOf(offer));
    EXPECT_EQ(offer->delegate(), static_cast<ZRDeepScanViewControllerDelegate*>(window.get()));
    EXPECT_EQ(offer->deepScanNodeLabel()->text(), QStringLiteral("A deep scan finds more."));
    QPointer<QWidget> carrier = window->attachedWindow;
    QPointer<QWidget> view = offer;
    // The real button, pressed as a user presses it.
    QTest::mouseClick(offer->closeButton(), Qt::LeftButton);
    EXPECT_EQ(window->attachedWindow, nullptr);
    EXPECT_EQ(window->popView, nullptr);
    EXPECT_EQ(window->isClodePopView(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return carrier.isNull() && view.isNull(); }, 3000));
}

// Quick scan, save the result, deep scan, then a click on a folder under
// "(RAW Files)" in the path tree: the click reloads the trees while the
// tree view still handles it, and the row must be found again afterwards.
// The volume with real pictures, which a deep scan carves.
class ResultsOfPictures : public ResultsWithPopups {
protected:
    const char* VolumeName() const override { return "PREVIEWS"; }
    std::string ImagePath() const override { return PreviewImage("preview.img"); }
};

TEST_F(ResultsOfPictures, AFolderUnderRawFilesIsClickedAfterASaveAndADeepScan)
{
    TempDir dir;
    SaveThroughTheButton(QString::fromStdString(dir.path() + "/result.rsf"));
    // The deep-scan button's action, which starts the deep scan in a moment.
    window->deepSrcanButtonAction();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ZRUIController::IsDeepScan(); }, kScanWaitMs));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !ZRUIController::IsScanRunning() && !window->recovertyButton->isHidden(); }, kScanWaitMs));
    ASSERT_EQ(window->selectTypeCount(), ZRDeletailWindowController::kTreePath);

    // The carved files' folder and its first sub-folder.
    OpNodeData* raw = nullptr;
    std::vector<OpNodeData*> pending;
    for (const OpNodeDataPtr& root : window->allDiskArr())
        pending.push_back(root.get());
    while (!pending.empty() && !raw) {
        OpNodeData* node = pending.back();
        pending.pop_back();
        if (node->name().contains(QStringLiteral("RAW Files")))
            raw = node;
        for (const OpNodeChild& child : node->children())
            if (child.isItem())
                pending.push_back(child.item());
    }
    ASSERT_NE(raw, nullptr) << "the deep scan carved nothing";
    for (OpNodeData* n = raw->parent(); n; n = n->parent())
        window->outlineView->expandItem(n);
    window->outlineView->expandItem(raw);
    std::vector<OpNodeData*> folders;
    for (const OpNodeChild& child : raw->children())
        if (child.isItem() && child.item()->isDirect())
            folders.push_back(child.item());
    ASSERT_FALSE(folders.empty());

    // Each folder clicked twice over, on its name (not its check box).
    for (int round = 0; round < 2; ++round)
        for (OpNodeData* folder : folders) {
            const std::string name = folder->name().toStdString();
            SCOPED_TRACE(name);
            const int row = window->outlineView->rowForItem(folder);
            ASSERT_GE(row, 0);
            const QRect cell = window->outlineView->frameOfCellAtColumn(0, row);
            ASSERT_TRUE(cell.isValid());
            QTest::mouseClick(window->outlineView->viewport(), Qt::LeftButton, {},
                              QPoint(cell.right() - 8, cell.center().y()));
            // A slow machine (or a sanitizer) may take a while to reload the trees.
            const bool reloaded = QTest::qWaitFor([&] { return window->opDataFile() == folder; }, 3000);
            ASSERT_TRUE(reloaded);
            ASSERT_EQ(window->opDataFile(), folder);
            EXPECT_FALSE(window->arrList().empty());
            EXPECT_EQ(window->outlineView->selectedRow(), window->outlineView->rowForItem(folder));
        }
}

// A small tmpfs mounted for the life of the object (root only).
class SmallTmpfs {
public:
    explicit SmallTmpfs(const char* size)
    {
        const std::string options = std::string("size=") + size;
        mounted = mount("tmpfs", dir.path().c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallTmpfs()
    {
        if (mounted)
            umount2(dir.path().c_str(), MNT_DETACH);
    }
    TempDir dir;
    bool mounted = false;
};

std::string FileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A recovery into a folder that fills up shows the destination-full view
// with its texts; closing that window stops the recovery, and the next one
// into a roomy folder copies every checked file byte for byte.
TEST_F(ResultsWithPopups, AFullDestinationShowsItsViewAndTheNextRecoveryWorks)
{
    SmallTmpfs full("64k");
    if (!full.mounted)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    CheckAllFiles();
    const uint32_t checked = window->selectedFileCnt();
    // The pre-check passes (the folder claims room); the writes then fail.
    window->freeSpaceOf = [](const QString&) { return int64_t(1) << 40; };
    QString title, node, goOn, stop;
    bool closed = false;
    Watcher watcher([&] {
        ZRShowScanProgressWindowController* progress = window->recoveryProgressWindow();
        // Acted on once the window has faded in, as a person sees it.
        if (closed || !progress || !progress->isWindowLoaded() || progress->noMemeryView()->isHidden() ||
            progress->window()->windowOpacity() < 1)
            return;
        title = progress->noMemeryTitle()->text();
        node = progress->noMemeryNode()->text();
        goOn = progress->noMemeryContinueButton()->textField()->text();
        stop = progress->noMemeryCancelButton()->textField()->text();
        EXPECT_FALSE(progress->noMemeryTitle()->isHidden());
        EXPECT_FALSE(progress->noMemeryContinueButton()->isHidden());
        // Closed as the window system closes it (its close box, Alt+F4).
        closed = true;
        static_cast<QWidget*>(progress->window())->close();
    });
    // The end windows are answered as soon as they are up.
    Watcher answer([] {
        if (auto* stopped = OpenPopup<ZRScanNotEndSaveWindowController>())
            stopped->okButton()->click();
        if (auto* end = OpenPopup<ZRScanEndSaveWindowController>())
            end->okButton()->click();
    });
    window->recovrtyButtonClick();
    window->panelEnded(1, QString::fromStdString(full.dir.path()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return closed; }, kScanWaitMs)) << "no destination-full view";
    EXPECT_EQ(title, QStringLiteral("Destination full"));
    EXPECT_EQ(node, QStringLiteral("Make room."));
    EXPECT_EQ(goOn, QStringLiteral("Go on"));
    EXPECT_EQ(stop, QStringLiteral("Stop"));
    // Closing the window stopped the recovery: the engine is idle again and
    // the stopped-early window came up.
    ASSERT_TRUE(QTest::qWaitFor([] { return !ZRUIController::IsRecoveryRunning(); }, kScanWaitMs));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->recoveryNotEndWindowsShown() == 1; }, 5000));
    EXPECT_EQ(window->recoveryProgressWindow(), nullptr);

    TempDir good;
    window->recovrtyButtonClick();
    window->panelEnded(1, QString::fromStdString(good.path()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->recoveryEndWindowsShown() == 1; }, kScanWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([] { return !ZRUIController::IsRecoveryRunning(); }, kScanWaitMs));
    // Every checked file, each equal to the file put on the image (the
    // volume keeps short upper-case names).
    const std::filesystem::path sources = std::filesystem::path(BridgeImage("vol.img")).parent_path() / "src";
    std::map<std::string, std::string> copied;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(good.path()))
        if (entry.is_regular_file())
            copied[QString::fromStdString(entry.path().filename().string()).toLower().toStdString()] =
                FileBytes(entry.path());
    EXPECT_EQ(copied.size(), checked);
    for (const char* name : {"photo.jpg", "song.mp3", "clip.mp4", "docs/report.pdf", "docs/data.bin"}) {
        const std::filesystem::path source = sources / name;
        auto it = copied.find(source.filename().string());
        ASSERT_NE(it, copied.end()) << name;
        EXPECT_TRUE(it->second == FileBytes(source)) << name;
    }
}

}  // namespace
