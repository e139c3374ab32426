// The root window: the first window of the program, a title-bar window that
// hosts the wizard pages one after another. It opens on the file-type page,
// turns the chosen kinds into the engine's filter mask, waits for the device
// list, skips the disk page when there is at most one candidate volume and
// hands the chosen disk or volume to a new results window, which starts the
// scan. From the disk page an import button loads a saved scan result
// instead.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

#include "DiskVolumeNodeData.h"
#include "KLTitlebarView.h"
#include "TCImageButton.h"
#include "TCImageWindow.h"
#include "ZRSelectDiskViewController.h"
#include "ZRSelectTypeViewController.h"

class QLabel;
class QPropertyAnimation;
class QWidget;
class TCImageButton;
class ZRRootWindowController;

// What the root window needs of the results window it opens.
class ZRRootResultsWindow {
public:
    virtual ~ZRRootResultsWindow() = default;
    virtual void setSelectDiskVolumeData(DiskVolumeNodeData* data) = 0;
    virtual void getData() = 0;
    virtual void getImportData(const QString& path) = 0;
    virtual void clearImportData() = 0;
    virtual QWidget* window() = 0;
};

// The windows the root window opens but does not own the code of. The
// program sets them at start; tests set scripted ones.
struct ZRRootWindowHooks {
    // A new results window (hidden).
    std::function<std::unique_ptr<ZRRootResultsWindow>(ZRRootWindowController* owner)> makeResultsWindow;
    // The notice for a device that cannot be opened, run modally.
    std::function<void()> runAPFSNotice;
    // The scan-result progress window of a load ("NormalScranValue", not a
    // save): made and centred, then startLoad is called, then it runs
    // modally; answers its result (non-zero: the load succeeded).
    std::function<int(const std::function<void()>& startLoad)> runImportProgress;
    // The open panel for "rsf" files starting in folder; empty when cancelled.
    std::function<QString(const QString& folder)> chooseImportFile;
};

// The start page (page 1). Nothing in the program shows it; it is kept for
// the wizard's first step.
class ZRComeInViewControllerDelegate {
public:
    virtual ~ZRComeInViewControllerDelegate() = default;
    virtual void InfoButtonClick(QObject* /*sender*/) {}
};

class ZRComeInViewController : public QWidget {
    Q_OBJECT
public:
    explicit ZRComeInViewController(QWidget* parent = nullptr);
    QLabel* blowTitleLabel() const { return m_blowTitleLabel; }
    QLabel* blowNodeLabel() const { return m_blowNodeLabel; }
    ZRComeInViewControllerDelegate* delegate() const { return m_delegate; }
    void setDelegate(ZRComeInViewControllerDelegate* delegate) { m_delegate = delegate; }
    void awakeFromNib();
    void InfoButtonClick(QObject* sender);
    void iconButtonAction(QObject* sender);

private:
    QLabel* m_blowTitleLabel = nullptr;
    QLabel* m_blowNodeLabel = nullptr;
    ZRComeInViewControllerDelegate* m_delegate = nullptr;
};

class ZRRootWindowController : public QObject,
                               public TCImageWindowDelegate,
                               public ZRSelectTypeViewControllerDelegate,
                               public ZRSelectDiskViewControllerDelegate,
                               public ZRComeInViewControllerDelegate {
    Q_OBJECT
public:
    // Makes the window and runs its loading (a second running copy of the
    // program ends here with status 0).
    explicit ZRRootWindowController(QObject* parent = nullptr);
    ~ZRRootWindowController() override;

    static void setHooks(ZRRootWindowHooks hooks);
    static const ZRRootWindowHooks& hooks();

    int shuttingDown() const { return m_shuttingDown; }
    void setShuttingDown(int flag) { m_shuttingDown = flag; }
    int isNotFristLoad() const { return m_isNotFristLoad; }
    void setIsNotFristLoad(int flag) { m_isNotFristLoad = flag; }
    TCImageWindow* window() const { return aWindow; }
    QWidget* titleBarView() const { return m_titleBarView; }
    QLabel* titleLabel() const { return m_titleLabel; }
    TCImageButton* importButton() const { return m_importButton; }
    ZRSelectTypeViewController* selectTypeVC() const { return m_selectTypeVC; }
    ZRSelectDiskViewController* selectDiskVC() const { return m_selectDiskVC; }
    ZRRootResultsWindow* deletailWC() const { return m_deletailWC.get(); }
    int whichPage() const { return m_whichPage; }
    const DiskVolumeNodeDataPtr& selectVolumeData() const { return m_selectVolumeData; }
    unsigned int selectValues() const { return m_selectValues; }
    const QString& importFilePath() const { return m_importFilePath; }

    void showWindow();
    void awakeFromNib();
    void windowDidLoad();
    void buildTileBarView();
    void createImportButton();
    void closeWindow(QObject* sender = nullptr);
    bool windowShouldClose(TCImageWindow* sender) override;
    bool applicationShouldTerminate();
    void animationDidStop();
    void showDetailWindow();

    void buildFristPageView();
    void InfoButtonClick(QObject* sender) override;
    void changeContinueButtonState(const QStringList& selectArr) override;
    void beginToStartScan() override;
    void doubleClickedListToScan() override;
    void changeSelectDiskViewContinueButtonEnabled(const DiskVolumeNodeDataPtr& selection) override;
    void backHomeButtonAction() override;
    void getDiskData();
    void InitFinished();
    void selectTypesContinouButtonClick(QObject* sender = nullptr);
    void backHome(QObject* sender = nullptr);
    void importButtonClick(QObject* sender = nullptr);
    void getDataForDeletailPage();
    void getImportDataForDetialPage();
    void animationContinueViewFristView(QWidget* first, QWidget* second);
    void animationBackViewFristView(QWidget* first, QWidget* second);

private:
    void fadeTo(qreal opacity);
    void openResultsWindow();
    void placeResultsWindow();
    QWidget* contentView() const;

    int m_shuttingDown = 0;
    QPointer<TCImageWindow> aWindow;
    QPointer<QWidget> m_titleBarView;
    QLabel* m_titleLabel = nullptr;
    ZRComeInViewController* m_comeInVC = nullptr;
    QPointer<ZRSelectTypeViewController> m_selectTypeVC;
    QPointer<ZRSelectDiskViewController> m_selectDiskVC;
    std::unique_ptr<ZRRootResultsWindow> m_deletailWC;
    QPointer<TCImageButton> m_importButton;
    QString m_importFilePath;
    int m_whichPage = 0;
    // Kept alive here: a device refresh on the disk page replaces the list
    // the selection came from.
    DiskVolumeNodeDataPtr m_selectVolumeData;
    unsigned int m_selectValues = 0;
    int m_isNotFristLoad = 0;
    QPropertyAnimation* m_fade = nullptr;
};
