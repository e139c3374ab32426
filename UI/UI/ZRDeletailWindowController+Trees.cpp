// The result trees (by path, type, creation and modification time) and the
// list of the selected node's files: switching trees, the outline and list
// data sources, sorting and the refresh when new scan data arrives.
#include <QAbstractButton>
#include <QHeaderView>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <numeric>

#include "BridgeUtil.h"
#include "BundleResources.h"
#include "ZRDeletailText.h"
#include <QKeyEvent>
#include "ZRDeletailCoverFlow.h"
#include "ZRDeletailWindowController.h"

namespace {
const QColor kTabTitleColor(174, 184, 222);
}  // namespace

// ---- switching trees ---------------------------------------------------------------

void ZRDeletailWindowController::setTabImages(int64_t tree)
{
    // A tab without its picture gets a name that names none.
    const QString none = (tree == kTreePath || tree == kTreeType) ? QStringLiteral(" ") : QString();
    auto set = [](QAbstractButton* tab, const QString& image) {
        tab->setProperty("tabImage", image);
        tab->setIcon(QIcon(Bundle::ImageNamed(image)));
    };
    for (QAbstractButton* tab : {pathButton, typeButton, timeButton, creatButton, modifyButton})
        set(tab, none);
    switch (tree) {
    case kTreePath:
        set(pathButton, "bg_tab");
        break;
    case kTreeType:
        set(typeButton, "bg_tab");
        break;
    case kTreeCreateTime:
        set(timeButton, "bg_tab");
        set(modifyButton, "text_bg");
        break;
    case kTreeModifyTime:
        set(timeButton, "bg_tab");
        set(creatButton, "text_bg");
        break;
    default:
        break;
    }
}

void ZRDeletailWindowController::pathButtonClick()
{
    if (m_selectTypeCount == kTreePath)
        return;
    stopImageLoading();
    stopGridImageLoading();
    setTabImages(kTreePath);
    for (QAbstractButton* tab : {pathButton, typeButton, timeButton})
        setButtonTitleColor(tab, kTabTitleColor);
    PTOutlineViewBlowView->show();
    timeOutlineBlowView->hide();
    m_selectTypeCount = kTreePath;
    m_bridge->SetViewType(0);
    if (m_allDiskArr.empty() || m_bridge->IsPause()) {
        m_bridge->RefreshData();
        fetchTreeNodes(m_allDiskArr, false);
    }
    reloadOutlines();
    if (!m_allDiskArr.empty()) {
        ExpandeRootItem();
        SelectRootItem();
    }
}

void ZRDeletailWindowController::typeButtonClick()
{
    if (m_selectTypeCount == kTreeType)
        return;
    setTabImages(kTreeType);
    for (QAbstractButton* tab : {pathButton, typeButton, timeButton})
        setButtonTitleColor(tab, kTabTitleColor);
    PTOutlineViewBlowView->show();
    timeOutlineBlowView->hide();
    m_selectTypeCount = kTreeType;
    m_bridge->SetViewType(1);
    m_arrList.clear();
    reloadLists();
    m_bridge->RefreshData();
    fetchTreeNodes(m_allTypeArr, false);
    reloadOutlines();
    if (!m_allTypeArr.empty()) {
        ExpandeRootItem();
        if (!scanRunsUnpaused())
            m_bridge->RefreshTypeTreeState(nullptr);
        SelectRootItem();
    }
}

void ZRDeletailWindowController::timeButtonClick()
{
    if (m_selectTypeCount == kTreeCreateTime)
        return;
    stopImageLoading();
    stopGridImageLoading();
    setTabImages(kTreeCreateTime);
    for (QAbstractButton* tab : {pathButton, typeButton, timeButton, modifyButton})
        setButtonTitleColor(tab, kTabTitleColor);
    setButtonTitleColor(creatButton, Qt::white);
    PTOutlineViewBlowView->hide();
    timeOutlineBlowView->show();
    m_selectTypeCount = kTreeCreateTime;
    m_bridge->SetViewType(2);
    m_arrList.clear();
    reloadLists();
    if (m_isCreateTimeTreeRebuild) {
        m_bridge->RefreshData();
        fetchTreeNodes(m_allCreatTimeArr, false);
        if (!m_bridge->IsScanRunning())
            m_isCreateTimeTreeRebuild = 0;
    }
    refashDetailPageData();
    reloadOutlines();
    if (!m_allCreatTimeArr.empty()) {
        ExpandeRootItem();
        if (!scanRunsUnpaused())
            m_bridge->RefreshTimeTreeState(m_allCreatTimeArr);
        SelectRootItem();
    }
}

void ZRDeletailWindowController::modifyTimeButtonClick()
{
    if (m_selectTypeCount == kTreeModifyTime)
        return;
    setTabImages(kTreeModifyTime);
    setButtonTitleColor(modifyButton, Qt::white);
    setButtonTitleColor(creatButton, kTabTitleColor);
    m_selectTypeCount = kTreeModifyTime;
    m_bridge->SetViewType(3);
    m_arrList.clear();
    reloadLists();
    if (m_isModifyTimeTreeRebuild) {
        m_bridge->RefreshData();
        fetchTreeNodes(m_allModifyTimeArr, false);
        if (!m_bridge->IsScanRunning())
            m_isModifyTimeTreeRebuild = 0;
    }
    refashDetailPageData();
    reloadOutlines();
    if (!m_allModifyTimeArr.empty()) {
        ExpandeRootItem();
        if (!scanRunsUnpaused())
            m_bridge->RefreshTimeTreeState(m_allModifyTimeArr);
        SelectRootItem();
    }
}

void ZRDeletailWindowController::ExpandeRootItem()
{
    const ZRNodeArray& roots = activeRoots();
    CustemOutlineView* view = (m_selectTypeCount >= kTreeCreateTime) ? timeOutlineView : outlineView;
    for (size_t i = 0; i < roots.size(); ++i) {
        if (m_selectTypeCount == kTreeType && i > 0)
            break;  // only the first type group opens
        view->expandItem(roots[i].get());
    }
}

void ZRDeletailWindowController::SelectRootItem()
{
    const ZRNodeArray& roots = activeRoots();
    if (roots.empty() || !roots.front())
        return;
    outlineViewShouldSelectItem(roots.front().get(), 0);
    const int row = outlineView->rowForItem(m_opDataFile.get());
    for (CustemOutlineView* view : {outlineView, timeOutlineView})
        if (row >= 0)
            view->selectRowIndexes(row, false);
}

// ---- outline data source -----------------------------------------------------------

int ZRDeletailWindowController::getNodeDataIsLeaf(OpNodeData* node) const
{
    if (!node)
        return 0;
    int folders = 0;
    for (const OpNodeChild& child : node->children()) {
        if (child.isItem())
            folders += child.item()->isDirect() ? 1 : 0;
        else
            folders += OpNodeData::isFileNodeDirect(child.fileNodeValue()) ? 1 : 0;
    }
    return folders;
}

int ZRDeletailWindowController::outlineViewNumberOfChildrenOfItem(OpNodeData* item) const
{
    if (!item)
        return static_cast<int>(activeRoots().size());
    return getNodeDataIsLeaf(item);
}

OpNodeData* ZRDeletailWindowController::outlineViewChildOfItem(int index, OpNodeData* item) const
{
    if (index < 0)
        return nullptr;
    if (!item) {
        const ZRNodeArray& roots = activeRoots();
        return static_cast<size_t>(index) < roots.size() ? roots[index].get() : nullptr;
    }
    const OpNodeChildren& children = item->children();
    if (static_cast<size_t>(index) >= children.size())
        return nullptr;
    return children[index].item();
}

bool ZRDeletailWindowController::outlineViewIsItemExpandable(OpNodeData* item) const
{
    if (!item)
        return false;
    return item->isDirect() && item->isHasFolderChildren() && getNodeDataIsLeaf(item) != 0;
}

QString ZRDeletailWindowController::outlineViewTreeLabel(OpNodeData* item) const
{
    if (!item)
        return {};
    if (m_selectTypeCount != kTreePath)
        return QStringLiteral("%1(%2)").arg(item->name()).arg(static_cast<int>(m_bridge->GetNodeChildrenCnt(item)));
    const QString name = item->name();
    return name.isNull() ? QStringLiteral("Unknow") : name;
}

QString ZRDeletailWindowController::outlineViewIconName(OpNodeData* item) const
{
    if (!item)
        return {};
    return QStringLiteral("%1IconImage").arg(item->nodeType());
}

bool ZRDeletailWindowController::outlineViewShouldSelectItem(OpNodeData* item, int keyCode)
{
    reLoadTableVolumnIndicatorImage();
    m_isSelectOutlineList = 1;
    if (keyCode != 0 && keyCode != 126 && keyCode != 125)
        return false;
    if (!item)
        return false;
    m_opDataFile = item->weak_from_this().lock();
    CustemOutlineView* view = (m_selectTypeCount >= kTreeCreateTime) ? timeOutlineView : outlineView;
    m_selectedRow = view->rowForItem(item);
    stopImageLoading();
    stopGridImageLoading();
    if (!m_arrList.empty()) {
        m_arrList.clear();
        reloadLists();
    }
    m_flowSelectedIndex = 0;
    view->setSelectCellBackgroundColorWithRow(m_selectedRow);
    if (m_coverFlow) {
        m_coverFlow->setFlowSelectedIndex(0);
        m_coverFlow->resetCoverFlow();
    }
    refashDetailPageData();
    return true;
}

// ---- list data source -----------------------------------------------------------

int ZRDeletailWindowController::numberOfRowsInTableView() const
{
    return static_cast<int>(m_arrList.size());
}

QString ZRDeletailWindowController::tableViewObjectValue(const QString& column, int row) const
{
    if (row < 0 || static_cast<size_t>(row) >= m_arrList.size() || m_arrList[row] == 0)
        return {};
    const OpNodeDataPtr node = OpNodeData::initWithFileNode(m_arrList[row]);
    if (column == QLatin1String("Name"))
        return node->name();
    if (column == QLatin1String("Size"))
        return QString::fromStdString(
            ZRPublicUtilities::longlongConvertVolSpace(static_cast<unsigned long long>(node->size())));
    if (column == QLatin1String("Path"))
        return node->path();
    if (column == QLatin1String("Created"))
        return node->createTime();
    return {};
}

bool ZRDeletailWindowController::tableViewRowIsDeleted(int row) const
{
    if (row < 0 || static_cast<size_t>(row) >= m_arrList.size())
        return false;
    return OpNodeData::isFileNodeDeleted(m_arrList[row]);
}

bool ZRDeletailWindowController::tableViewShouldSelectRow(int row)
{
    if (m_selectSegmentCount == kViewList) {
        tableView->setRowNum(row);
        tableView->setNeedsDisplay();
    } else if (m_selectSegmentCount == kViewCoverFlow) {
        if (m_coverFlow)
            m_coverFlow->selectedCoverFlow(row);
        m_selectCellCount = row;
        coverFlowerTableView->setRowNum(row);
        coverFlowerTableView->setNeedsDisplay();
    }
    return true;
}

void ZRDeletailWindowController::reLoadTableVolumnIndicatorImage()
{
    m_sortIndicatorImage.clear();
    for (CustomTableView* list : {tableView, coverFlowerTableView})
        if (ZRTableColumn* column = list->tableColumnWithIdentifier(m_aTableColumn))
            list->setIndicatorImage(QString(), column);
}

void ZRDeletailWindowController::tableViewDidClickTableColumn(const QString& column)
{
    if (scanRunsUnpaused())
        return;
    stopImageLoading();
    stopGridImageLoading();
    const bool ascending = m_isSorted == 1;
    struct Keyed {
        FileNodeValue value;
        OpNodeDataPtr node;
        size_t index;
    };
    auto sortBy = [&](auto less) {
        std::vector<Keyed> keyed;
        keyed.reserve(m_arrList.size());
        for (size_t i = 0; i < m_arrList.size(); ++i)
            keyed.push_back({m_arrList[i], OpNodeData::initWithFileNode(m_arrList[i]), i});
        std::stable_sort(keyed.begin(), keyed.end(), less);
        for (size_t i = 0; i < keyed.size(); ++i)
            m_arrList[i] = keyed[i].value;
    };
    if (column == QLatin1String("Name") || column == QLatin1String("Path")) {
        const bool byName = column == QLatin1String("Name");
        int& counter = byName ? m_iNameSortCN : m_iPathSortCN;
        ++counter;
        m_bridge->SpyIDIncreateTable2(byName ? 4157 : 4159, counter);
        sortBy([&](const Keyed& a, const Keyed& b) {
            const QString ka = byName ? a.node->name() : a.node->path();
            const QString kb = byName ? b.node->name() : b.node->path();
            return ascending ? QString::compare(ka, kb, Qt::CaseSensitive) < 0
                             : QString::compare(kb, ka, Qt::CaseSensitive) < 0;
        });
    } else if (column == QLatin1String("Size")) {
        ++m_iSizeSortCN;
        m_bridge->SpyIDIncreateTable2(4158, m_iSizeSortCN);
        sortBy([&](const Keyed& a, const Keyed& b) {
            const auto sa = static_cast<unsigned long long>(a.node->size());
            const auto sb = static_cast<unsigned long long>(b.node->size());
            return ascending ? sa < sb : sb < sa;
        });
    } else if (column == QLatin1String("Created")) {
        ++m_iTimeSortCN;
        m_bridge->SpyIDIncreateTable2(4160, m_iTimeSortCN);
        // Equal times are never equal here: ascending keeps their order,
        // descending turns it round. Written as a strict order over (time,
        // position) so the sort stays well defined.
        sortBy([&](const Keyed& a, const Keyed& b) {
            const auto ta = static_cast<long long>(a.node->createTimeValue());
            const auto tb = static_cast<long long>(b.node->createTimeValue());
            if (ta != tb)
                return ascending ? ta < tb : ta > tb;
            return ascending ? a.index < b.index : a.index > b.index;
        });
    }
    const QString indicator = ascending ? QStringLiteral("NSAscendingSortIndicator")
                                        : QStringLiteral("NSDescendingSortIndicator");
    reLoadTableVolumnIndicatorImage();
    m_sortIndicatorImage = indicator;
    CustomTableView* list = m_selectSegmentCount == kViewList ? tableView : coverFlowerTableView;
    if (ZRTableColumn* clicked = list->tableColumnWithIdentifier(column))
        list->setIndicatorImage(indicator, clicked);
    reloadLists();
    if (m_selectSegmentCount != kViewList) {
        m_flowSelectedIndex = 0;
        rebuildCoverFlow();
    }
    m_aTableColumn = column;
    m_isSorted = m_isSorted ? 0 : 1;
}

// ---- the drawn views' data sources and delegates -----------------------------------

namespace {
OpNodeData* Node(void* item)
{
    return static_cast<OpNodeData*>(item);
}

// The key code the selection rules know: 126 up, 125 down, 0 for no key.
int KeyCodeOf(const QKeyEvent* event)
{
    if (!event)
        return 0;
    if (event->key() == Qt::Key_Up)
        return 126;
    if (event->key() == Qt::Key_Down)
        return 125;
    return event->key() ? event->key() : -1;
}
}  // namespace

int ZRDeletailWindowController::numberOfChildrenOfItem(ZROutlineView*, void* item)
{
    return outlineViewNumberOfChildrenOfItem(Node(item));
}

void* ZRDeletailWindowController::child(ZROutlineView*, int index, void* item)
{
    return outlineViewChildOfItem(index, Node(item));
}

bool ZRDeletailWindowController::isItemExpandable(ZROutlineView*, void* item)
{
    return outlineViewIsItemExpandable(Node(item));
}

QVariant ZRDeletailWindowController::objectValueForTableColumn(ZROutlineView*, ZRTableColumn* column, void* item)
{
    if (!item || !column || column->identifier() != QLatin1String("Name"))
        return {};
    return Node(item)->name();
}

void ZRDeletailWindowController::willDisplayCell(ZROutlineView*, ZRCell* cell, ZRTableColumn* column, void* item)
{
    auto* button = dynamic_cast<NewButton*>(cell);
    OpNodeData* node = Node(item);
    if (!button || !node || !column || column->identifier() != QLatin1String("Name"))
        return;
    button->setDelegate(this);
    button->setEditable(true);
    button->setTitle(QString());
    button->setOpNodeData(node);
    auto label = std::make_shared<ZRTextFieldCell>();
    label->setEditable(false);
    label->setDrawsBackground(false);
    label->setTextColor(QColor(160, 170, 211));
    label->setTruncatesTail(true);
    label->setStringValue(outlineViewTreeLabel(node));
    button->setLabel(std::move(label));
    QPixmap icon;
    if (m_selectTypeCount == kTreeType && node->isFadeNode() && node->parent())
        icon = QPixmap::fromImage(m_bridge->getImageForType(node->name()));
    else
        icon = Bundle::ImageNamed(outlineViewIconName(node));
    button->setIconImageCell(std::make_shared<ZRImageCell>(icon));
    const int state = node->state();
    button->setCheckBoxImage(
        Bundle::ImageNamed(state == 0 ? "checkbox_no" : state == 2 ? "checkbox_yes" : "checkbox_election"));
}

bool ZRDeletailWindowController::shouldSelectItem(ZROutlineView* view, void* item)
{
    return outlineViewShouldSelectItem(Node(item), KeyCodeOf(view ? view->currentKeyEvent() : nullptr));
}

bool ZRDeletailWindowController::shouldEditTableColumn(ZROutlineView* view, ZRTableColumn*, void*)
{
    return !(view && view->currentKeyEvent());
}

void ZRDeletailWindowController::outlineViewSelectionDidChange(ZROutlineView*)
{
    m_selectedRow = -1;
}

int ZRDeletailWindowController::numberOfRowsInTableView(ZRTableView*)
{
    return numberOfRowsInTableView();
}

QVariant ZRDeletailWindowController::objectValueForTableColumn(ZRTableView*, ZRTableColumn* column, int row)
{
    if (!column || row < 0 || static_cast<size_t>(row) >= m_arrList.size())
        return {};
    if (column->identifier() == QLatin1String("CheckBox")) {
        if (ZRCell* cell = column->dataCell()) {
            cell->setTag(row);
            cell->setAction([this](ZRCell* clicked) { nsbuttonCellClick(clicked->tag()); });
            cell->setImage(Bundle::ImageNamed(OpNodeData::fileNodeState(m_arrList[row]) == 2 ? "checkbox_yes"
                                                                                               : "checkbox_no"));
        }
        return {};
    }
    const QString value = tableViewObjectValue(column->identifier(), row);
    return value.isNull() ? QVariant() : QVariant(value);
}

void ZRDeletailWindowController::willDisplayCell(ZRTableView*, ZRCell* cell, ZRTableColumn* column, int row)
{
    if (!cell || !column || column->identifier() != QLatin1String("Name"))
        return;
    if (row < 0 || static_cast<size_t>(row) >= m_arrList.size())
        return;
    cell->setImage(tableViewRowIsDeleted(row) ? Bundle::ImageNamed("deletered") : QPixmap());
}

bool ZRDeletailWindowController::shouldSelectRow(ZRTableView*, int row)
{
    return tableViewShouldSelectRow(row);
}

bool ZRDeletailWindowController::shouldEditTableColumn(ZRTableView*, ZRTableColumn*, int)
{
    return false;
}

void ZRDeletailWindowController::didClickTableColumn(ZRTableView*, ZRTableColumn* column)
{
    if (column)
        tableViewDidClickTableColumn(column->identifier());
}

void ZRDeletailWindowController::clickButtonAction(NewButton* cell)
{
    if (cell)
        clickButtonAction(cell->opNodeData());
}

// ---- refresh -------------------------------------------------------------------------

void ZRDeletailWindowController::DataInitFinished()
{
    if (m_gone)
        return;
    if (m_selectTypeCount >= kTreePath && m_selectTypeCount <= kTreeModifyTime)
        fetchTreeNodes(rootsOf(m_selectTypeCount), false);
    reloadOutlines();
    getScanProgress();
    if (m_gone)
        return;
    QTimer::singleShot(1000, this, [this] {
        if (!m_gone)
            ExpandeRootItem();
    });
    if (!m_bridge->IsScanRunning()) {
        SelectRootItem();
        setFoundAllFiles();
    }
    showNoValueNote();
}

void ZRDeletailWindowController::setFoundAllFiles()
{
    uint64_t size = 0, count = 0;
    m_bridge->GetScanFileSize(size, count);
    // A device without a known file system says so: "0 byte in 0 files"
    // alone would not tell why nothing was found.
    const bool unknown = !m_isImport && m_bridge->FoundNoKnownFileSystem();
    selectFilesLabel->setText(ZRLocalizedFormat(
        unknown ? "PAGE_FOUR_NO_FILE_SYSTEM_FILES_SIZE" : "PAGE_FOUR_ALL_FILES_SIZE",
        {QString::fromStdString(ZRPublicUtilities::longlongConvertVolSpace(size)), QString::number(count)}));
}
