// The application delegate: the launch sequence (first-run page, weekly
// update check, root window), the quit guard and the end of the process.
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "BundleResources.h"
#include "DrawingChecks.h"
#include "FakeRootEngine.h"
#include "NotificationCenter.h"
#include "TCImageWindow.h"
#include "TestSupport.h"
#include "USBMonitorNotifier.h"
#include "UserDefaults.h"
#include "ZRAboutWindowController.h"
#include "ZRAppDelegate.h"

namespace {

class AppDelegate : public ::testing::Test {
protected:
    void SetUp() override
    {
        oldResources = Bundle::ResourcePath();
        oldLanguage = Bundle::Language();
        Bundle::SetResourcePath(QString::fromStdString(dir.path()));
        Bundle::SetLanguage("en");
        std::filesystem::create_directories(dir / "en.lproj");
        std::ofstream(dir / "en.lproj/Localizable.strings")
            << "\"MENU_ABOUT_NAME\" = \"About %@\";\n\"WINDOW_TOP_TITLE\" = \"Vantrel\";\n"
               "\"MENU_EXIT\" = \"Quit\";\n\"MENU_WINDOW\" = \"Window\";\n"
               "\"PAGE_FOUR_SCAN_STOP_YES_BUTTON\" = \"Stop\";\n"
               "\"ABOUT_DESCRIPTION\" = \"Finds lost files.\";\n\"ABOUT_COPYRIGHT\" = \"(c) Vantrel\";\n"
               "\"ABOUT_LINK_TEXT\" = \"Visit our website\";\n";
        ASSERT_TRUE(Bundle::WriteSettings({{"VersionCheck", 3},
                                           {"en", QVariantMap{{"AboutURL", "https://example.test/about"},
                                                              {"IniURL", "https://example.test/version.plist"}}}}));
        UserDefaults::SetFileForTest(QString::fromStdString(dir / "prefs.ini"));
        USBNotifier_SetSysBlockForTest(dir / "block");
        NotificationCenter::defaultCenter().AddObserver(this, "RefreshAttachDevice",
                                                        [this](const Notification&) { ++attachPosts; });
        ZRAppDelegate::setUpdateWindowRunner([this](ZRAppDelegate* delegate, bool asDelegate) {
            updateRuns.push_back(asDelegate);
            timeWhenUpdateShown = engine.values["upDataTimeStr"];
            if (asDelegate)
                delegate->runRootWindow();  // what the window does when it closes
        });
    }
    void TearDown() override
    {
        ZRAppDelegate::setUpdateWindowRunner(nullptr);
        NotificationCenter::defaultCenter().RemoveObserver(this);
        USBNotifier_dealloc();
        USBNotifier_SetSysBlockForTest("");
        UserDefaults::SetFileForTest(QString::fromStdString(dir / "unused.ini"));
        Bundle::SetResourcePath(oldResources);
        Bundle::SetLanguage(oldLanguage);
    }
    static std::string DaysAgo(double days)
    {
        return QDateTime::currentDateTime()
            .addSecs(static_cast<qint64>(-days * 86400))
            .toString("yyyy-MM-dd HH:mm:ss")
            .toStdString();
    }

    TempDir dir;
    QString oldResources;
    QString oldLanguage;
    FakeRootEngine engine;
    std::vector<bool> updateRuns;
    std::string timeWhenUpdateShown;
    int attachPosts = 0;
};

}  // namespace

TEST_F(AppDelegate, MenusCarryTheirLocalisedTitles)
{
    ZRAppDelegate delegate;
    EXPECT_EQ(delegate.about()->text(), "About Vantrel");
    EXPECT_EQ(delegate.exit()->text(), "Quit");
    EXPECT_EQ(delegate.aWindow()->title(), "Window");
    EXPECT_EQ(delegate.help()->title(), "");  // missing text: empty
    EXPECT_TRUE(delegate.validateMenuItem(delegate.minimize()));
}

TEST_F(AppDelegate, FirstLaunchOpensThePageAndRunsTheUpdateCheckBeforeTheRootWindow)
{
    engine.values["FristTime"] = "YES";
    engine.remote = {{"VersionCheck", 4}};
    ZRAppDelegate delegate;
    delegate.applicationDidFinishLaunching();

    EXPECT_EQ(attachPosts, 1);  // the notifier started and drained once
    EXPECT_EQ(engine.values["FristTime"], "NO");
    EXPECT_EQ(engine.opened, QStringList({"https://example.test/about"}));
    EXPECT_TRUE(UserDefaults::Value("Participate").toBool());
    EXPECT_EQ(engine.remoteReads, QStringList({"https://example.test/version.plist"}));
    EXPECT_EQ(engine.networkProbes, 1);
    ASSERT_EQ(updateRuns, std::vector<bool>({true}));
    EXPECT_FALSE(timeWhenUpdateShown.empty());  // written before the check
    ASSERT_TRUE(delegate.rootWindowCon());       // opened by the update window

    delegate.runRootWindow();  // a second call shows no second window
    EXPECT_EQ(engine.fileTypeInits, 1);
}

TEST_F(AppDelegate, WeeklyCheckDecidesWhetherTheRemoteListIsRead)
{
    struct Case {
        std::optional<std::string> lastCheck;
        QVariantMap remote;
        bool network;
        bool read;
        bool updateShown;
    };
    const std::vector<Case> cases = {
        {DaysAgo(6.95), {{"VersionCheck", 9}}, true, false, false},  // 6 days 23 hours
        {DaysAgo(7.001), {{"VersionCheck", 9}}, true, true, true},
        {DaysAgo(8), {{"VersionCheck", 3}}, true, true, false},    // not newer
        {DaysAgo(8), {{"VersionCheck", 9}}, false, true, false},   // no network
        {DaysAgo(8), {}, true, true, false},                       // list not readable
        {std::string(" "), {{"VersionCheck", "12"}}, true, true, true},
    };
    for (const Case& c : cases) {
        engine.values.clear();
        if (c.lastCheck)
            engine.values["upDataTimeStr"] = *c.lastCheck;
        engine.remote = c.remote;
        engine.network = c.network;
        engine.remoteReads.clear();
        updateRuns.clear();
        ZRAppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        EXPECT_EQ(!engine.remoteReads.isEmpty(), c.read) << *c.lastCheck;
        EXPECT_EQ(!updateRuns.empty(), c.updateShown) << *c.lastCheck;
        EXPECT_TRUE(delegate.rootWindowCon()) << *c.lastCheck;
        if (c.read) {
            EXPECT_NE(engine.values["upDataTimeStr"], *c.lastCheck);
        } else {
            EXPECT_EQ(engine.values["upDataTimeStr"], *c.lastCheck);
        }
        EXPECT_TRUE(engine.opened.isEmpty());  // not a first run
        USBNotifier_dealloc();
    }
}

TEST_F(AppDelegate, QuitWhileScanningPausesAndAsks)
{
    ZRAppDelegate delegate;
    EXPECT_EQ(delegate.applicationShouldTerminate(), ZRAppDelegate::NSTerminateNow);

    engine.scanState = 2;
    EXPECT_EQ(delegate.applicationShouldTerminate(), ZRAppDelegate::NSTerminateCancel);
    EXPECT_EQ(engine.scanState, 3);  // paused behind the alert
    ASSERT_TRUE(delegate.quitAlert());
    EXPECT_TRUE(delegate.quitAlert()->isVisible());
    // The alternate button resumes the scan.
    delegate.quitAlert()->buttons().at(1)->click();
    EXPECT_EQ(engine.scanState, 2);
    EXPECT_EQ(engine.closes, 0);

    // Already paused: left paused; the default button ends the process.
    engine.scanState = 3;
    delegate.terminate();
    EXPECT_EQ(engine.scanState, 3);
    ASSERT_TRUE(delegate.quitAlert());
    QPushButton* quit = nullptr;
    for (QAbstractButton* button : delegate.quitAlert()->buttons())
        if (button->text() == "Stop")
            quit = static_cast<QPushButton*>(button);
    ASSERT_TRUE(quit);
    quit->click();
    EXPECT_EQ(engine.closes, 1);

    engine.scanState = 0;
    delegate.terminate();  // nothing running: ends at once
    EXPECT_EQ(engine.closes, 2);
}

// A main window carries the application's menu as a title-bar button; its
// Quit (and Ctrl+Q in the window) runs the quit guard during a scan.
TEST_F(AppDelegate, TitleBarMenuReachesQuitAndItsGuard)
{
    ZRAppDelegate delegate;
    TCImageWindow main(QRect(0, 0, 600, 400));
    main.setTitleBarHeight(22);
    main.setProperty(kTCApplicationMenuProperty, true);
    TCImageWindow popup(QRect(0, 0, 300, 200));
    popup.show();
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    auto* button = main.titleBarView()->findChild<QToolButton*>(QStringLiteral("applicationMenuButton"));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(popup.titleBarView()->findChild<QToolButton*>(QStringLiteral("applicationMenuButton")), nullptr);
    EXPECT_TRUE(button->isVisible());
    EXPECT_TRUE(main.titleBarView()->rect().contains(button->geometry()));
    ASSERT_EQ(button->menu(), delegate.windowMenu());
    EXPECT_TRUE(delegate.windowMenu()->actions().contains(delegate.exit()));
    EXPECT_TRUE(delegate.windowMenu()->actions().contains(delegate.about()));
    EXPECT_EQ(delegate.exit()->shortcut(), QKeySequence(QKeySequence::Quit));
    EXPECT_TRUE(main.actions().contains(delegate.exit()));
    // Shown again (a second show): still one button.
    main.hide();
    main.show();
    EXPECT_EQ(main.titleBarView()->findChildren<QToolButton*>(QStringLiteral("applicationMenuButton")).size(), 1);

    engine.scanState = 2;
    delegate.exit()->trigger();
    ASSERT_TRUE(delegate.quitAlert());
    EXPECT_TRUE(delegate.quitAlert()->isVisible());
    EXPECT_EQ(engine.scanState, 3);
    EXPECT_EQ(engine.closes, 0);
    delegate.quitAlert()->buttons().at(1)->click();
    EXPECT_EQ(engine.scanState, 2);
}

TEST_F(AppDelegate, AppWillTerminateFromAWindowEndsTheProcess)
{
    engine.values["upDataTimeStr"] = DaysAgo(1);
    ZRAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    ASSERT_TRUE(delegate.rootWindowCon());
    EXPECT_TRUE(delegate.rootWindowCon()->window()->isVisible());
    NotificationCenter::defaultCenter().PostNotification("SetLangauageMemu");  // no effect
    EXPECT_EQ(engine.closes, 0);
    delegate.rootWindowCon()->window()->standardWindowButton(NSWindowCloseButton)->click();
    EXPECT_EQ(engine.closes, 1);
    EXPECT_FALSE(delegate.rootWindowCon()->window()->isVisible());
    NotificationCenter::defaultCenter().PostNotification("appWillTerminate");  // observers gone
    EXPECT_EQ(engine.closes, 1);
}

TEST_F(AppDelegate, BackHomeReplacesTheRootWindow)
{
    engine.values["upDataTimeStr"] = DaysAgo(1);
    ZRAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    QPointer<ZRRootWindowController> first = delegate.rootWindowCon();
    delegate.showNewRootWindow();
    ASSERT_TRUE(delegate.rootWindowCon());
    EXPECT_NE(delegate.rootWindowCon(), first.data());
    EXPECT_EQ(delegate.rootWindowCon()->isNotFristLoad(), 1);
    QTest::qWait(10);
    EXPECT_FALSE(first);  // the old one is gone once the event is done
}

// The body of the about window reads: the name, what the program does, the
// copyright and the link each draw their text whole, in ink that stands out
// from the dark ground.
TEST_F(AppDelegate, AboutWindowShowsItsTextsReadably)
{
    ZRAboutWindowController about;
    TCImageWindow* w = about.window();
    w->setWindowOpacity(1);
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    QCoreApplication::processEvents();
    const QImage picture = w->grab().toImage();
    KeepShot(picture, "about-window");
    const std::pair<QLabel*, QString> texts[] = {
        {about.productLabel(), "Vantrel"},
        {about.descriptionLabel(), "Finds lost files."},
        {about.copyrightLabel(), "(c) Vantrel"},
    };
    for (const auto& [label, text] : texts) {
        ASSERT_TRUE(label);
        EXPECT_EQ(label->text(), text);
        EXPECT_LE(label->fontMetrics().horizontalAdvance(text), label->contentsRect().width()) << text.toStdString();
        const DrawnArea drawn = ExamineInWindow(picture, w, label, TextRect(label));
        EXPECT_GE(drawn.contrast, 4.5) << text.toStdString() << ": " << drawn;
    }
    EXPECT_EQ(about.aboutlink()->text(), "Visit our website");
    const DrawnArea link = ExamineInWindow(picture, w, about.aboutlink());
    EXPECT_GE(link.contrast, 4.5) << "link: " << link;
}

TEST_F(AppDelegate, AboutWindowRunsModallyAndOpensTheAboutPage)
{
    for (int i = 0; i < 2; ++i) {  // a new controller, and a new title, each time
        ZRAboutWindowController about;
        ASSERT_TRUE(about.titleLabel());
        EXPECT_EQ(about.titleLabel()->text(), "Vantrel");
        EXPECT_EQ(about.titleLabel()->geometry(), QRect(0, 3, about.titleBarView()->width(), 17));
        EXPECT_EQ(about.window()->titleBarHeight(), 22);
        about.aboutlink()->click();
        EXPECT_EQ(engine.opened.size(), static_cast<qsizetype>(i + 1));
        EXPECT_EQ(engine.opened.back(), "https://example.test/about");

        bool closedWhileModal = false;
        QTimer::singleShot(20, [&] {
            closedWhileModal = about.isRunningModal();
            about.window()->standardWindowButton(NSWindowCloseButton)->click();
        });
        about.runModal();
        EXPECT_TRUE(closedWhileModal);
        EXPECT_FALSE(about.isRunningModal());
        EXPECT_FALSE(about.window()->isVisible());
    }
}
