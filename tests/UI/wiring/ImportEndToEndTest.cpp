// A saved scan result imported through the root window with the program's
// pop-up windows installed: a FAT volume image on the facade tests' fake
// machine is scanned, its result saved to a file, and the file loaded back
// from the disk page with the real progress window turning the event loop.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "AppWiring.h"
#include "BridgeTestSupport.h"
#include "FacadeTestSupport.h"
#include "FakeRootEngine.h"
#include "NotificationCenter.h"
#include "PopupTestSupport.h"
#include "TCImageButton.h"
#include "TCImageWindow.h"
#include "TestSupport.h"
#include "ZRPopupWindow.h"
#include "ZRRootWindowController.h"
#include "ZRSelectTypeViewController.h"
#include "ZRUIController.h"

namespace {

constexpr int kWatchdogMs = 120000;

// The scripted shell, except that loads and the type filter reach the real
// engine.
struct LoadingEngine : FakeRootEngine {
    void SetRecoveryType(unsigned int mask) override
    {
        FakeRootEngine::SetRecoveryType(mask);
        ZRRootEngine::SetRecoveryType(mask);
    }
    void beginSaveOrRestoreNode(bool save, const QString& path) override
    {
        FakeRootEngine::beginSaveOrRestoreNode(save, path);
        ZRRootEngine::beginSaveOrRestoreNode(save, path);
    }
};

// The results window's part of a load: it follows the load's progress from
// getImportData on, as the real one does.
struct LoadingResults : ZRRootResultsWindow {
    explicit LoadingResults(QStringList& log) : log(log) { widget.resize(600, 400); }
    void setSelectDiskVolumeData(DiskVolumeNodeData*) override { log << "select"; }
    void getData() override { log << "getData"; }
    void getImportData(const QString& path) override
    {
        log << "import " + path;
        ZRUIController::RestorPostUIUpdate(QStringLiteral("NormalScranValue"), false);
    }
    void clearImportData() override { log << "clear"; }
    QWidget* window() override { return &widget; }
    QStringList& log;
    QWidget widget;
};

// Saves the current scan result to path and waits for the end.
bool SaveResult(const QString& path)
{
    int finished = 0;
    NotificationCenter::defaultCenter().AddObserver(&finished, "QueryProgressFinish",
                                                    [&](const Notification&) { ++finished; });
    ZRUIController::RestorPostUIUpdate(QStringLiteral("QueryProgressInfo"), true);
    ZRUIController::beginSaveOrRestoreNode(true, path);
    const bool ended = Pump([&] { return finished > 0; });
    NotificationCenter::defaultCenter().RemoveObserver(&finished);
    quint64 total = 0, current = 0;
    qint64 error = -1;
    ZRUIController::GetSaveorRestoreProgress(&total, &current, &error, true);
    return ended && error == 0 && std::filesystem::file_size(path.toStdString()) > 0;
}

}  // namespace

TEST(WiringImport, SavedResultLoadsThroughTheRootWindowIntoTheResultsWindow)
{
    PopupResources resources;
    EnsureFacadeMachine();
    const std::string digest = FileDigest(BridgeImage("vol.img"));
    ASSERT_TRUE(ScanThroughFacade(QStringLiteral("BRIDGEVOL")));
    quint64 sizeBefore = 0, countBefore = 0;
    ZRUIController::GetScanFileSize(&sizeBefore, &countBefore);
    ASSERT_GT(countBefore, 0u);

    TempDir dir;
    const QString saved = QString::fromStdString(dir.path() + "/result.rsf");
    ASSERT_TRUE(SaveResult(saved));
    const QString damaged = QString::fromStdString(dir.path() + "/damaged.rsf");
    std::ofstream(damaged.toStdString()) << "this is not a saved scan result";

    struct Case {
        QString file;
        bool loads;
    };
    for (const Case& c : {Case{damaged, false}, Case{saved, true}}) {
        SCOPED_TRACE(c.file.toStdString());
        LoadingEngine engine;
        engine.disks = {{"D", 9000000, {{"V1", 1000000}, {"V2", 2000000}}}};
        QStringList log;
        LoadingResults* results = nullptr;
        ZRRootWindowHooks hooks;
        hooks.makeResultsWindow = [&](ZRRootWindowController*) {
            auto made = std::make_unique<LoadingResults>(log);
            results = made.get();
            return made;
        };
        hooks.chooseImportFile = [&](const QString&) { return c.file; };
        ZRRootWindowController::setHooks(hooks);
        InstallPopupWindows(nullptr);

        ZRRootWindowController root;
        root.showWindow();
        root.selectTypeVC()->startScanButton()->click();
        NotificationCenter::defaultCenter().PostNotification("aInitFinished");
        ASSERT_EQ(root.whichPage(), 3);
        ASSERT_FALSE(root.importButton()->isHidden());

        int showDetail = 0;
        NotificationCenter::defaultCenter().AddObserver(&showDetail, "ShowDetailWindow",
                                                        [&](const Notification&) { ++showDetail; });
        // Answers the failure alert; ends a session that never hears the end.
        QString alertText;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible()) {
                    alertText = box->informativeText();
                    box->accept();
                }
        });
        answer.start(20);
        QTimer::singleShot(kWatchdogMs, &answer, [&] {
            ADD_FAILURE() << "the load never ended";
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* w = qobject_cast<TCImageWindow*>(top); w && w != root.window() && w->isVisible())
                    w->standardWindowButton(NSWindowCloseButton)->click();
        });

        root.importButton()->click();
        answer.stop();
        NotificationCenter::defaultCenter().RemoveObserver(&showDetail);

        EXPECT_EQ(engine.loads, QStringList({"load " + c.file}));
        EXPECT_EQ(engine.masks, std::vector<unsigned>({63u, 127u}));
        if (c.loads) {
            EXPECT_EQ(showDetail, 1);
            EXPECT_TRUE(alertText.isEmpty());
            EXPECT_EQ(log, QStringList({"import " + c.file}));
            ASSERT_TRUE(root.deletailWC());
            ASSERT_TRUE(results);
            EXPECT_TRUE(results->widget.isVisible());
            EXPECT_FALSE(root.window()->isVisible());
            quint64 sizeAfter = 0, countAfter = 0;
            ZRUIController::GetScanFileSize(&sizeAfter, &countAfter);
            EXPECT_EQ(countAfter, countBefore);
            EXPECT_EQ(sizeAfter, sizeBefore);
        } else {
            EXPECT_EQ(showDetail, 0);
            EXPECT_EQ(alertText, QStringLiteral("READ_RSF_FAILED"));
            EXPECT_EQ(log, QStringList({"import " + c.file, "clear"}));
            EXPECT_FALSE(root.deletailWC());
            EXPECT_TRUE(root.window()->isVisible());
        }
        ZRRootWindowController::setHooks({});
        ZRPopupWindow::SetTerminateHandler(nullptr);
    }
    EXPECT_EQ(FileDigest(BridgeImage("vol.img")), digest);
}
