#include <QLabel>
#include <QMessageBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QTimer>
#include <QPushButton>

#include <gtest/gtest.h>

#include "NotificationCenter.h"
#include "PopupTestSupport.h"
#include "TCImageWindow.h"
#include "ZRProgressWindow.h"

namespace {

// Scripted progress figures of the bridge, and what the window asked for.
struct Figures {
    quint64 total = 0;
    quint64 current = 0;
    qint64 errorCode = 0;
    std::vector<bool> saverFlags;
};

class ScanResultProgressWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZRProgressWindow::SetProgressReader([this](quint64* t, quint64* c, qint64* e, bool saver) {
            *t = figures.total;
            *c = figures.current;
            *e = figures.errorCode;
            figures.saverFlags.push_back(saver);
        });
        NotificationCenter::defaultCenter().AddObserver(this, "ShowDetailWindow",
                                                        [this](const Notification&) { ++showDetail; });
    }
    void TearDown() override
    {
        NotificationCenter::defaultCenter().RemoveObserver(this);
        ZRProgressWindow::SetProgressReader(nullptr);
    }
    static void Post(const char* name) { NotificationCenter::defaultCenter().PostNotification(name); }

    PopupResources resources;
    Figures figures;
    int showDetail = 0;
};

}  // namespace

TEST_F(ScanResultProgressWindow, TextsFollowSaveOrLoad)
{
    for (bool save : {true, false}) {
        ZRProgressWindow w;
        w.setBSave(save);
        w.setStrPostName(save ? QStringLiteral("QueryProgressInfo") : QStringLiteral("NormalScranValue"));
        w.window();
        EXPECT_EQ(w.title()->text(), save ? QStringLiteral("SAVE_SCAN_RESULT") : QStringLiteral("LOAD_SCAN_RESULT"));
        EXPECT_EQ(w.Description()->text(),
                  save ? QStringLiteral("SAVE_RESULT_WAIT") : QStringLiteral("LOAD_RESULT_WAIT"));
        EXPECT_EQ(w.progress()->minimum(), 0);
        EXPECT_EQ(w.progress()->maximum(), 100);
        EXPECT_EQ(w.getResult(), 0);
        EXPECT_EQ(w.aTitleLabel()->text(), QStringLiteral("WINDOW_TOP_TITLE "));
    }
}

TEST_F(ScanResultProgressWindow, BarFollowsTheNamedNotificationAndNeverMovesBack)
{
    ZRProgressWindow w;
    w.setBSave(true);
    w.setStrPostName(QStringLiteral("QueryProgressInfo"));
    w.window();
    struct Step {
        quint64 total, current;
        int shown;
    };
    const Step steps[] = {
        {0, 0, 0},        // no total yet: 0 %, no division by zero
        {200, 50, 25},    //
        {200, 20, 25},    // falls back: the bar stays
        {0, 1, 100},      // a total of 0 counts as 1
        {400, 100, 100},  // stays at the top
    };
    for (const Step& s : steps) {
        figures.total = s.total;
        figures.current = s.current;
        Post("QueryProgressInfo");
        EXPECT_EQ(w.progress()->value(), s.shown) << s.total << " " << s.current;
    }
    // Another name is not followed; the figures asked for are the save's.
    figures.current = 0;
    Post("NormalScranValue");
    EXPECT_EQ(figures.saverFlags.size(), std::size(steps));
    for (bool saver : figures.saverFlags)
        EXPECT_TRUE(saver);
}

TEST_F(ScanResultProgressWindow, SuccessfulLoadClosesOnTheFirstTickAndShowsTheResults)
{
    ZRProgressWindow w;
    w.setBSave(false);
    w.setStrPostName(QStringLiteral("NormalScranValue"));
    bool openRightAfterFinish = false;
    WhenModal([&] {
        figures.total = figures.current = 10;
        Post("NormalScranValue");
        Post("QueryProgressFinish");
        // The end is reported twice when two pollers follow the load; still
        // one close tick.
        Post("QueryProgressFinish");
        openRightAfterFinish = w.isRunningModal() && w.window()->isVisible() && w.isTimerRunning();
    });
    QElapsedTimer clock;
    clock.start();
    w.runModal();
    const qint64 elapsed = clock.elapsed();
    EXPECT_TRUE(openRightAfterFinish);
    EXPECT_GE(elapsed, 450);
    EXPECT_LT(elapsed, 2500);
    EXPECT_TRUE(w.bFinish());
    EXPECT_EQ(w.getResult(), 1);
    EXPECT_FALSE(w.window()->isVisible());
    EXPECT_EQ(showDetail, 1);
    // Done with: later notifications reach it no more.
    Post("QueryProgressFinish");
    EXPECT_FALSE(w.isTimerRunning());
}

TEST_F(ScanResultProgressWindow, FailureShowsTheAlertAndPostsNothing)
{
    for (bool save : {true, false}) {
        ZRProgressWindow w;
        w.setBSave(save);
        w.setStrPostName(save ? QStringLiteral("QueryProgressInfo") : QStringLiteral("NormalScranValue"));
        QString alertText, alertButton;
        WhenModal([&] {
            figures.errorCode = 0x0100000500000003LL;
            Post("QueryProgressFinish");
        });
        // Answer the alert as soon as it shows.
        std::function<void()> answer = [&] {
            if (QMessageBox* alert = w.failureAlert()) {
                alertText = alert->informativeText();
                if (!alert->buttons().isEmpty())
                    alertButton = alert->buttons().front()->text();
                alert->accept();
                return;
            }
            if (w.isRunningModal())
                QTimer::singleShot(20, qApp, answer);
        };
        WhenModal(answer, 20);
        w.runModal();
        EXPECT_EQ(alertText, QStringLiteral("READ_RSF_FAILED"));
        EXPECT_EQ(alertButton, QStringLiteral("PAGE_FOUR_RECOVERY_NO_COMPETENCE_YES_BUTTON"));
        EXPECT_EQ(w.getResult(), 0);
        EXPECT_FALSE(w.window()->isVisible());
        EXPECT_EQ(showDetail, 0);
        figures.errorCode = 0;
    }
}

TEST_F(ScanResultProgressWindow, SuccessfulSavePostsNothing)
{
    ZRProgressWindow w;
    w.setBSave(true);
    w.setStrPostName(QStringLiteral("QueryProgressInfo"));
    WhenModal([&] { Post("QueryProgressFinish"); });
    w.runModal();
    EXPECT_EQ(w.getResult(), 1);
    EXPECT_EQ(showDetail, 0);
}

TEST_F(ScanResultProgressWindow, EarlyCloseEndsAtOnceAndHearsNoMore)
{
    auto* w = new ZRProgressWindow;
    w->setBSave(false);
    w->setStrPostName(QStringLiteral("NormalScranValue"));
    WhenModal([&] { w->window()->standardWindowButton(NSWindowCloseButton)->click(); });
    w->runModal();
    EXPECT_FALSE(w->window()->isVisible());
    EXPECT_EQ(w->getResult(), 0);
    // The operation ends later: the answer stays, nothing is shown.
    Post("QueryProgressFinish");
    EXPECT_EQ(w->getResult(), 0);
    EXPECT_FALSE(w->isTimerRunning());
    delete w;
    // Released: the bridge's notifications find no observer left behind.
    Post("NormalScranValue");
    Post("QueryProgressFinish");
    EXPECT_EQ(showDetail, 0);
}

TEST_F(ScanResultProgressWindow, WithoutAProgressNameOnlyTheEndIsFollowed)
{
    ZRProgressWindow w;
    w.setBSave(true);
    w.window();
    figures.total = figures.current = 10;
    Post("QueryProgressInfo");
    Post("SomethingElse");
    EXPECT_TRUE(figures.saverFlags.empty());
    Post("QueryProgressFinish");
    EXPECT_TRUE(w.bFinish());
    EXPECT_TRUE(w.isTimerRunning());
}
