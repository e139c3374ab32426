#include <gtest/gtest.h>

#include "PopupTestSupport.h"
#include "ZRScanEndSaveWindowController.h"
#include "ZRScanNotEndSaveWindowController.h"

// What every pop-up window does on a close asked through the window and on
// a quit request: fade out first, and only then end the session and close.
TEST(PopupFading, CloseRequestFadesOutThenEndsTheSessionAndCloses)
{
    PopupResources resources;
    ZRScanNotEndSaveWindowController c;
    bool refused = false;
    bool stillOpenRightAfter = false;
    WhenModal([&] {
        refused = !c.windowShouldClose(c.window());
        stillOpenRightAfter = c.window()->isVisible() && c.isRunningModal();
    }, ZRPopupWindow::kFadeMs + 100);  // after the fade-in
    c.runModal();
    EXPECT_TRUE(refused);
    EXPECT_TRUE(stillOpenRightAfter);
    EXPECT_FALSE(c.isRunningModal());
    EXPECT_FALSE(c.window()->isVisible());
    EXPECT_EQ(c.window()->windowOpacity(), 0.0);
}

TEST(PopupFading, QuitRequestWaitsForTheFadeThenAsksAgain)
{
    PopupResources resources;
    int terminations = 0;
    ZRPopupWindow::SetTerminateHandler([&] { ++terminations; });
    {
        ZRScanEndSaveWindowController c;
        c.window();
        ZRPopupWindow::TerminateReply first = ZRPopupWindow::NSTerminateNow;
        WhenModal([&] { first = c.applicationShouldTerminate(); });
        c.runModal();
        EXPECT_EQ(first, ZRPopupWindow::NSTerminateCancel);
        EXPECT_TRUE(c.shuttingDown());
        EXPECT_EQ(terminations, 1);
        EXPECT_FALSE(c.window()->isVisible());
        // The second request, made by the termination, goes through.
        EXPECT_EQ(c.applicationShouldTerminate(), ZRPopupWindow::NSTerminateNow);
    }
    ZRPopupWindow::SetTerminateHandler(nullptr);
}

TEST(PopupFading, FadeInEndingDoesNotCloseTheWindow)
{
    PopupResources resources;
    ZRScanNotEndSaveWindowController c;
    c.window();
    c.window()->show();
    ASSERT_TRUE(SpinUntil([&] { return c.window()->windowOpacity() == 1.0; }));
    EXPECT_TRUE(c.window()->isVisible());
    c.window()->hide();
}
