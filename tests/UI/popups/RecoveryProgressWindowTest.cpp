#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <vector>

#include "PopupTestSupport.h"
#include "TCImageButton.h"
#include "ZRShowScanProgressWindowController.h"

namespace {

struct RecordingRecovery : ZRShowScanProgressWindowControllerDelegate {
    std::vector<int> calls;
    // Whether the modal session had already ended when the call came.
    std::vector<bool> modalEndedFirst;
    ZRShowScanProgressWindowController* window = nullptr;
    void stopButtonAction(int action) override
    {
        calls.push_back(action);
        modalEndedFirst.push_back(window && !window->isRunningModal());
    }
};

enum class Shown { Progress, Warning, NoSpace };

Shown Visible(ZRShowScanProgressWindowController& c)
{
    const int shown = int(c.recoveryProgressView()->isVisibleTo(c.window())) +
                      int(c.warningView()->isVisibleTo(c.window())) + int(c.noMemeryView()->isVisibleTo(c.window()));
    EXPECT_EQ(shown, 1) << "exactly one view is shown";
    if (c.warningView()->isVisibleTo(c.window()))
        return Shown::Warning;
    if (c.noMemeryView()->isVisibleTo(c.window()))
        return Shown::NoSpace;
    return Shown::Progress;
}

}  // namespace

TEST(RecoveryProgressWindow, LoadsWithItsTextsAndThePopupTitleBar)
{
    PopupResources resources;
    ZRShowScanProgressWindowController c;
    TCImageWindow* w = c.window();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->titleBarHeight(), 22);
    EXPECT_EQ(w->trafficLightButtonsLeftMargin(), 13);
    ASSERT_NE(c.aTitleLabel(), nullptr);
    EXPECT_EQ(c.aTitleLabel()->text(), QStringLiteral("WINDOW_TOP_TITLE "));
    EXPECT_EQ(c.aTitleLabel()->geometry(), QRect(0, 3, w->width(), 17));
    EXPECT_EQ(c.aTitleLabel()->palette().color(QPalette::WindowText), TCWindowTitleTextColor());
    QLabel* header = c.titleBarView()->findChild<QLabel*>(QStringLiteral("pop_header_bg"));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->geometry(), QRect(0, 0, w->width(), 22));
    EXPECT_TRUE(header->hasScaledContents());
    EXPECT_EQ(c.titleLabel()->text(), QStringLiteral("PAGE_FOUR_RECOVER_PROGRESS_TITLE"));
    EXPECT_EQ(c.warningNode()->text(), QStringLiteral("PAGE_FOUR_RECOVERY_STOP_NODE"));
    EXPECT_EQ(c.yesButton()->textField()->text(), QStringLiteral("PAGE_FOUR_RECOVERY_STOP_YES_BUTTON"));
    // The destination-full view goes on with the no-space "no" caption and
    // stops with its "yes" caption.
    EXPECT_EQ(c.noMemeryContinueButton()->textField()->text(), QStringLiteral("PAGE_FOUR_RECOVERY_NO_SPACE_NO_BUTTON"));
    EXPECT_EQ(c.noMemeryCancelButton()->textField()->text(), QStringLiteral("PAGE_FOUR_RECOVERY_STOP_YES_BUTTON"));
    for (TCImageButton* b : {c.yesButton(), c.noButton(), c.noMemeryContinueButton(), c.noMemeryCancelButton()})
        EXPECT_TRUE(b->buttonEnabled());
    EXPECT_EQ(Visible(c), Shown::Progress);
    // A window not shown yet starts transparent and fades in.
    EXPECT_EQ(w->windowOpacity(), 0.0);
}

TEST(RecoveryProgressWindow, ProgressKeepsTheLastNameWhenNoneIsGiven)
{
    PopupResources resources;
    ZRShowScanProgressWindowController c;
    c.changeProgressValue(12.5, QStringLiteral("a.jpg"));
    EXPECT_EQ(c.progressBar()->value(), 12);
    EXPECT_DOUBLE_EQ(c.progressValue(), 12.5);
    EXPECT_EQ(c.scaningFileName()->text(), QStringLiteral("a.jpg"));
    c.changeProgressValue(40, QString());
    EXPECT_EQ(c.progressBar()->value(), 40);
    EXPECT_EQ(c.scaningFileName()->text(), QStringLiteral("a.jpg"));
    // An empty (not absent) name is shown as such.
    c.changeProgressValue(41, QStringLiteral(""));
    EXPECT_EQ(c.scaningFileName()->text(), QString());
    // Names are shown as plain text, never interpreted.
    c.changeProgressValue(50, QStringLiteral("<b>x</b>.doc"));
    EXPECT_EQ(c.scaningFileName()->textFormat(), Qt::PlainText);
}

TEST(RecoveryProgressWindow, StopAskedThenWithdrawnPausesAndResumes)
{
    PopupResources resources;
    ZRShowScanProgressWindowController c;
    RecordingRecovery recovery;
    c.setDelegate(&recovery);
    c.window();
    c.stopButton()->click();
    EXPECT_EQ(Visible(c), Shown::Warning);
    c.noButton()->click();
    EXPECT_EQ(Visible(c), Shown::Progress);
    EXPECT_EQ(recovery.calls, (std::vector<int>{1, 1}));
}

TEST(RecoveryProgressWindow, ConfirmedStopEndsTheModalSessionBeforeTellingTheDelegate)
{
    PopupResources resources;
    for (bool fromNoSpace : {false, true}) {
        ZRShowScanProgressWindowController c;
        RecordingRecovery recovery;
        recovery.window = &c;
        c.setDelegate(&recovery);
        bool wasModal = false;
        WhenModal([&] {
            wasModal = c.isRunningModal();
            if (fromNoSpace) {
                c.setNoMemeryViewHidden();
                c.noMemeryCancelButton()->click();
            } else {
                c.stopButton()->click();
                c.yesButton()->click();
            }
        });
        c.runModal();
        EXPECT_TRUE(wasModal);
        EXPECT_FALSE(c.isRunningModal());
        const std::vector<int> expected = fromNoSpace ? std::vector<int>{2} : std::vector<int>{1, 2};
        EXPECT_EQ(recovery.calls, expected);
        EXPECT_TRUE(recovery.modalEndedFirst.back()) << "fromNoSpace " << fromNoSpace;
    }
}

TEST(RecoveryProgressWindow, DestinationFullGoesOnAndLeavesTheStopConfirmationWhole)
{
    PopupResources resources;
    ZRShowScanProgressWindowController c;
    RecordingRecovery recovery;
    c.setDelegate(&recovery);
    c.window();
    c.setNoMemeryViewHidden();
    EXPECT_EQ(Visible(c), Shown::NoSpace);
    c.noMemeryContinueButton()->click();
    EXPECT_EQ(Visible(c), Shown::Progress);
    EXPECT_EQ(recovery.calls, (std::vector<int>{1}));

    // The stop confirmation asked afterwards still carries its text.
    c.stopButton()->click();
    EXPECT_EQ(Visible(c), Shown::Warning);
    EXPECT_TRUE(c.warningNode()->isVisibleTo(c.window()));

    // A write failure while the confirmation is up replaces it.
    c.setNoMemeryViewHidden();
    EXPECT_EQ(Visible(c), Shown::NoSpace);
}

TEST(RecoveryProgressWindow, WithoutDelegateTheViewsStillChange)
{
    PopupResources resources;
    ZRShowScanProgressWindowController c;
    c.window();
    c.stopButton()->click();
    EXPECT_EQ(Visible(c), Shown::Warning);
    c.noButton()->click();
    EXPECT_EQ(Visible(c), Shown::Progress);
}

TEST(RecoveryProgressWindow, DelegateMayReleaseTheWindowWhenToldToStop)
{
    PopupResources resources;
    struct Releasing : ZRShowScanProgressWindowControllerDelegate {
        ZRShowScanProgressWindowController* owned = nullptr;
        void stopButtonAction(int action) override
        {
            if (action == 2) {
                delete owned;
                owned = nullptr;
            }
        }
    } recovery;
    recovery.owned = new ZRShowScanProgressWindowController;
    recovery.owned->setDelegate(&recovery);
    ZRShowScanProgressWindowController* c = recovery.owned;
    WhenModal([c] { c->yesButtonAction(); });
    c->runModal();
    EXPECT_EQ(recovery.owned, nullptr);
}
