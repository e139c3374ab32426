#include "AppWiring.h"

#include <QCoreApplication>
#include <QPointer>

#include "APFSScanWindowController.h"
#include "ZRAppDelegate.h"
#include "ZRCheckUpdateWindowController.h"
#include "ZRProgressWindow.h"
#include "ZRRootWindowController.h"

namespace {

// The update window's delegate on the launch path: when the window closes,
// the program goes on to its root window.
class RootWindowOpener : public ZRCheckUpdateWindowControllerDelegate {
public:
    void setDelegate(ZRAppDelegate* delegate) { m_delegate = delegate; }
    void runRootWindow() override
    {
        if (m_delegate)
            m_delegate->runRootWindow();
    }

private:
    QPointer<ZRAppDelegate> m_delegate;
};

void RunUpdateWindow(ZRAppDelegate* delegate, bool asDelegate)
{
    // The update window is kept for the whole run and keeps the delegate it
    // was given, so the opener lives as long.
    static RootWindowOpener opener;
    if (asDelegate)
        opener.setDelegate(delegate);
    ZRCheckUpdateWindowController::RunShared(asDelegate ? &opener : nullptr, asDelegate);
}

void RunApfsNotice()
{
    APFSScanWindowController notice;
    notice.runModal();
}

int RunImportProgress(const std::function<void()>& startLoad)
{
    ZRProgressWindow progress;
    progress.setStrPostName(QStringLiteral("NormalScranValue"));
    progress.setBSave(false);
    // Loaded before the load starts: the window must already follow the
    // progress and finish notifications the load posts.
    progress.window();
    if (startLoad)
        startLoad();
    progress.runModal();
    return progress.getResult();
}

}  // namespace

void InstallPopupWindows(ZRAppDelegate* delegate)
{
    ZRAppDelegate::setUpdateWindowRunner(&RunUpdateWindow);

    ZRRootWindowHooks hooks = ZRRootWindowController::hooks();
    hooks.runAPFSNotice = &RunApfsNotice;
    hooks.runImportProgress = &RunImportProgress;
    ZRRootWindowController::setHooks(std::move(hooks));

    QPointer<ZRAppDelegate> owner = delegate;
    ZRPopupWindow::SetTerminateHandler([owner] {
        if (owner)
            owner->terminate();
        else
            QCoreApplication::quit();
    });
}
