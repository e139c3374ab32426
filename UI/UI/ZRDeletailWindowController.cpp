// The results window: making it, the scan's progress and the scan controls
// (pause, resume, stop, deep scan, back home, close, a detached device).
#include "ZRDeletailWindowController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

#include "BridgeUtil.h"
#include "BundleResources.h"
#include "DiskVolumeNodeData.h"
#include "NotificationCenter.h"
#include "ZRDeletailLayout.h"
#include "ZRDeletailText.h"
#include "ImageAndTextCell.h"
#include "ZRDeletailCoverFlow.h"
#include "MAAttachedWindow.h"
#include "TCImageWindow.h"
#include "ZRProgressView.h"
#include "ZRScanEndSaveWindowController.h"
#include "ZRScanNotEndSaveWindowController.h"

// The cover flow's view of this window (in the pictures part).
std::unique_ptr<ZRDeletailCoverFlowHost> MakeWindowCoverFlowHost(ZRDeletailWindowController& window);

namespace {

int64_t NowSeconds()
{
    return QDateTime::currentSecsSinceEpoch();
}

// A container whose children stack top to bottom without margins.
QVBoxLayout* Column(QWidget* container)
{
    auto* column = new QVBoxLayout(container);
    column->setContentsMargins(0, 0, 0, 0);
    return column;
}

// A tree tab: its title centred over its picture (the active tab's box,
// the recessed look of the other time tab), stretched to the tab. The
// picture stays whatever has the focus or the mouse.
class ZRTreeTab : public QToolButton {
public:
    using QToolButton::QToolButton;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QPixmap picture = Bundle::ImageNamed(property("tabImage").toString());
        if (!picture.isNull())
            painter.drawPixmap(rect(), picture);
        painter.setFont(font());
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
        const QRect inside = rect().adjusted(2, 0, -2, 0);
        painter.drawText(inside, Qt::AlignCenter, fontMetrics().elidedText(text(), Qt::ElideRight, inside.width()));
    }
};

constexpr int kWindowWidth = 1000;
constexpr int kWindowHeight = 640;
constexpr int kTitleBarHeight = 90;

}  // namespace

ZRDeletailWindowController::ZRDeletailWindowController(ZRDeletailBridge* bridge, QObject* parent)
    : QObject(parent)
{
    if (bridge) {
        m_bridge = bridge;
    } else {
        m_ownedBridge = ZRDeletailFacadeBridge();
        m_bridge = m_ownedBridge.get();
    }
    buildWindow();
    // The end windows of a recovery.
    runRecoveryEndWindow = [](const QString& folder) {
        ZRScanEndSaveWindowController end;
        end.setSavePathStr(folder);
        end.runModal();
    };
    runRecoveryNotEndWindow = [](double files, const QString& folder) {
        ZRScanNotEndSaveWindowController end;
        end.window();
        end.changeRecoveryFilesPoint(files, folder);
        end.runModal();
    };

    // What the interface file's loading does.
    NotificationCenter::defaultCenter().AddObserver(this, "RefreshDetachDevice",
                                                    [this](const Notification& n) { RefreshDevice(n.userInfo); });
    pathButton->setText(localized("PAGE_FOUR_SELECT_TYPE_BUTTON_PATH"));
    typeButton->setText(localized("PAGE_FOUR_SELECT_TYPE_BUTTON_TYPE"));
    creatButton->setText(localized("PAGE_FOUR_SELECT_TYPE_BUTTON_CREATTIME"));
    modifyButton->setText(localized("PAGE_FOUR_SELECT_TYPE_BUTTON_MODIFYTIME"));
    for (QAbstractButton* tab : {pathButton, typeButton, timeButton, creatButton, modifyButton})
        setButtonTitleColor(tab, QColor(174, 184, 222));
    // The window opens on the path tree: its tab wears the active box.
    setTabImages(kTreePath);
    m_bSave = 0;
    m_shuttingDown = 0;
    m_flowSelectedIndex = 0;
    m_nImageState = -1;
    m_gridImageState = -1;
    m_iNameSortCN = m_iSizeSortCN = m_iPathSortCN = m_iTimeSortCN = 0;
    m_tPageStart = NowSeconds();

    // What the window's loading does.
    for (CustomTableView* list : {tableView, coverFlowerTableView}) {
        list->headerView()->setStretchLastSection(true);
        list->setAllowsColumnReordering(false);
    }
    m_isCanClick = 1;
    m_isCloseWindow = 0;
    m_isPause = 0;
    m_isImport = 0;
    buildDetailViewWindowTitleBar();
    aWindow->setMinimumSize(minimumWindowSize());
    listViewTableHeaderView();
    changeCoverViewTableHeaderView();
    m_allDiskArr.clear();
    m_allTypeArr.clear();
    m_allCreatTimeArr.clear();
    m_allModifyTimeArr.clear();
    m_arrList.clear();
    m_viewLoadCnt = 0;
    m_isDeepScan = m_bridge->IsDeepScan() ? 1 : 0;
    segment->setEnabled(m_isDeepScan == 0);
    aWindow->installEventFilter(this);
}

ZRDeletailWindowController::~ZRDeletailWindowController()
{
    NotificationCenter::defaultCenter().RemoveObserver(this);
    // The views ask nothing more of a controller that is going.
    for (CustemOutlineView* tree : {outlineView, timeOutlineView}) {
        tree->setDataSource(static_cast<ZROutlineViewDataSource*>(nullptr));
        tree->setDelegate(static_cast<ZROutlineViewDelegate*>(nullptr));
    }
    for (CustomTableView* list : {tableView, coverFlowerTableView}) {
        list->setDataSource(static_cast<ZRTableViewDataSource*>(nullptr));
        list->setDelegate(static_cast<ZRTableViewDelegate*>(nullptr));
    }
    m_retiredNodes.clear();
    // Its loaders stop (and are waited for) before the files go.
    m_coverFlow.reset();
    m_allDiskArr.clear();
    m_allTypeArr.clear();
    m_allCreatTimeArr.clear();
    m_allModifyTimeArr.clear();
    m_opDataFile.reset();
    if (m_sheet)
        delete m_sheet.data();
    if (m_panel)
        delete m_panel.data();
    delete m_recoveryProgressWindow;
    delete attachedWindow;
    delete popView;
    delete m_retiredAttachedWindow.data();
    delete m_retiredPopView.data();
    delete aWindow;
}

QString ZRDeletailWindowController::localized(const char* key) const
{
    return Bundle::LocalizedString(QString::fromLatin1(key));
}

void ZRDeletailWindowController::buildWindow()
{
    // The content area is what lies below the standard strip; the strip is
    // then made 90 high, as the results window wants it.
    auto* window = new TCImageWindow(QRect(0, 0, kWindowWidth, kWindowHeight - 22));
    aWindow = window;
    aWindow->setObjectName("ZRDeletailWindowController");
    aWindow->setProperty(kTCApplicationMenuProperty, true);
    window->setTitleBarHeight(kTitleBarHeight);
    window->setTrafficLightButtonsLeftMargin(13);
    window->setTopButtonMoveUp(35);
    titleBarView = window->titleBarView();
    // The title-bar controls are placed for the window's first width.
    if (titleBarView->width() != aWindow->width() || titleBarView->height() != kTitleBarHeight)
        titleBarView->resize(aWindow->width(), kTitleBarHeight);
    titleBarView->installEventFilter(this);
    if (TCStandardWindowButton* close = window->standardWindowButton(NSWindowCloseButton))
        close->setAction([this] { closeWindow(aWindow); });

    titleImage = new QLabel(titleBarView);
    titleImage->setPixmap(Bundle::ImageNamed("title_logo"));
    titleImage->setScaledContents(true);
    auto* anchor = new QPushButton(titleBarView);
    anchor->setFlat(true);
    pointButton = anchor;
    ZRSetFrame(pointButton, 120, 14, 12, 12);
    pointButton->lower();

    splistView = new QSplitter(Qt::Horizontal, window->contentView());
    splistView->setChildrenCollapsible(false);
    auto* content = Column(window->contentView());
    content->addWidget(splistView);

    // Left pane: the tree tabs over the two outlines.
    splistLeftView = new QWidget(splistView);
    auto* left = Column(splistLeftView);
    left->setSpacing(0);
    auto* tabs = new QHBoxLayout;
    auto makeTab = [&](QAbstractButton*& field, const char* name) {
        auto* b = new ZRTreeTab(splistLeftView);
        b->setObjectName(name);
        b->setAutoRaise(true);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->setFocusPolicy(Qt::NoFocus);
        b->setMinimumHeight(24);
        field = b;
    };
    makeTab(pathButton, "pathButton");
    makeTab(typeButton, "typeButton");
    makeTab(timeButton, "timeButton");
    timeButton->setText(localized("PAGE_FOUR_SELECT_TYPE_BUTTON_TIME"));
    tabs->addWidget(pathButton);
    tabs->addWidget(typeButton);
    tabs->addWidget(timeButton);
    left->addLayout(tabs);
    PTOutlineViewBlowView = new QWidget(splistLeftView);
    auto* pt = Column(PTOutlineViewBlowView);
    outlineView = new CustemOutlineView(PTOutlineViewBlowView);
    outlineView->setObjectName("outlineView");
    pt->addWidget(outlineView);
    left->addWidget(PTOutlineViewBlowView, 1);
    timeOutlineBlowView = new QWidget(splistLeftView);
    auto* tl = Column(timeOutlineBlowView);
    auto* timeTabs = new QHBoxLayout;
    makeTab(creatButton, "creatButton");
    makeTab(modifyButton, "modifyButton");
    creatButton->setParent(timeOutlineBlowView);
    modifyButton->setParent(timeOutlineBlowView);
    timeTabs->addWidget(creatButton);
    timeTabs->addWidget(modifyButton);
    tl->addLayout(timeTabs);
    timeOutlineView = new CustemOutlineView(timeOutlineBlowView);
    timeOutlineView->setObjectName("timeOutlineView");
    tl->addWidget(timeOutlineView);
    left->addWidget(timeOutlineBlowView, 1);
    timeOutlineBlowView->hide();
    for (CustemOutlineView* tree : {outlineView, timeOutlineView}) {
        // One column, "Name", drawn by the check-box cell of the trees.
        ZRTableColumn* name = tree->addTableColumn("Name", QString(), 400);
        name->setDataCell(std::make_unique<NewButton>());
        tree->setHeaderHidden(true);
        tree->setRowHeight(30);
        tree->setDataSource(static_cast<ZROutlineViewDataSource*>(this));
        tree->setDelegate(static_cast<ZROutlineViewDelegate*>(this));
    }
    connect(pathButton, &QAbstractButton::clicked, this, [this] { pathButtonClick(); });
    connect(typeButton, &QAbstractButton::clicked, this, [this] { typeButtonClick(); });
    connect(timeButton, &QAbstractButton::clicked, this, [this] { timeButtonClick(); });
    connect(creatButton, &QAbstractButton::clicked, this, [this] { timeButtonClick(); });
    connect(modifyButton, &QAbstractButton::clicked, this, [this] { modifyTimeButtonClick(); });

    // Right side: the view-mode switch over the list, the cover flow and
    // the grid.
    auto* right = new QWidget(splistView);
    auto* rl = Column(right);
    rl->setSpacing(0);
    segment = new QWidget(right);
    segment->setObjectName("segment");
    auto* sl = new QHBoxLayout(segment);
    sl->setContentsMargins(4, 2, 4, 2);
    auto* modes = new QButtonGroup(segment);
    modes->setExclusive(true);
    for (int i = 0; i < 3; ++i) {
        auto* b = new QToolButton(segment);
        static const char* const kModeNames[] = {"listModeButton", "coverFlowModeButton", "gridModeButton"};
        b->setObjectName(kModeNames[i]);
        b->setCheckable(true);
        b->setChecked(i == 0);
        b->setAutoRaise(true);
        b->setIconSize(QSize(16, 16));
        b->setFixedSize(28, 22);
        modes->addButton(b, i);
        sl->addWidget(b);
    }
    showSegmentImages();
    sl->addStretch(1);
    connect(modes, &QButtonGroup::idClicked, this, [this](int id) { segmentSelect(id); });
    rl->addWidget(segment);
    tableScrollView = new QWidget(right);
    auto* ts = Column(tableScrollView);
    tableView = new CustomTableView(tableScrollView);
    tableView->setObjectName("tableView");
    ts->addWidget(tableView);
    rl->addWidget(tableScrollView, 1);
    coverFlower = new QWidget(right);
    auto* cf = Column(coverFlower);
    coverFlowerTableView = new CustomTableView(coverFlower);
    coverFlowerTableView->setObjectName("coverFlowerTableView");
    cf->addWidget(coverFlowerTableView);
    rl->addWidget(coverFlower, 1);
    coverFlower->hide();
    gridView = new QWidget(right);
    rl->addWidget(gridView, 1);
    gridView->hide();
    // The picture views: the cover flow above its list, the grid alone.
    m_coverFlowHost = MakeWindowCoverFlowHost(*this);
    m_coverFlow = std::make_unique<ZRDeletailCoverFlow>(*m_coverFlowHost);
    cf->insertWidget(0, m_coverFlow->flowView(), 2);
    auto* grid = Column(gridView);
    grid->addWidget(m_coverFlow->gridScrollArea());
    for (CustomTableView* list : {tableView, coverFlowerTableView}) {
        ZRTableColumn* check = list->addTableColumn("CheckBox", QString(), 24);
        check->setDataCell(std::make_unique<ZRButtonCell>());
        ZRTableColumn* name = list->addTableColumn("Name", localized("PAGE_FOUR_LIST_NAME"), 200);
        name->setDataCell(std::make_unique<ImageAndTextCell>());
        list->addTableColumn("Size", localized("PAGE_FOUR_LIST_SIZE"), 90);
        list->addTableColumn("Path", localized("PAGE_FOUR_LIST_PATH"), 220);
        list->addTableColumn("Created", localized("PAGE_FOUR_LIST_CREATED"), 180);
        for (const auto& column : list->tableColumns())
            if (ZRCell* cell = column->dataCell())
                cell->setTextColor(QColor(160, 170, 211));
        list->setDataSource(static_cast<ZRTableViewDataSource*>(this));
        list->setDelegate(static_cast<ZRTableViewDelegate*>(this));
    }
    splistView->addWidget(splistLeftView);
    splistView->addWidget(right);
    splistView->setStretchFactor(0, 0);
    splistView->setStretchFactor(1, 1);
    splistView->setSizes({260, kWindowWidth - 260});
    splistView->installEventFilter(this);
    connect(splistView, &QSplitter::splitterMoved, this, [this](int, int index) {
        // The divider stays between the limits of its index.
        QList<int> sizes = splistView->sizes();
        if (index != 1 || sizes.size() < 2)
            return;
        const int total = sizes[0] + sizes[1];
        const int wanted =
            std::clamp(sizes[0], splitViewConstrainMinCoordinate(0), splitViewConstrainMaxCoordinate(0));
        if (wanted != sizes[0])
            splistView->setSizes({wanted, total - wanted});
    });
}

void ZRDeletailWindowController::setSelectDiskVolumeData(DiskVolumeNodeData* data)
{
    m_selectDiskVolumeData = data;
}

void ZRDeletailWindowController::showWindow()
{
    aWindow->show();
    aWindow->raise();
}

bool ZRDeletailWindowController::scanRunsUnpaused() const
{
    return m_bridge->IsScanRunning() && !m_bridge->IsPause();
}

ZRNodeArray& ZRDeletailWindowController::rootsOf(int64_t tree)
{
    switch (tree) {
    case kTreeType:
        return m_allTypeArr;
    case kTreeCreateTime:
        return m_allCreatTimeArr;
    case kTreeModifyTime:
        return m_allModifyTimeArr;
    default:
        return m_allDiskArr;
    }
}

const ZRNodeArray& ZRDeletailWindowController::activeRoots() const
{
    static const ZRNodeArray kNone;
    switch (m_selectTypeCount) {
    case kTreePath:
        return m_allDiskArr;
    case kTreeType:
        return m_allTypeArr;
    case kTreeCreateTime:
        return m_allCreatTimeArr;
    case kTreeModifyTime:
        return m_allModifyTimeArr;
    default:
        return kNone;
    }
}

void ZRDeletailWindowController::keepTreesUntilReload()
{
    // The outlines look at the items they showed while they reload, so every
    // item of the trees stays alive until the next reload is done.
    std::vector<OpNodeData*> pending;
    for (const ZRNodeArray* roots : {&m_allDiskArr, &m_allTypeArr, &m_allCreatTimeArr, &m_allModifyTimeArr})
        for (const OpNodeDataPtr& root : *roots)
            if (root) {
                m_retiredNodes.push_back(root);
                pending.push_back(root.get());
            }
    while (!pending.empty()) {
        OpNodeData* node = pending.back();
        pending.pop_back();
        for (const OpNodeChild& child : node->children())
            if (child.isItem()) {
                m_retiredNodes.push_back(child.itemPtr());
                pending.push_back(child.item());
            }
    }
}

void ZRDeletailWindowController::fetchTreeNodes(ZRNodeArray& roots, bool clearNodeState)
{
    keepTreesUntilReload();
    m_bridge->GetScanTreeNodeData(roots, clearNodeState);
}

void ZRDeletailWindowController::reloadOutlines()
{
    outlineView->reloadData();
    timeOutlineView->reloadData();
    m_retiredNodes.clear();
}

void ZRDeletailWindowController::reloadLists()
{
    tableView->reloadData();
    coverFlowerTableView->reloadData();
}

void ZRDeletailWindowController::clearAllCheckMarks()
{
    for (ZRNodeArray* roots : {&m_allDiskArr, &m_allTypeArr, &m_allCreatTimeArr, &m_allModifyTimeArr})
        for (const OpNodeDataPtr& node : *roots)
            if (node)
                node->setNodeState(0);
}

void ZRDeletailWindowController::resetProgressLabels()
{
    remainTimeLabel->setText(ZRLocalizedFormat("PAGE_FOUR_REMAININGTIME", {"-:-:-"}));
    findFilesLabel->setText(ZRLocalizedFormat("PAGE_FOUR_FILESFOUND", {"0"}));
    setProgress(0);
}

void ZRDeletailWindowController::addObservers()
{
    if (m_observing)
        return;
    m_observing = true;
    auto& center = NotificationCenter::defaultCenter();
    center.AddObserver(this, "NormalScranValue", [this](const Notification&) { DataInitFinished(); });
    center.AddObserver(this, "DoSearchValue", [this](const Notification&) { SearchTreeView(); });
    center.AddObserver(this, "DoSearchFinished", [this](const Notification&) { reloadTreeView(); });
    center.AddObserver(this, "RefreshTableView", [this](const Notification&) { refreshTableView(); });
    center.AddObserver(this, "DoRecovery", [this](const Notification&) { recoveryAction(); });
}

void ZRDeletailWindowController::removeObservers()
{
    NotificationCenter::defaultCenter().RemoveObserver(this);
    m_observing = false;
}

// ---- opening --------------------------------------------------------------

void ZRDeletailWindowController::getData()
{
    if (!m_allDiskArr.empty()) {
        keepTreesUntilReload();
        m_allDiskArr.clear();
        reloadOutlines();
    }
    m_isDeepScan = 0;
    m_isCreateTimeTreeRebuild = 1;
    m_isModifyTimeTreeRebuild = 1;
    addObservers();
    m_bridge->DoScanWithData(m_selectDiskVolumeData, "NormalScranValue", this);
}

void ZRDeletailWindowController::getImportData(const QString& /*path*/)
{
    m_isImport = 1;
    for (QWidget* w : std::initializer_list<QWidget*>{findFilesLabel, remainTimeLabel, pauseButton, stopButton,
                                                      progressView, loadImageView, continueButton, deepScanLabel})
        w->hide();
    backHomeButton->setEnabled(true);
    m_isCreateTimeTreeRebuild = 1;
    m_isModifyTimeTreeRebuild = 1;
    m_bridge->RestorPostUIUpdate("NormalScranValue", false);
    addObservers();
}

void ZRDeletailWindowController::clearImportData()
{
    removeObservers();
}

// ---- progress ---------------------------------------------------------------

void ZRDeletailWindowController::getScanProgress()
{
    m_isDeepScan = m_bridge->IsDeepScan() ? 1 : 0;
    segment->setEnabled(!m_isDeepScan || m_isPause);

    double percent = 0;
    uint64_t found = 0;
    const QString remaining = m_bridge->GetScanProgress(percent, found);
    const int64_t now = NowSeconds();
    if (m_lastUpdateTime == 0 || now - m_lastUpdateTime >= 1) {
        remainTimeLabel->setText(ZRLocalizedFormat("PAGE_FOUR_REMAININGTIME", {remaining}));
        m_lastUpdateTime = now;
    }
    findFilesLabel->setText(ZRLocalizedFormat("PAGE_FOUR_FILESFOUND", {QString::number(found)}));
    if (percent < 1.0)
        percent = 0;
    setProgress(static_cast<float>(percent));

    if (!m_bridge->IsScanRunning()) {
        // The scan has ended: the result state.
        stopImageLoading();
        if (m_selectTypeCount != kTreePath) {
            m_bridge->SetViewType(0);
            m_bridge->RefreshData();
            fetchTreeNodes(m_allDiskArr, false);
            m_bridge->SetViewType(static_cast<int>(m_selectTypeCount));
        }
        segment->setEnabled(true);
        for (QWidget* w : std::initializer_list<QWidget*>{continueButton, deepScanLabel, progressView, loadImageView,
                                                          pauseButton, stopButton, continueScanButton})
            w->hide();
        recovertyButton->show();
        setLabelFrame(selectFilesLabel, 40, 40, 380, 18);
        selectFilesLabel->setAlignment(Qt::AlignCenter);
        const int W = abox->width();
        ZRSetFrame(recovertyButton, W / 2 - 50, 10, 100, 30, ZRFlexLeft | ZRFlexRight);
        findFilesLabel->hide();
        remainTimeLabel->hide();
        selectFilesLabel->show();
        search->setEnabled(true);
        m_isDeepScan = m_bridge->IsDeepScan() ? 1 : 0;
        createExportButton(m_isDeepScan ? 1 : 0);
        if (!m_isDeepScan && !m_isImport) {
            continueButton->show();
            deepScanLabel->show();
            if (!m_deepScanOfferMade) {
                // The offer is made once per window.
                m_deepScanOfferMade = true;
                auto* offer = new ZRDeepScanViewController;
                offer->setObjectName("deepScanOffer");
                offer->setDelegate(this);
                showPopoverWithViewController(offer);
            }
        }
        ExpandeRootItem();
        m_isCanClick = 1;
        if (m_isCloseWindow) {
            aWindow->hide();
            NotificationCenter::defaultCenter().PostNotification("appWillTerminate");
            return;
        }
        if (m_isSelectBackHome) {
            doBackHomeAction(true);
            if (m_gone)
                return;
        }
        setFoundAllFiles();
    }
    backHomeButton->setEnabled(m_isCanClick != 0);
    pauseButton->setEnabled(m_isCanClick != 0);
    stopButton->setEnabled(m_isCanClick != 0);
}

// ---- deep-scan offer ------------------------------------------------------------

QPointF ZRDeletailWindowController::popoverPoint() const
{
    const QRect anchor = pointButton->geometry();
    return QPointF(pointButton->parentWidget()->mapTo(aWindow, anchor.center()));
}

void ZRDeletailWindowController::attachPopView()
{
    std::unique_ptr<MAAttachedWindow> attached =
        MAAttachedWindow::initWithView(popView, popoverPoint(), aWindow, AttachedWindowSide::BelowGrowingRight, 10);
    if (!attached)
        return;
    attachedWindow = attached.release();
    attachedWindow->setObjectName("attachedWindow");
    attachedWindow->show();
    attachedWindow->raise();
}

void ZRDeletailWindowController::showPopoverWithViewController(QWidget* view)
{
    if (!attachedWindow && view) {
        popView = view;
        attachPopView();
        m_isClodePopView = 0;
    }
    QTimer::singleShot(8000, this, [this] { popupViewHidden(); });
}

void ZRDeletailWindowController::popupViewHidden()
{
    if (attachedWindow) {
        attachedWindow->hide();
        // The pop-over and the offer's view go. Deleted later: the offer's
        // own close button may be what called.
        delete m_retiredAttachedWindow.data();
        delete m_retiredPopView.data();
        m_retiredAttachedWindow = attachedWindow;
        m_retiredPopView = popView;
        attachedWindow->deleteLater();
        if (popView)
            popView->deleteLater();
        attachedWindow = nullptr;
        popView = nullptr;
    }
    m_isClodePopView = 1;
}

// ---- pause and resume ------------------------------------------------------------

void ZRDeletailWindowController::animateRecoveryButtonOut(int xOffset)
{
    // The totals line gives its place back to the progress panel.
    const QRect box = ZRFrame(subBox);
    ZRSetFrame(subBox, box.x(), box.y(), box.width() + 100, box.height(), ZRFlexWidth);
    ZRSetFrame(recovertyButton, subBox->width() + xOffset, 17, 100, 30, ZRFlexLeft);
    recovertyButton->hide();
}

void ZRDeletailWindowController::pauseButtonClick(QAbstractButton* /*sender*/)
{
    m_bridge->PauseOrResumeScan();
    if (!m_bridge->IsScanRunning()) {
        // It ended meanwhile: finish as a stop would.
        m_isPause = 0;
        m_bridge->StopScan(1);
        m_isCanClick = 0;
        getScanProgress();
        return;
    }
    searchClearButtonClick();
    stopImageLoading();
    stopGridImageLoading();
    m_isPause = m_isPause ? 0 : 1;
    m_isDeepScan = m_bridge->IsDeepScan() ? 1 : 0;
    if (m_isDeepScan && !m_isPause) {
        segment->setEnabled(false);
        segmentSelect(kViewList);
    } else {
        segment->setEnabled(true);
    }
    if (!m_isPause) {
        clearAllCheckMarks();
        pauseButton->show();
        continueScanButton->hide();
        search->setEnabled(false);
        if (recovertyButton->isVisible() || !recovertyButton->isHidden())
            animateRecoveryButtonOut(110);
        selectFilesLabel->hide();
        findFilesLabel->show();
        remainTimeLabel->show();
        QTimer::singleShot(500, this, [this] { refashDetailPageData(); });
    } else {
        m_isCanClick = 1;
        pauseButton->hide();
        continueScanButton->show();
        search->setEnabled(true);
    }
}

// ---- stop ---------------------------------------------------------------------

void ZRDeletailWindowController::stopButtonClick(QAbstractButton* sender)
{
    if (m_isCloseWindow)
        return;
    if (auto* button = qobject_cast<QAbstractButton*>(sender))
        button->setIcon(QIcon(Bundle::ImageNamed(button->isChecked() ? "del_press" : "del_normal")));
    if (!m_isPause)
        m_bridge->PauseOrResumeScan();
    showSheet(SheetKind::StopScan);
}

void ZRDeletailWindowController::alertEnded_bContext(int code)
{
    if (code != kSheetAlternate) {
        clearAllCheckMarks();
        if (!recovertyButton->isHidden() && m_isPause)
            animateRecoveryButtonOut(100);
        m_isPause = 0;
        search->setEnabled(false);
        recovertyButton->hide();
        pauseButton->setEnabled(false);
        continueScanButton->setEnabled(false);
        stopButton->setEnabled(false);
        backHomeButton->setEnabled(false);
        QTimer::singleShot(500, this, [this] { stopAction(); });
        return;
    }
    if (!m_isPause) {
        m_bridge->PauseOrResumeScan();
        m_isCanClick = 1;
    }
}

void ZRDeletailWindowController::stopAction()
{
    m_bridge->StopScan(0);
    getScanProgress();
    m_isCanClick = 0;
    continueScanButton->setEnabled(false);
}

// ---- back home -------------------------------------------------------------------

void ZRDeletailWindowController::backButtonAction()
{
    if (m_isCloseWindow)
        return;
    if (m_bridge->IsScanRunning()) {
        if (!m_isPause)
            m_bridge->PauseOrResumeScan();
        showSheet(SheetKind::BackHome);
        return;
    }
    m_tPageEnd = NowSeconds();
    m_bridge->SpyIDStringTable1(4163, QString::number(m_tPageEnd - m_tPageStart));
    doBackHomeAction(true);
}

void ZRDeletailWindowController::alertEnded_aContext(int code)
{
    if (code != kSheetAlternate) {
        clearAllCheckMarks();
        m_isPause = 0;
        backHomeButton->setEnabled(false);
        continueScanButton->setEnabled(false);
        stopButton->setEnabled(false);
        recovertyButton->setEnabled(false);
        m_bridge->StopScan(1);
        m_isCanClick = 0;
        m_isSelectBackHome = 1;
        if (!m_bridge->IsScanRunning())
            doBackHomeAction(true);
        return;
    }
    if (!m_isPause)
        m_bridge->PauseOrResumeScan();
    m_isCanClick = 1;
}

void ZRDeletailWindowController::doBackHomeAction(bool save)
{
    if (m_gone)
        return;
    (void)save;  // saving the result first always answers yes here
    clearAllCheckMarks();
    stopImageLoading();
    stopGridImageLoading();
    qInfo("begin back home");
    NotificationCenter::defaultCenter().PostNotification("SetLangauageMemu");
    m_viewLoadCnt = 0;
    m_arrList.clear();
    reloadLists();
    m_isSelectOutlineList = 1;
    qInfo("begin send data to server");
    m_bridge->SpyIDStringTable2(4122, QString::number(m_isDeepScan));
    m_bridge->SpyIDSaveToServerTable();
    qInfo("finish send data to server");
    m_selectTypeCount = kTreePath;
    m_bridge->SetViewType(0);
    resetProgressLabels();
    removeObservers();
    // The items wrap the engine's nodes: a window that is gone drops them
    // before a new scan can release those.
    keepTreesUntilReload();
    m_opDataFile.reset();
    m_allDiskArr.clear();
    m_allTypeArr.clear();
    m_allCreatTimeArr.clear();
    m_allModifyTimeArr.clear();
    reloadOutlines();
    m_gone = true;
    aWindow->hide();
    QTimer::singleShot(200, this, [this] { showRootWindow(); });
    qInfo("finish back home");
    emit windowGone();
}

void ZRDeletailWindowController::showRootWindow()
{
    // The device list is read again first: the owner may let this window go
    // as soon as it has a new root window.
    m_bridge->RefreshDeviceInfo();
    if (m_delegate)
        m_delegate->showRootWindow(this);
}

// ---- deep scan ----------------------------------------------------------------------

void ZRDeletailWindowController::deepSrcanButtonAction()
{
    clearAllCheckMarks();
    popupViewHidden();
    stopImageLoading();
    stopGridImageLoading();
    resetProgressLabels();
    showNoValueNote();
    m_isCanClick = 1;
    m_isPause = 0;
    m_isDeepScan = 1;
    segment->setEnabled(true);
    m_selectSegmentCount = kViewList;
    if (auto* group = segment->findChild<QButtonGroup*>())
        if (QAbstractButton* first = group->button(0))
            first->setChecked(true);
    showSegmentImages();
    tableScrollView->show();
    tableView->show();
    coverFlower->hide();
    gridView->hide();
    selectFilesLabel->hide();
    continueButton->setEnabled(false);
    continueButton->hide();
    deepScanLabel->hide();
    if (exportButton)
        exportButton->hide();
    progressView->show();
    loadImageView->show();
    pauseButton->show();
    stopButton->show();
    recovertyButton->hide();
    findFilesLabel->show();
    remainTimeLabel->show();
    search->setEnabled(false);
    m_arrList.clear();
    reloadLists();
    m_opDataFile.reset();
    keepTreesUntilReload();
    m_allDiskArr.clear();
    m_allTypeArr.clear();
    m_allCreatTimeArr.clear();
    m_allModifyTimeArr.clear();
    reloadOutlines();
    QTimer::singleShot(200, this, [this] { doDeepScanAction(); });
}

void ZRDeletailWindowController::doDeepScanAction()
{
    ClearSelectedFilesInfo();
    backHomeButton->setEnabled(false);
    pauseButton->setEnabled(false);
    stopButton->setEnabled(false);
    continueScanButton->setEnabled(true);
    m_isCreateTimeTreeRebuild = 1;
    m_isModifyTimeTreeRebuild = 1;
    m_bSave = 0;
    m_bridge->ResetShouldBuild();
    m_bridge->DoDeepScan(this, "NormalScranValue");
}

// ---- closing -----------------------------------------------------------------------

void ZRDeletailWindowController::closeWindow(QObject* /*sender*/)
{
    if (m_isCloseWindow)
        return;
    if (m_bridge->IsScanRunning()) {
        if (!m_isPause)
            m_bridge->PauseOrResumeScan();
        showSheet(SheetKind::CloseWindow);
        return;
    }
    m_bridge->SpyIDStringTable1(4165, "4");
    stopImageLoading();
    stopGridImageLoading();
    aWindow->hide();
    NotificationCenter::defaultCenter().PostNotification("appWillTerminate");
}

void ZRDeletailWindowController::alertEnded_closeWindowContext(int code)
{
    if (code != kSheetAlternate) {
        m_bridge->StopScan(1);
        m_isCanClick = 0;
        m_isCloseWindow = 1;
        m_isPause = 0;
        getScanProgress();
        backHomeButton->setEnabled(false);
        pauseButton->setEnabled(false);
        stopButton->setEnabled(false);
        continueScanButton->setEnabled(false);
        return;
    }
    if (!m_isPause)
        m_bridge->PauseOrResumeScan();
    m_isCanClick = 1;
}

// ---- a detached device ------------------------------------------------------------

void ZRDeletailWindowController::RefreshDevice(const QVariantMap& userInfo)
{
    if (!m_selectDiskVolumeData || m_gone)
        return;
    // Two disks may go by one name (two images named "disk.img", two sticks
    // of one model): where both sides know the device, it decides.
    const QString device = userInfo.value("BSDName").toString();
    const QString& scannedDevice = m_selectDiskVolumeData->parentDeviceName();
    if (!device.isEmpty() && !scannedDevice.isEmpty()) {
        if (device != scannedDevice)
            return;
    } else if (userInfo.value("USBPath").toString() != m_selectDiskVolumeData->parentName()) {
        return;
    }
    m_bridge->StopScan(1);
    showSheet(SheetKind::DeviceDetached);
    NotificationCenter::defaultCenter().RemoveObserver(this, "RefreshDetachDevice");
}

void ZRDeletailWindowController::alertEnded1_bContext1(int code)
{
    if (code == kSheetDefault)
        doBackHomeAction(false);
}

// ---- sheets --------------------------------------------------------------------------

namespace {
// Each sheet: the keys of its message, default button, alternate button
// (none for a one-button sheet) and informative text (none at all for the
// literal detach texts), and the handler of its end.
struct SheetInfo {
    ZRDeletailWindowController::SheetKind kind;
    const char* title;
    const char* yes;
    const char* no;
    const char* node;
    void (ZRDeletailWindowController::*end)(int code);
};
using Kind = ZRDeletailWindowController::SheetKind;
const SheetInfo kSheets[] = {
    {Kind::StopScan, "PAGE_FOUR_SCAN_STOP_TITLE", "PAGE_FOUR_SCAN_STOP_YES_BUTTON", "PAGE_FOUR_SCAN_STOP_NO_BUTTON",
     "PAGE_FOUR_SCAN_STOP_NODE", &ZRDeletailWindowController::alertEnded_bContext},
    {Kind::CloseWindow, "PAGE_FOUR_SCAN_STOP_TITLE", "PAGE_FOUR_SCAN_STOP_YES_BUTTON",
     "PAGE_FOUR_SCAN_STOP_NO_BUTTON", "PAGE_FOUR_SCAN_STOP_NODE",
     &ZRDeletailWindowController::alertEnded_closeWindowContext},
    {Kind::BackHome, "PAGE_FOUR_SCAN_BACKHOME_TITLE", "PAGE_FOUR_SCAN_BACKHOME_YES_BUTTON",
     "PAGE_FOUR_SCAN_BACKHOME_NO_BUTTON", "PAGE_FOUR_SCAN_BACKHOME_NODE",
     &ZRDeletailWindowController::alertEnded_aContext},
    {Kind::DeviceDetached, nullptr, nullptr, nullptr, nullptr, &ZRDeletailWindowController::alertEnded1_bContext1},
    {Kind::NoAccess, "PAGE_FOUR_RECOVERY_NO_COMPETENCE_TITLE", "PAGE_FOUR_RECOVERY_NO_COMPETENCE_YES_BUTTON", nullptr,
     "PAGE_FOUR_RECOVERY_NO_COMPETENCE_NODE", &ZRDeletailWindowController::alertEnded_competenceContext},
    {Kind::SameDevice, "PAGE_FOUR_SAVE_SAME_PATH_TITLE", "PAGE_FOUR_SAVE_SAME_PATH_YES_BUTTON",
     "PAGE_FOUR_SAVE_SAME_PATH_NO_BUTTON", "PAGE_FOUR_SAVE_SAME_PATH_NODE",
     &ZRDeletailWindowController::alertEnded_eContext},
    {Kind::NoSpace, "PAGE_FOUR_RECOVERY_NO_SPACE_TITLE", "PAGE_FOUR_RECOVERY_NO_SPACE_YES_BUTTON",
     "PAGE_FOUR_RECOVERY_NO_SPACE_NO_BUTTON", "PAGE_FOUR_RECOVERY_NO_SPACE_NODE",
     &ZRDeletailWindowController::alertEnded_noSpaceContext},
};
QString SheetText(const char* key) { return key ? Bundle::LocalizedString(QString::fromLatin1(key)) : QString(); }
const SheetInfo* FindSheet(Kind kind)
{
    for (const SheetInfo& info : kSheets)
        if (info.kind == kind)
            return &info;
    return nullptr;
}
}  // namespace

void ZRDeletailWindowController::showSheet(SheetKind kind)
{
    if (m_sheet) {
        m_sheet->hide();
        m_sheet->deleteLater();
    }
    auto* box = new QMessageBox(aWindow);
    box->setWindowModality(Qt::WindowModal);
    box->setIconPixmap(Bundle::ImageNamed("warning_b"));
    const SheetInfo* info = FindSheet(kind);
    QString message, yes, no, note;
    if (kind == SheetKind::DeviceDetached) {
        message = QStringLiteral("Message");
        yes = QStringLiteral("OK");
        note = QStringLiteral("The usb device is detatched!");
    } else if (info) {
        message = SheetText(info->title);
        yes = SheetText(info->yes);
        no = SheetText(info->no);
        note = SheetText(info->node);
    }
    box->setText(message);
    box->setInformativeText(note);
    QPushButton* defaultButton = box->addButton(yes, QMessageBox::AcceptRole);
    if (info && info->no)
        box->addButton(no, QMessageBox::RejectRole);
    box->setDefaultButton(defaultButton);
    connect(box, &QMessageBox::buttonClicked, this, [this, box, defaultButton](QAbstractButton* clicked) {
        if (m_sheet == box)
            answerSheet(clicked == defaultButton ? kSheetDefault : kSheetAlternate);
    });
    m_sheet = box;
    m_sheetKind = kind;
    box->open();
    static_cast<TCImageWindow*>(aWindow)->placeSheet(box);
}

void ZRDeletailWindowController::answerSheet(int code)
{
    if (!m_sheet)
        return;
    const SheetKind kind = m_sheetKind;
    QMessageBox* box = m_sheet;
    m_sheet = nullptr;
    m_sheetKind = SheetKind::None;
    box->hide();
    box->deleteLater();
    if (const SheetInfo* info = FindSheet(kind))
        (this->*(info->end))(code);
}

bool ZRDeletailWindowController::applicationShouldTerminate()
{
    if (m_shuttingDown)
        return true;
    m_shuttingDown = 1;
    aWindow->hide();
    return false;
}

// ---- window events -------------------------------------------------------------------

bool ZRDeletailWindowController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == splistView && event->type() == QEvent::Resize) {
        QTimer::singleShot(0, this, [this] { windowDidResize(); });
        return false;
    }
    if (watched == titleBarView && event->type() == QEvent::Resize) {
        ZRRelayout(titleBarView);
        return false;
    }
    if (watched == aWindow) {
        if (event->type() == QEvent::Close && !m_gone) {
            // The standard close button: the controller decides.
            event->ignore();
            closeWindow(aWindow);
            return true;
        }
        if (event->type() == QEvent::Resize)
            windowDidResize();
        return false;
    }
    return QObject::eventFilter(watched, event);
}
