// Vantrel Data Recovery: the main program. Its only argument, when given, is
// the interface language chosen by the launcher.
#include "AppStartup.h"
#include "AppWiring.h"
#include "MyNSApplication.h"
#include "RecoveryController.h"
#include "SearcherRegistry.h"
#include "ThumbnailService.h"
#include "WidgetMap.h"
#include "ZRAppDelegate.h"
#include "ZRRootResultsAdapter.h"

#include <QTimer>

#include <sys/prctl.h>

int main(int argc, char** argv)
{
    // The kernel knows a process by the first 15 characters of its name;
    // "vantrel-data-re" would never match the product name that the
    // single-copy check looks for, so this copy goes by that name.
    prctl(PR_SET_NAME, "Vantrel Data Re", 0, 0, 0);
    RegisterAllEngineModules();
    // Every searcher of a deep scan on a core of its own.
    SetDefaultDeepScanThreads(0);
    MyNSApplication application(argc, argv);
    PrepareApplicationObject();
    if (argc > 1)
        setCurLanguage(argv[1]);
    else
        ApplyStoredLanguage();
    ApplyApplicationTitle();
    PreventSleep();
    InstallWidgetMapFromEnvironment();
    // Pictures whose plugin is missing show their icon; the log says which.
    ThumbnailService::CheckImagePlugins();

    ZRAppDelegate delegate;
    InstallResultsWindow(&delegate);
    InstallPopupWindows(&delegate);
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    const int status = application.exec();
    ReleasePreventObj();
    // Leaving the loop without the delegate's end (the window system closed
    // the last window) still ends through it, with status 0.
    delegate.applicationWillTerminate(nullptr);
    return status;
}
