// The results window: it scans the disk or volume it was given (or shows a
// scan result loaded from a file), shows the progress in its tall title bar,
// lets the user pause, resume or stop the scan, offers a deep scan after a
// quick one, and shows the found files as trees by path, type and time with a
// list of the files of the selected tree node, a name search and tri-state
// check boxes. Everything runs on the application's thread; the engine is
// reached only through the bridge (ZRDeletailBridge, the facade by default).
#pragma once

#include <QFileDialog>
#include <QMessageBox>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "ZRDeletailBridge.h"
#include "CustemOutlineView.h"
#include "CustomTableView.h"
#include "NewButton.h"
#include "NewSearchTextFiled.h"
#include "ZRDeepScanViewController.h"
#include "ZRShowScanProgressWindowController.h"

class QAbstractButton;
class QColor;
class QFileDialog;
class QLabel;
class QPushButton;
class QSplitter;
class QWidget;
class QModelIndex;

class ZRDeletailWindowController;
class ZRProgressView;
class MAAttachedWindow;
class ZRDeletailCoverFlow;
class ZRDeletailCoverFlowHost;

// What the results window asks of whoever opened it. Every operation has a
// body that does nothing, so an owner implements only what it needs.
class ZRDeletailWindowControllerDelegate {
public:
    virtual ~ZRDeletailWindowControllerDelegate() = default;
    // Going back home: the results window has closed itself; the owner makes
    // a new root window (the "not first load" one) and shows it.
    virtual void showRootWindow(ZRDeletailWindowController* /*sender*/) {}
};

class ZRDeletailWindowController : public QObject,
                                   public ZRShowScanProgressWindowControllerDelegate,
                                   public NewSearchTextFiledDelegate,
                                   public ZROutlineViewDataSource,
                                   public ZROutlineViewDelegate,
                                   public ZRTableViewDataSource,
                                   public ZRTableViewDelegate,
                                   public NewButtonDelegate,
                                   public ZRDeepScanViewControllerDelegate {
    Q_OBJECT
public:
    // Tree numbers and view modes of the window.
    enum : int64_t { kTreePath = 0, kTreeType = 1, kTreeCreateTime = 2, kTreeModifyTime = 3 };
    enum : int64_t { kViewList = 0, kViewCoverFlow = 1, kViewGrid = 2 };
    // Return codes of the window's confirmation sheets.
    enum : int { kSheetDefault = 1, kSheetAlternate = 0, kSheetOther = -1 };
    enum class SheetKind { None, StopScan, CloseWindow, BackHome, DeviceDetached, NoAccess, SameDevice, NoSpace };

    // bridge: the engine access to use, not owned; nullptr means the facade.
    explicit ZRDeletailWindowController(ZRDeletailBridge* bridge = nullptr, QObject* parent = nullptr);
    ~ZRDeletailWindowController() override;

    // ---- entry points of the root window ----
    void setSelectDiskVolumeData(DiskVolumeNodeData* data);
    DiskVolumeNodeData* selectDiskVolumeData() const { return m_selectDiskVolumeData; }
    void setDelegate(ZRDeletailWindowControllerDelegate* delegate) { m_delegate = delegate; }
    ZRDeletailWindowControllerDelegate* delegate() const { return m_delegate; }
    // The window (made with the controller).
    QWidget* window() const { return aWindow; }
    void showWindow();
    void getData();
    void getImportData(const QString& path);
    void clearImportData();

    // ---- scan progress and controls ----
    void getScanProgress();
    void backButtonAction();
    void doBackHomeAction(bool save);
    void showRootWindow();
    void deepSrcanButtonAction();
    void doDeepScanAction();
    void pauseButtonClick(QAbstractButton* sender = nullptr);
    void stopButtonClick(QAbstractButton* sender = nullptr);
    void stopAction();
    void closeWindow(QObject* sender = nullptr);
    void RefreshDevice(const QVariantMap& userInfo);
    void showPopoverWithViewController(QWidget* view);
    // The deep-scan offer's close button (and its time-out): the pop-over goes.
    void popupViewHidden() override;
    // The offer's anchor: the centre of pointButton in the window.
    QPointF popoverPoint() const;
    void attachPopView();
    // Sheet ends (return codes above).
    void alertEnded_aContext(int code);
    void alertEnded_bContext(int code);
    void alertEnded_closeWindowContext(int code);
    void alertEnded1_bContext1(int code);

    // ---- title bar, layout, helpers ----
    void buildDetailViewWindowTitleBar();
    void createExportButton(int flag);
    void windowDidResize();
    // The smallest window at which the totals line of a large result (ten
    // million files less one, a four-digit size) still reads whole beside the
    // recover button.
    QSize minimumWindowSize() const;
    void showRecoveryButton();
    void showNoValueNote();
    void changeNoValue(bool hasValues);
    void refashDetailPageData();
    void reLoadAllDetailPage();
    void refreshTableView();
    void setButtonTitleColor(QAbstractButton* button, const QColor& color);
    QWidget* listViewTableHeaderView();
    QWidget* changeCoverViewTableHeaderView();
    // The quit handshake: true when the application may end now.
    bool applicationShouldTerminate();
    int splitViewConstrainMinCoordinate(int dividerIndex) const;
    int splitViewConstrainMaxCoordinate(int dividerIndex) const;
    bool splitViewCanCollapseSubview() const { return false; }

    // ---- trees and list ----
    void pathButtonClick();
    void typeButtonClick();
    void timeButtonClick();
    void modifyTimeButtonClick();
    void ExpandeRootItem();
    void SelectRootItem();
    void DataInitFinished();
    void setFoundAllFiles();
    // Outline data source (the item is a tree node or nullptr for the root).
    int outlineViewNumberOfChildrenOfItem(OpNodeData* item) const;
    OpNodeData* outlineViewChildOfItem(int index, OpNodeData* item) const;
    bool outlineViewIsItemExpandable(OpNodeData* item) const;
    int getNodeDataIsLeaf(OpNodeData* node) const;
    QString outlineViewTreeLabel(OpNodeData* item) const;
    QString outlineViewIconName(OpNodeData* item) const;
    // Selecting a tree node; keyCode is the pressed key (0 for a mouse click).
    bool outlineViewShouldSelectItem(OpNodeData* item, int keyCode = 0);
    // List data source.
    int numberOfRowsInTableView() const;
    QString tableViewObjectValue(const QString& column, int row) const;
    bool tableViewRowIsDeleted(int row) const;
    bool tableViewShouldSelectRow(int row);
    void tableViewDidClickTableColumn(const QString& column);
    void reLoadTableVolumnIndicatorImage();

    // The drawn outlines ask these (items are OpNodeData*).
    int numberOfChildrenOfItem(ZROutlineView* view, void* item) override;
    void* child(ZROutlineView* view, int index, void* item) override;
    bool isItemExpandable(ZROutlineView* view, void* item) override;
    QVariant objectValueForTableColumn(ZROutlineView* view, ZRTableColumn* column, void* item) override;
    void willDisplayCell(ZROutlineView* view, ZRCell* cell, ZRTableColumn* column, void* item) override;
    bool shouldSelectItem(ZROutlineView* view, void* item) override;
    bool shouldEditTableColumn(ZROutlineView* view, ZRTableColumn* column, void* item) override;
    void outlineViewSelectionDidChange(ZROutlineView* view) override;
    // The drawn lists ask these (rows of arrList).
    int numberOfRowsInTableView(ZRTableView* view) override;
    QVariant objectValueForTableColumn(ZRTableView* view, ZRTableColumn* column, int row) override;
    void willDisplayCell(ZRTableView* view, ZRCell* cell, ZRTableColumn* column, int row) override;
    bool shouldSelectRow(ZRTableView* view, int row) override;
    bool shouldEditTableColumn(ZRTableView* view, ZRTableColumn* column, int row) override;
    void didClickTableColumn(ZRTableView* view, ZRTableColumn* column) override;
    // A tree row's check box.
    void clickButtonAction(NewButton* cell) override;

    // ---- search and check boxes ----
    // The search box: a key (possibly empty), or a null text when emptied.
    void doSearchWithKey(const QString& key) override;
    void searchClearButtonClick();
    void doSearch();
    static QString GetSearchText(const QString& text);
    void SearchTreeView();
    void reloadTreeView();
    int GetCellNodeState(OpNodeData* node) const;
    void clickButtonAction(OpNodeData* node);
    void nsbuttonCellClick(int row);
    void doSelectItem(int index);
    void setAllSelectOrNoSelect();
    void changeSelectAllButtonState();
    void ClearSelectedFilesInfo();
    void showSelectFilesCountAndSize();
    void changeSelectCountLabelPos();
    bool isRootNodeUnselected(const ZRNodeArray& nodes) const;
    void selectClear() {}

    // ---- recovery ----
    // The recover button: asks for a destination folder.
    void recovrtyButtonClick();
    // The end of the folder panel: code 1 with the chosen folder, else
    // cancelled.
    void panelEnded(int code, const QString& folder);
    void alertEnded_competenceContext(int code);
    void alertEnded_eContext(int code);
    void alertEnded_noSpaceContext(int code);
    // Each "DoRecovery" of the engine.
    void recoveryAction();
    // The progress window's choice: 1 pause or resume, anything else stop.
    void stopButtonAction(int action) override;
    void showRecoveryEndWindow();
    void showRecoveryNotEndWindow();
    static QString dataPathWithFileName(const QString& name);
    QFileDialog* panel() const { return m_panel; }
    QRect rectNew() const { return m_rectNew; }
    QString recoverySavePathStr() const { return m_recoverySavePathStr; }
    ZRShowScanProgressWindowController* recoveryProgressWindow() const { return m_recoveryProgressWindow; }
    int isFinishRecovery() const { return m_isFinishRecovery; }
    int isRecoveryEndSHowWindow() const { return m_isRecoveryEndSHowWindow; }
    int recoveryEndWindowsShown() const { return m_recoveryEndWindowsShown; }
    int recoveryNotEndWindowsShown() const { return m_recoveryNotEndWindowsShown; }
    // The end windows of a recovery (finished; stopped early with the count
    // of files copied). Their screens set these.
    std::function<void(const QString& folder)> runRecoveryEndWindow;
    std::function<void(double files, const QString& folder)> runRecoveryNotEndWindow;
    // Free bytes of the file system that holds folder; -1 when unknown.
    std::function<int64_t(const QString& folder)> freeSpaceOf;
    // Whether the process may write into folder.
    std::function<bool(const QString& folder)> canWriteTo;

    // ---- state read by tests and other windows ----
    int64_t selectTypeCount() const { return m_selectTypeCount; }
    int64_t selectSegmentCount() const { return m_selectSegmentCount; }
    void segmentSelect(int64_t mode);
    // The view-mode switch's pictures for the shown mode.
    void showSegmentImages();
    ZRDeletailCoverFlow* coverFlow() const { return m_coverFlow.get(); }
    const ZRNodeArray& allDiskArr() const { return m_allDiskArr; }
    const ZRNodeArray& allTypeArr() const { return m_allTypeArr; }
    const ZRNodeArray& allCreatTimeArr() const { return m_allCreatTimeArr; }
    const ZRNodeArray& allModifyTimeArr() const { return m_allModifyTimeArr; }
    const ZRNodeArray& activeRoots() const;
    const FileNodeArray& arrList() const { return m_arrList; }
    OpNodeData* opDataFile() const { return m_opDataFile.get(); }
    uint32_t selectedFileCnt() const { return m_selectedFileCnt; }
    uint64_t selectedFileSize() const { return m_selectedFileSize; }
    uint64_t selectValue() const { return m_selectValue; }
    uint64_t viewLoadCnt() const { return m_viewLoadCnt; }
    void setViewLoadCnt(uint64_t count) { m_viewLoadCnt = count; }
    int shuttingDown() const { return m_shuttingDown; }
    void setShuttingDown(int flag) { m_shuttingDown = flag; }
    int isPause() const { return m_isPause; }
    int isCanClick() const { return m_isCanClick; }
    int isImport() const { return m_isImport; }
    int isDeepScan() const { return m_isDeepScan; }
    int isCloseWindow() const { return m_isCloseWindow; }
    int isSelectBackHome() const { return m_isSelectBackHome; }
    int isSorted() const { return m_isSorted; }
    int isClodePopView() const { return m_isClodePopView; }
    int bSave() const { return m_bSave; }
    void setBSave(int flag) { m_bSave = flag; }
    QString sortIndicatorImage() const { return m_sortIndicatorImage; }
    QString sortIndicatorColumn() const { return m_aTableColumn; }
    QString selectAllButtonImage() const { return m_selectAllImage; }
    QString lastSearchStr() const { return m_lastSearchStr; }
    SheetKind currentSheetKind() const { return m_sheetKind; }
    QMessageBox* currentSheet() const { return m_sheet; }
    // Opens the sheet of that kind on the window (its texts from the table).
    void showSheet(SheetKind kind);
    // Answers the open sheet as its buttons would.
    void answerSheet(int code);
    bool isGone() const { return m_gone; }
    // The value last given to the progress bar (percent).
    float progressValue() const { return m_progressValue; }

    // The controls (created with the title bar); exposed for the tests and
    // for the recovery screens.
    QAbstractButton* backHomeButton = nullptr;
    QAbstractButton* continueButton = nullptr;
    QAbstractButton* pauseButton = nullptr;
    QAbstractButton* continueScanButton = nullptr;
    QAbstractButton* stopButton = nullptr;
    QAbstractButton* recovertyButton = nullptr;
    QAbstractButton* exportButton = nullptr;
    QAbstractButton* pathButton = nullptr;
    QAbstractButton* typeButton = nullptr;
    QAbstractButton* timeButton = nullptr;
    QAbstractButton* creatButton = nullptr;
    QAbstractButton* modifyButton = nullptr;
    QAbstractButton* listViewSelectAllButton = nullptr;
    QAbstractButton* coverViewSelectAllButton = nullptr;
    QAbstractButton* pointButton = nullptr;
    QWidget* segment = nullptr;
    QLabel* homeLabel = nullptr;
    QLabel* deepScanLabel = nullptr;
    QLabel* findFilesLabel = nullptr;
    QLabel* remainTimeLabel = nullptr;
    QLabel* selectFilesLabel = nullptr;
    QLabel* titleImage = nullptr;
    QLabel* loadImageView = nullptr;
    ZRProgressView* progressView = nullptr;
    QWidget* abox = nullptr;
    QWidget* subBox = nullptr;
    NewSearchTextFiled* search = nullptr;
    QWidget* aWindow = nullptr;
    QWidget* titleBarView = nullptr;
    CustemOutlineView* outlineView = nullptr;
    CustemOutlineView* timeOutlineView = nullptr;
    QWidget* PTOutlineViewBlowView = nullptr;
    QWidget* timeOutlineBlowView = nullptr;
    CustomTableView* tableView = nullptr;
    CustomTableView* coverFlowerTableView = nullptr;
    QWidget* tableScrollView = nullptr;
    QWidget* coverFlower = nullptr;
    QWidget* gridView = nullptr;
    QSplitter* splistView = nullptr;
    QWidget* splistLeftView = nullptr;
    QWidget* gridNoValueView = nullptr;
    MAAttachedWindow* attachedWindow = nullptr;  // owned while the offer is open
    QWidget* popView = nullptr;

    ZRDeletailBridge& bridge() const { return *m_bridge; }

    // ---- saving the scan result ----
    // The save-result button: asks for an "rsf" file, saves the result into
    // it behind the progress window and remembers the file on success.
    void exportButtonAction();
    // The close and back-home paths may leave the result.
    bool SaveScanResult() const { return true; }
    // The save panel: the start folder and the proposed file name in, the
    // chosen file out (an empty text when cancelled). The default runs a
    // file dialog; tests set their own.
    std::function<QString(const QString& folder, const QString& name)> chooseSaveFile;
    // The warning when the chosen file lies on the scanned device: 1 choose
    // again, 0 save nothing, -1 save there anyway. The default runs an alert.
    std::function<int()> runSaveSameDiskAlert;

signals:
    // The window is gone (closed for back home) or the application is to end.
    void windowGone();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWindow();
    void clearAllCheckMarks();
    void resetProgressLabels();
    // The cover flow's image thread and the grid's thumbnail queue.
    void stopImageLoading();
    void stopGridImageLoading();
    // The cover flow emptied and rebuilt from the first row.
    void rebuildCoverFlow();
    void addObservers();
    void removeObservers();
    void reloadOutlines();
    void keepTreesUntilReload();
    // The bridge's tree request; what the outlines showed stays alive until
    // they have reloaded.
    void fetchTreeNodes(ZRNodeArray& roots, bool clearNodeState);
    void reloadLists();
    ZRNodeArray& rootsOf(int64_t tree);
    void animateRecoveryButtonOut(int xOffset);
    void setTabImages(int64_t tree);
    void updateActiveGroupTree();
    void setSelectAllImage(const QString& image);
    bool scanRunsUnpaused() const;
    void setLabelFrame(QWidget* w, int x, int y, int width, int height);
    void setProgress(float percent);
    QString localized(const char* key) const;

    std::unique_ptr<ZRDeletailBridge> m_ownedBridge;
    ZRDeletailBridge* m_bridge = nullptr;
    ZRDeletailWindowControllerDelegate* m_delegate = nullptr;
    DiskVolumeNodeData* m_selectDiskVolumeData = nullptr;

    ZRNodeArray m_allDiskArr, m_allTypeArr, m_allCreatTimeArr, m_allModifyTimeArr;
    ZRNodeArray m_retiredNodes;
    // The cover flow and the grid of the right side, fed from arrList.
    std::unique_ptr<ZRDeletailCoverFlowHost> m_coverFlowHost;
    std::unique_ptr<ZRDeletailCoverFlow> m_coverFlow;
    FileNodeArray m_arrList;
    OpNodeDataPtr m_opDataFile;
    int64_t m_selectTypeCount = 0;
    int64_t m_selectSegmentCount = 0;
    int m_selectedRow = -1;
    int m_isSelectOutlineList = 0;
    int m_selectCellCount = 0;
    QString m_lastSearchStr;
    bool m_hasLastSearch = false;
    uint32_t m_selectedFileCnt = 0;
    uint64_t m_selectedFileSize = 0;
    uint64_t m_selectValue = 0;

    int m_isClodePopView = 0;
    int m_isDeepScan = 0;
    int m_isPause = 0;
    int m_isImport = 0;
    int m_isCanClick = 0;
    int m_isCloseWindow = 0;
    int m_isSelectBackHome = 0;
    int64_t m_lastUpdateTime = 0;
    int m_isCreateTimeTreeRebuild = 0;
    int m_isModifyTimeTreeRebuild = 0;
    int m_bSave = 0;
    int m_shuttingDown = 0;
    uint64_t m_viewLoadCnt = 0;
    int m_flowSelectedIndex = 0;
    int m_nImageState = -1;
    int m_gridImageState = -1;
    int m_isSorted = 0;
    QString m_aTableColumn;
    QString m_sortIndicatorImage;
    QString m_selectAllImage;
    int m_iNameSortCN = 0, m_iSizeSortCN = 0, m_iPathSortCN = 0, m_iTimeSortCN = 0;
    int64_t m_tPageStart = 0;
    int64_t m_tPageEnd = 0;
    bool m_deepScanOfferMade = false;
    bool m_observing = false;
    bool m_gone = false;
    float m_progressValue = 0;

    void startRecovery();
    void reportRecoveryStart();
    void releaseRecoveryProgressWindow();

    QPointer<QFileDialog> m_panel;
    QRect m_rectNew;
    QString m_recoverySavePathStr;
    int m_isBeginRecovery = 0;
    int m_isFinishRecovery = 0;
    int m_isRecoveryEndSHowWindow = 0;
    ZRShowScanProgressWindowController* m_recoveryProgressWindow = nullptr;
    bool m_recoveryModalRunning = false;
    bool m_releaseProgressAfterModal = false;
    int64_t m_recoveryClickStart = 0;
    int m_recoveryEndWindowsShown = 0;
    int m_recoveryNotEndWindowsShown = 0;

    // A closed offer's pop-over and view (the window owns the view, not the
    // pop-over) until their deferred deletion (or ours).
    QPointer<QWidget> m_retiredAttachedWindow;
    QPointer<QWidget> m_retiredPopView;
    QPointer<QMessageBox> m_sheet;
    SheetKind m_sheetKind = SheetKind::None;
};
