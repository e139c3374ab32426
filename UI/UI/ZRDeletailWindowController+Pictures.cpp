// The picture views of the results window's right side: the cover flow with
// its list, and the grid. Both show arrList; the window forwards to the
// part that feeds them and loads their previews.

#include "ZRDeletailCoverFlow.h"
#include "ZRDeletailWindowController.h"

namespace {

class WindowCoverFlowHost final : public ZRDeletailCoverFlowHost {
public:
    explicit WindowCoverFlowHost(ZRDeletailWindowController& window) : m_window(window) {}
    const FileNodeArray& coverFlowFiles() const override { return m_window.arrList(); }
    bool IsScanRunning() const override { return m_window.bridge().IsScanRunning(); }
    bool IsPause() const override { return m_window.bridge().IsPause(); }
    void doSelectItem(int index) override { m_window.doSelectItem(index); }
    void coverFlowDidPickRow(int row) override
    {
        m_window.tableViewShouldSelectRow(row);
        m_window.coverFlowerTableView->scrollRowToVisible(row);
    }

private:
    ZRDeletailWindowController& m_window;
};

}  // namespace

std::unique_ptr<ZRDeletailCoverFlowHost> MakeWindowCoverFlowHost(ZRDeletailWindowController& window)
{
    return std::make_unique<WindowCoverFlowHost>(window);
}

void ZRDeletailWindowController::stopImageLoading()
{
    if (m_coverFlow)
        m_coverFlow->stopImageLoading();
}

void ZRDeletailWindowController::stopGridImageLoading()
{
    if (m_coverFlow)
        m_coverFlow->stopGridImageLoading();
}

void ZRDeletailWindowController::rebuildCoverFlow()
{
    if (!m_coverFlow)
        return;
    m_coverFlow->setFlowSelectedIndex(0);
    m_coverFlow->removeAllPhotos();
    m_coverFlow->showCoverFlowerViewWithRefresh(true);
}
