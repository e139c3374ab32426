#include "ZRRootResultsAdapter.h"

#include <QPointer>
#include <QTimer>

#include <memory>

#include "ZRAppDelegate.h"
#include "ZRDeletailWindowController.h"
#include "ZRRootWindowController.h"

namespace {

class ResultsAdapter : public ZRRootResultsWindow, public ZRDeletailWindowControllerDelegate {
public:
    explicit ResultsAdapter(ZRAppDelegate* delegate)
        : m_delegate(delegate), m_controller(std::make_unique<ZRDeletailWindowController>())
    {
        m_controller->setDelegate(this);
    }
    ~ResultsAdapter() override { m_controller->setDelegate(nullptr); }

    void setSelectDiskVolumeData(DiskVolumeNodeData* data) override { m_controller->setSelectDiskVolumeData(data); }
    void getData() override { m_controller->getData(); }
    void getImportData(const QString& path) override { m_controller->getImportData(path); }
    void clearImportData() override { m_controller->clearImportData(); }
    QWidget* window() override { return m_controller->window(); }

    void showRootWindow(ZRDeletailWindowController* /*sender*/) override
    {
        // The results window is inside its own call here; the old root
        // window (which owns it) is replaced once that call has returned.
        QPointer<ZRAppDelegate> delegate = m_delegate;
        QTimer::singleShot(0, [delegate] {
            if (delegate)
                delegate->showNewRootWindow();
        });
    }

private:
    QPointer<ZRAppDelegate> m_delegate;
    std::unique_ptr<ZRDeletailWindowController> m_controller;
};

}  // namespace

void InstallResultsWindow(ZRAppDelegate* delegate)
{
    ZRRootWindowHooks hooks = ZRRootWindowController::hooks();
    QPointer<ZRAppDelegate> owner = delegate;
    hooks.makeResultsWindow = [owner](ZRRootWindowController*) -> std::unique_ptr<ZRRootResultsWindow> {
        return std::make_unique<ResultsAdapter>(owner.data());
    };
    ZRRootWindowController::setHooks(std::move(hooks));
}
