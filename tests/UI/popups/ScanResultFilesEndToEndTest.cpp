// The scan-result progress window over the real engine: a FAT volume image
// on a fake machine is scanned through the facade, its result saved to a
// file and loaded back, each followed by the window with the event loop
// turning, as the results and root windows run it.
#include <QAbstractButton>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "BridgeTestSupport.h"
#include "FacadeTestSupport.h"
#include "NotificationCenter.h"
#include "PopupTestSupport.h"
#include "TestSupport.h"
#include "ZRProgressWindow.h"
#include "ZRUIController.h"

namespace {

constexpr int kWatchdogMs = 120000;

// Runs the window as its creators do; a watchdog ends a session that never
// hears the end, so a fault fails the test instead of hanging it. Failure
// alerts are answered and their text kept.
int RunProgressWindow(ZRProgressWindow& window, QString* alertText = nullptr)
{
    QTimer::singleShot(kWatchdogMs, &window, [&window] { window.stopModal(); });
    std::function<void()> answer = [&] {
        if (QMessageBox* alert = window.failureAlert()) {
            if (alertText)
                *alertText = alert->informativeText();
            alert->accept();
            return;
        }
        QTimer::singleShot(20, &window, answer);
    };
    QTimer::singleShot(20, &window, answer);
    window.runModal();
    return window.getResult();
}

}  // namespace

TEST(ScanResultFilesEndToEnd, SaveThenLoadFollowedByTheProgressWindow)
{
    PopupResources resources;
    EnsureFacadeMachine();
    const std::string digest = FileDigest(BridgeImage("vol.img"));
    ASSERT_TRUE(ScanThroughFacade(QStringLiteral("BRIDGEVOL")));
    quint64 sizeBefore = 0, countBefore = 0;
    ZRUIController::GetScanFileSize(&sizeBefore, &countBefore);
    ASSERT_GT(countBefore, 0u);

    TempDir dir;
    const QString path = QString::fromStdString(dir.path() + "/result.rsf");

    // Saving, as the results window starts it.
    ZRUIController::RestorPostUIUpdate(QStringLiteral("QueryProgressInfo"), true);
    ZRUIController::beginSaveOrRestoreNode(true, path);
    ZRProgressWindow save;
    save.setStrPostName(QStringLiteral("QueryProgressInfo"));
    save.setBSave(true);
    EXPECT_EQ(RunProgressWindow(save), 1);
    EXPECT_TRUE(save.bFinish());
    ASSERT_TRUE(std::filesystem::exists(path.toStdString()));
    EXPECT_GT(std::filesystem::file_size(path.toStdString()), 0u);

    // Loading, as the root window starts it: the results window is asked
    // for once, after the window has closed.
    int showDetail = 0;
    bool closedBeforeShow = false;
    ZRProgressWindow load;
    NotificationCenter::defaultCenter().AddObserver(&showDetail, "ShowDetailWindow", [&](const Notification&) {
        ++showDetail;
        closedBeforeShow = !load.window()->isVisible() && !load.isRunningModal();
    });
    ZRUIController::RestorPostUIUpdate(QStringLiteral("NormalScranValue"), false);
    ZRUIController::beginSaveOrRestoreNode(false, path);
    load.setStrPostName(QStringLiteral("NormalScranValue"));
    load.setBSave(false);
    EXPECT_EQ(RunProgressWindow(load), 1);
    NotificationCenter::defaultCenter().RemoveObserver(&showDetail);
    EXPECT_EQ(showDetail, 1);
    EXPECT_TRUE(closedBeforeShow);
    quint64 sizeAfter = 0, countAfter = 0;
    ZRUIController::GetScanFileSize(&sizeAfter, &countAfter);
    EXPECT_EQ(countAfter, countBefore);
    EXPECT_EQ(sizeAfter, sizeBefore);

    EXPECT_EQ(FileDigest(BridgeImage("vol.img")), digest);
}

TEST(ScanResultFilesEndToEnd, DamagedFileEndsWithTheFailureAlert)
{
    PopupResources resources;
    EnsureFacadeMachine();
    TempDir dir;
    const std::string file = dir.path() + "/damaged.rsf";
    std::ofstream(file) << "this is not a saved scan result";

    int showDetail = 0;
    NotificationCenter::defaultCenter().AddObserver(&showDetail, "ShowDetailWindow",
                                                    [&](const Notification&) { ++showDetail; });
    ZRUIController::RestorPostUIUpdate(QStringLiteral("NormalScranValue"), false);
    ZRUIController::beginSaveOrRestoreNode(false, QString::fromStdString(file));
    ZRProgressWindow load;
    load.setStrPostName(QStringLiteral("NormalScranValue"));
    load.setBSave(false);
    QString alert;
    EXPECT_EQ(RunProgressWindow(load, &alert), 0);
    NotificationCenter::defaultCenter().RemoveObserver(&showDetail);
    EXPECT_TRUE(load.bFinish());
    EXPECT_EQ(alert, QStringLiteral("READ_RSF_FAILED"));
    EXPECT_EQ(showDetail, 0);
}
