// The program's wiring of the root window to the real results window, and
// the results window's way back home to a new root window.
#include <QTest>

#include <gtest/gtest.h>


#include "FakeRootEngine.h"
#include "ZRAppDelegate.h"
#include "ZRDeletailWindowController.h"
#include "ZRRootResultsAdapter.h"
#include "ZRRootWindowController.h"

TEST(ResultsHandOver, RootWindowOpensTheResultsWindowAndComesBackHome)
{
    FakeRootEngine engine;
    engine.values["upDataTimeStr"] = "2999-01-01 00:00:00";  // no update check
    ZRAppDelegate delegate;
    InstallResultsWindow(&delegate);
    delegate.runRootWindow();
    QPointer<ZRRootWindowController> root = delegate.rootWindowCon();
    ASSERT_TRUE(root);

    std::unique_ptr<ZRRootResultsWindow> results = ZRRootWindowController::hooks().makeResultsWindow(root);
    ASSERT_TRUE(results);
    ASSERT_TRUE(results->window());
    EXPECT_FALSE(results->window()->isVisible());

    // The results window's delegate call on going back home.
    auto* backHome = dynamic_cast<ZRDeletailWindowControllerDelegate*>(results.get());
    ASSERT_TRUE(backHome);
    backHome->showRootWindow(nullptr);
    EXPECT_EQ(delegate.rootWindowCon(), root.data());  // not while the results window is in its call
    QTest::qWait(20);
    ASSERT_TRUE(delegate.rootWindowCon());
    EXPECT_NE(delegate.rootWindowCon(), root.data());
    EXPECT_EQ(delegate.rootWindowCon()->isNotFristLoad(), 1);
    EXPECT_TRUE(delegate.rootWindowCon()->window()->isVisible());
    ZRRootWindowController::setHooks({});
}
