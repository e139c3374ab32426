// The program's run as the user drives it, in a process of its own with the
// application object on the stack as in the program's main(): launch, the
// wizard hands a volume to a results window (the root window closes first),
// back home to a new root window, and the end through "appWillTerminate".
// The process must survive the moments without an open window and end with
// status 0, without a crash.
#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "AppStartup.h"
#include "FakeRootEngine.h"
#include "NotificationCenter.h"
#include "TCImageButton.h"
#include "USBMonitorNotifier.h"
#include "ZRAppDelegate.h"

namespace {

// Everything scripted except the end of the process, which is the real one.
struct RealEndEngine : FakeRootEngine {
    void CloseApp() override { ZRRootEngine::CloseApp(); }
};

struct PlainResults : ZRRootResultsWindow {
    void setSelectDiskVolumeData(DiskVolumeNodeData*) override {}
    void getData() override {}
    void getImportData(const QString&) override {}
    void clearImportData() override {}
    QWidget* window() override { return &widget; }
    QWidget widget;
};

[[noreturn]] void Fail(const char* why)
{
    std::fprintf(stderr, "%s\n", why);
    std::_Exit(3);
}

}  // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string work = std::filesystem::temp_directory_path() / ("vantrel-end-" + std::to_string(getpid()));
    std::filesystem::create_directories(work);
    setenv("VANTREL_RESOURCES", work.c_str(), 1);
    QApplication application(argc, argv);
    PrepareApplicationObject();
    USBNotifier_SetSysBlockForTest(work + "/block");
    RealEndEngine engine;
    engine.values["upDataTimeStr"] = "2999-01-01 00:00:00";
    engine.disks = {{"Disk", 1000000, {{"Volume", 1000000}}}};
    ZRRootWindowHooks hooks;
    hooks.makeResultsWindow = [](ZRRootWindowController*) { return std::make_unique<PlainResults>(); };
    ZRRootWindowController::setHooks(hooks);

    ZRAppDelegate delegate;
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    QTimer::singleShot(200, &delegate, [&delegate] {
        ZRRootWindowController* root = delegate.rootWindowCon();
        if (!root || !root->window()->isVisible())
            Fail("no root window");
        root->selectTypeVC()->startScanButton()->click();
        NotificationCenter::defaultCenter().PostNotification("aInitFinished");
        if (root->window()->isVisible() || !root->deletailWC() || !root->deletailWC()->window()->isVisible())
            Fail("the volume did not go to a results window");
    });
    // Back home: the results window closes itself, the new root window
    // comes 0.2 s later. Nothing is open in between.
    QTimer::singleShot(400, &delegate, [&delegate] {
        delegate.rootWindowCon()->deletailWC()->window()->close();
        QTimer::singleShot(200, &delegate, [&delegate] { delegate.showNewRootWindow(); });
    });
    QTimer::singleShot(900, &delegate, [&delegate, work] {
        if (!delegate.rootWindowCon() || !delegate.rootWindowCon()->window()->isVisible())
            Fail("no new root window");
        std::filesystem::remove_all(work);
        NotificationCenter::defaultCenter().PostNotification("appWillTerminate");
        Fail("appWillTerminate did not end the program");
    });
    QTimer::singleShot(5000, [] { Fail("nothing ended the program"); });
    application.exec();
    Fail("the event loop ended on its own");
}
