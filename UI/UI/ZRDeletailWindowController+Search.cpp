// The name search of the results window and its tri-state check boxes: the
// tree boxes, the list boxes, select-all and the totals of the checked files.
#include <QAbstractButton>
#include <QLabel>

#include "BridgeUtil.h"
#include "BundleResources.h"
#include "ZRDeletailText.h"
#include "ZRDeletailCoverFlow.h"
#include "ZRDeletailWindowController.h"

// ---- search ----------------------------------------------------------------------

void ZRDeletailWindowController::doSearchWithKey(const QString& /*key*/)
{
    doSearch();
}

void ZRDeletailWindowController::searchClearButtonClick()
{
    search->setTitleWithMnemonic(QString());
    doSearch();
}

QString ZRDeletailWindowController::GetSearchText(const QString& text)
{
    QString key = text;
    const QString wide = QString(QChar(0x00C2)) + QStringLiteral("  ");
    while (key.contains(wide))
        key.replace(wide, QStringLiteral(" "));
    if (!key.isEmpty() && key.front() == QLatin1Char(' '))
        key.remove(0, 1);
    if (!key.isEmpty() && key.back() == QLatin1Char(' '))
        key.chop(1);
    return key;
}

void ZRDeletailWindowController::doSearch()
{
    const QString text = search->textField() ? search->textField()->text() : QString();
    if (text == QLatin1String(" ") || text == QLatin1String("  "))
        return;
    const QString key = GetSearchText(text);
    if (key == m_bridge->GetSearchString())
        return;
    m_isCreateTimeTreeRebuild = 1;
    m_isModifyTimeTreeRebuild = 1;
    keepTreesUntilReload();
    m_allDiskArr.clear();
    m_allTypeArr.clear();
    m_allCreatTimeArr.clear();
    m_allModifyTimeArr.clear();
    reloadOutlines();
    m_arrList.clear();
    reloadLists();
    ClearSelectedFilesInfo();
    tableView->changeNoValue(true);
    coverFlowerTableView->changeNoValue(true);
    changeNoValue(true);
    m_bridge->DoSearchWithString(key, this, "DoSearchValue");
}

void ZRDeletailWindowController::SearchTreeView()
{
    if (m_gone)
        return;
    ZRNodeArray& roots = rootsOf(m_selectTypeCount);
    keepTreesUntilReload();
    roots.clear();
    reloadOutlines();
    fetchTreeNodes(roots, true);
    reloadOutlines();
    reloadTreeView();
    ExpandeRootItem();
    stopImageLoading();
    stopGridImageLoading();
    m_arrList.clear();
    reloadLists();
    m_bridge->GetSearchResultToArr(m_arrList);
    m_isSelectOutlineList = 1;
    if (m_selectSegmentCount == kViewGrid) {
        m_viewLoadCnt = 0;
        if (m_coverFlow)
            m_coverFlow->showGridView();
    }
    reloadLists();
    m_flowSelectedIndex = 0;
    rebuildCoverFlow();
    if (m_selectSegmentCount == kViewCoverFlow) {
        m_nImageState = 0;
        if (m_coverFlow)
            m_coverFlow->startImageThread(0);
    }
    showNoValueNote();
}

void ZRDeletailWindowController::reloadTreeView()
{
    reloadOutlines();
    m_bridge->StopSearch();
    const QString key = GetSearchText(search->textField() ? search->textField()->text() : QString());
    if (!m_hasLastSearch || key != m_lastSearchStr) {
        // A key typed while the last search ran is searched now.
        m_bridge->DoSearchWithString(key, this, "DoSearchValue");
        m_lastSearchStr = key;
        m_hasLastSearch = true;
    }
}

// ---- check boxes ---------------------------------------------------------------------

int ZRDeletailWindowController::GetCellNodeState(OpNodeData* node) const
{
    long long sum = 0;
    long long count = 0;
    auto countFile = [&](FileNodeValue value) {
        if (value == 0 || OpNodeData::isFileNodeDirect(value))
            return;
        sum += OpNodeData::fileNodeState(value);
        ++count;
    };
    if (node && node->isFadeNode() && !node->parent()) {
        for (const OpNodeChild& child : node->children()) {
            if (child.isItem()) {
                sum += child.item()->state();
                ++count;
            } else {
                countFile(child.fileNodeValue());
            }
        }
    } else if (node) {
        FileNodeArray files;
        m_bridge->GetFileNodeToArray(files, node);
        for (FileNodeValue value : files)
            countFile(value);
    } else {
        for (FileNodeValue value : m_arrList)
            countFile(value);
    }
    if (count == 0 || sum == 0)
        return 0;
    if (sum == 2 * count)
        return 2;
    return 1;
}

void ZRDeletailWindowController::clickButtonAction(OpNodeData* node)
{
    if (scanRunsUnpaused() || !node)
        return;
    showRecoveryButton();
    const int state = node->state();
    node->setNodeState(state == 0 || state == 1 ? 2 : 0);
    m_isSelectOutlineList = 1;
    refashDetailPageData();
}

void ZRDeletailWindowController::updateActiveGroupTree()
{
    switch (m_selectTypeCount) {
    case kTreeModifyTime:
        m_bridge->RefreshTimeTreeState(m_allModifyTimeArr);
        break;
    case kTreeCreateTime:
        m_bridge->RefreshTimeTreeState(m_allCreatTimeArr);
        break;
    case kTreeType:
        m_bridge->RefreshTypeTreeState(m_opDataFile.get());
        break;
    default:
        break;
    }
}

void ZRDeletailWindowController::nsbuttonCellClick(int row)
{
    if (scanRunsUnpaused())
        return;
    if (row < 0 || static_cast<size_t>(row) >= m_arrList.size())
        return;
    showRecoveryButton();
    const FileNodeValue file = m_arrList[row];
    OpNodeData::setFileNode(file, OpNodeData::fileNodeState(file) == 2 ? 0 : 2);
    reloadOutlines();
    if (!m_bridge->IsScanRunning())
        segment->setEnabled(true);
    reloadLists();
    if (m_selectSegmentCount == kViewCoverFlow)
        rebuildCoverFlow();
    else if (m_selectSegmentCount == kViewGrid && m_coverFlow)
        m_coverFlow->showGridView();
    changeSelectAllButtonState();
    showSelectFilesCountAndSize();
    updateActiveGroupTree();
}

void ZRDeletailWindowController::doSelectItem(int index)
{
    if (scanRunsUnpaused())
        return;
    if (index < 0 || static_cast<size_t>(index) >= m_arrList.size())
        return;
    const FileNodeValue file = m_arrList[index];
    OpNodeData::setFileNode(file, OpNodeData::fileNodeState(file) == 2 ? 0 : 2);
    showRecoveryButton();
    reloadOutlines();
    if (!m_bridge->IsScanRunning())
        segment->setEnabled(true);
    if (m_selectSegmentCount == kViewCoverFlow)
        rebuildCoverFlow();
    changeSelectAllButtonState();
    showSelectFilesCountAndSize();
    updateActiveGroupTree();
}

void ZRDeletailWindowController::setAllSelectOrNoSelect()
{
    if (m_arrList.empty() || scanRunsUnpaused())
        return;
    showRecoveryButton();
    const int target = GetCellNodeState(m_opDataFile.get()) == 2 ? 0 : 2;
    for (FileNodeValue file : m_arrList)
        if (!OpNodeData::isFileNodeDirect(file))
            OpNodeData::setFileNode(file, target);
    reloadOutlines();
    if (!m_bridge->IsScanRunning())
        segment->setEnabled(true);
    if (m_selectSegmentCount == kViewList) {
        reloadLists();
    } else if (m_selectSegmentCount == kViewCoverFlow) {
        coverFlowerTableView->reloadData();
        rebuildCoverFlow();
    } else if (m_coverFlow) {
        m_coverFlow->showGridView();
    }
    changeSelectAllButtonState();
    showSelectFilesCountAndSize();
    updateActiveGroupTree();
}

void ZRDeletailWindowController::setSelectAllImage(const QString& image)
{
    m_selectAllImage = image;
    for (QAbstractButton* box : {listViewSelectAllButton, coverViewSelectAllButton})
        if (box)
            box->setIcon(QIcon(Bundle::ImageNamed(image)));
}

void ZRDeletailWindowController::changeSelectAllButtonState()
{
    const int state = GetCellNodeState(m_opDataFile.get());
    setSelectAllImage(state == 0 ? "checkbox_no" : state == 2 ? "checkbox_yes" : "checkbox_election");
}

void ZRDeletailWindowController::ClearSelectedFilesInfo()
{
    m_opDataFile.reset();
    setSelectAllImage("checkbox_no");
    m_bridge->UnselectedAllNodes();
    showSelectFilesCountAndSize();
}

void ZRDeletailWindowController::showSelectFilesCountAndSize()
{
    if (!scanRunsUnpaused()) {
        m_selectedFileCnt = 0;
        m_selectedFileSize = 0;
        m_bridge->GetSelectedFilesAmout(m_selectedFileCnt, m_selectedFileSize);
        recovertyButton->setEnabled(m_selectedFileCnt >= 1);
        selectFilesLabel->setText(ZRLocalizedFormat(
            "PAGE_FOUR_SELECT_FILES",
            {QString::fromStdString(ZRPublicUtilities::longlongConvertVolSpace(m_selectedFileSize)),
             QString::number(m_selectedFileCnt)}));
        m_selectValue = m_selectedFileSize;
    }
    showNoValueNote();
}

bool ZRDeletailWindowController::isRootNodeUnselected(const ZRNodeArray& nodes) const
{
    for (const OpNodeDataPtr& node : nodes)
        if (node && node->state() != 0)
            return true;
    return false;
}
