// The program's hand-over to the pop-up windows: once installed, the launch
// and the menu run the real update window, a volume that cannot be opened
// runs the real notice, and a pop-up window that ends the program goes
// through the delegate's quit guard.
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <gtest/gtest.h>

#include "APFSScanWindowController.h"
#include "AppWiring.h"
#include "FakeRootEngine.h"
#include "NotificationCenter.h"
#include "PopupTestSupport.h"
#include "TCImageButton.h"
#include "TCImageWindow.h"
#include "TestSupport.h"
#include "USBMonitorNotifier.h"
#include "UserDefaults.h"
#include "ZRAppDelegate.h"
#include "ZRCheckUpdateWindowController.h"
#include "ZRRootWindowController.h"
#include "ZRSelectTypeViewController.h"

namespace {

const QByteArray kSettings = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>VersionCheck</key><integer>3</integer>
<key>en</key><dict>
<key>IniURL</key><string>https://updates.example/version.plist</string>
<key>UpdateURL</key><string>https://updates.example/download</string>
</dict></dict></plist>)";

// A visible top-level window other than except holding a label with text.
TCImageWindow* VisibleWindowWithText(const QString& text, const QWidget* except)
{
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* window = qobject_cast<TCImageWindow*>(top);
        if (!window || window == except || !window->isVisible())
            continue;
        for (QLabel* label : window->findChildren<QLabel*>())
            if (label->text() == text)
                return window;
    }
    return nullptr;
}

// Ends whatever other window runs, so a fault fails the test instead of
// leaving it in a modal session.
void EndOtherWindows(const QWidget* except)
{
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* window = qobject_cast<TCImageWindow*>(top);
        if (window && window != except && window->isVisible())
            if (TCStandardWindowButton* close = window->standardWindowButton(NSWindowCloseButton))
                close->click();
    }
}

class Wiring : public ::testing::Test {
protected:
    void SetUp() override
    {
        resources.writeSettingsXml(kSettings);
        UserDefaults::SetFileForTest(QString::fromStdString(dir / "prefs.ini"));
        USBNotifier_SetSysBlockForTest(dir / "block");
        // Stand-ins the wiring must replace; the root window's other hooks
        // must survive it.
        ZRAppDelegate::setUpdateWindowRunner([this](ZRAppDelegate*, bool) { ++fakeRuns; });
        ZRRootWindowHooks hooks;
        hooks.runAPFSNotice = [this] { ++fakeRuns; };
        hooks.runImportProgress = [this](const std::function<void()>&) { return ++fakeRuns, 0; };
        hooks.chooseImportFile = [](const QString&) { return QStringLiteral("kept"); };
        ZRRootWindowController::setHooks(hooks);
    }
    void TearDown() override
    {
        ZRCheckUpdateWindowController::ResetShared();
        ZRAppDelegate::setUpdateWindowRunner(nullptr);
        ZRRootWindowController::setHooks({});
        ZRPopupWindow::SetTerminateHandler(nullptr);
        USBNotifier_dealloc();
        USBNotifier_SetSysBlockForTest("");
        UserDefaults::SetFileForTest(QString::fromStdString(dir / "unused.ini"));
    }

    PopupResources resources{{{"APFS_NOTICE_TEXT", "APFS_NOTICE_TEXT"}, {"APFS_OK_BUTTON", "APFS_OK_BUTTON"}}};
    TempDir dir;
    FakeRootEngine engine;
    int fakeRuns = 0;
};

}  // namespace

TEST_F(Wiring, LaunchRunsTheUpdateWindowThenTheRootWindowAndTheMenuRunsItAgain)
{
    engine.remote = {{"VersionCheck", 9}, {"Version", "Vantrel 9"}, {"1", "Faster scans"}};
    ZRAppDelegate delegate;
    InstallPopupWindows(&delegate);
    EXPECT_EQ(ZRRootWindowController::hooks().chooseImportFile(QString()), "kept");

    bool modalAtLaunch = false, updateShown = false, rootBeforeClose = true;
    WhenModal([&] {
        ZRCheckUpdateWindowController* update = ZRCheckUpdateWindowController::Shared();
        ASSERT_TRUE(update);
        modalAtLaunch = update->isRunningModal() && update->window()->isVisible();
        updateShown = update->haveUpdateView()->isVisibleTo(update->window());
        rootBeforeClose = delegate.rootWindowCon() != nullptr;
        update->closeWindow();
    });
    delegate.applicationDidFinishLaunching();
    EXPECT_TRUE(modalAtLaunch);
    EXPECT_TRUE(updateShown);
    EXPECT_FALSE(rootBeforeClose);  // the root window waits for the update window
    ASSERT_TRUE(delegate.rootWindowCon());
    EXPECT_TRUE(delegate.rootWindowCon()->window()->isVisible());

    // From the menu: the same kept window runs again; closing it leaves the
    // one root window in place.
    ZRRootWindowController* root = delegate.rootWindowCon();
    bool modalFromMenu = false;
    WhenModal([&] {
        ZRCheckUpdateWindowController* update = ZRCheckUpdateWindowController::Shared();
        modalFromMenu = update && update->isRunningModal();
        if (update)
            update->closeWindow();
    });
    delegate.checkUpdate()->trigger();
    EXPECT_TRUE(modalFromMenu);
    EXPECT_EQ(delegate.rootWindowCon(), root);
    EXPECT_EQ(fakeRuns, 0);
}

TEST_F(Wiring, VolumeThatCannotBeOpenedRunsTheNoticeModally)
{
    // One volume filling its disk: the disk page is skipped and the volume
    // refused.
    engine.disks = {{"D", 1000000, {{"V1", 1000000, 0}}}};
    ZRAppDelegate delegate;
    InstallPopupWindows(&delegate);
    ZRRootWindowController root;
    root.showWindow();
    root.selectTypeVC()->startScanButton()->click();
    ASSERT_EQ(engine.notified, QStringList({"aInitFinished"}));

    bool noticeModal = false;
    WhenModal([&] {
        TCImageWindow* notice = VisibleWindowWithText("APFS_NOTICE_TEXT", root.window());
        if (!notice) {
            ADD_FAILURE() << "no notice shown";
            EndOtherWindows(root.window());
            return;
        }
        noticeModal = QApplication::activeModalWidget() == notice || notice->isModal();
        for (QPushButton* button : notice->findChildren<QPushButton*>())
            if (button->text() == "APFS_OK_BUTTON")
                return button->click();
        notice->standardWindowButton(NSWindowCloseButton)->click();
    });
    NotificationCenter::defaultCenter().PostNotification("aInitFinished");
    EXPECT_TRUE(noticeModal);
    EXPECT_EQ(VisibleWindowWithText("APFS_NOTICE_TEXT", root.window()), nullptr);
    EXPECT_EQ(root.whichPage(), 3);
    EXPECT_FALSE(root.deletailWC());
    EXPECT_TRUE(root.window()->isVisible());
    EXPECT_EQ(fakeRuns, 0);
}

TEST_F(Wiring, PopupEndingTheProgramGoesThroughTheQuitGuard)
{
    ZRAppDelegate delegate;
    InstallPopupWindows(&delegate);
    // scanState 2: a scan runs, so the guard pauses it and asks; 0: the
    // program ends at once.
    for (int scanState : {2, 0}) {
        engine.scanState = scanState;
        engine.closes = 0;
        APFSScanWindowController popup;
        popup.window()->show();
        EXPECT_EQ(popup.applicationShouldTerminate(), ZRPopupWindow::NSTerminateCancel);
        ASSERT_TRUE(SpinUntil([&] { return engine.closes > 0 || delegate.quitAlert(); })) << scanState;
        EXPECT_FALSE(popup.window()->isVisible());
        if (scanState == 2) {
            EXPECT_EQ(engine.closes, 0);
            EXPECT_EQ(engine.scanState, 3);  // paused behind the question
            delegate.quitAlert()->close();
            ASSERT_TRUE(SpinUntil([&] { return !delegate.quitAlert(); }));
        } else {
            EXPECT_EQ(engine.closes, 1);
        }
    }
}
