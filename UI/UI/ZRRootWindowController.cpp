#include "ZRRootWindowController.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QPropertyAnimation>
#include <QTimer>

#include <cstdio>

#include "BundleResources.h"
#include "NotificationCenter.h"
#include "TCImageButton.h"
#include "ZRRootEngine.h"
#include "ZRShellWindowParts.h"

namespace {

constexpr int kRootWidth = 1000;
constexpr int kRootHeight = 538;
constexpr int kFadeMs = 250;
constexpr int kGetDataDelayMs = 300;
constexpr quint64 kWholeDiskMargin = 100000;  // bytes of a disk outside its only volume
constexpr unsigned int kEveryType = 127;
constexpr int kSlide = 1000;

ZRRootWindowHooks& Hooks()
{
    static ZRRootWindowHooks hooks;
    return hooks;
}

QString Text(const char* key) { return Bundle::LocalizedString(QString::fromLatin1(key)); }

void Activate(QWidget* window)
{
    if (window && window->isVisible()) {
        window->raise();
        window->activateWindow();
    }
}

}  // namespace

// ---- start page

ZRComeInViewController::ZRComeInViewController(QWidget* parent) : QWidget(parent)
{
    resize(kRootWidth, kRootHeight);
    m_blowTitleLabel = new QLabel(this);
    m_blowTitleLabel->setGeometry(0, 300, kRootWidth, 30);
    m_blowTitleLabel->setAlignment(Qt::AlignCenter);
    m_blowNodeLabel = new QLabel(this);
    m_blowNodeLabel->setGeometry(0, 340, kRootWidth, 40);
    m_blowNodeLabel->setAlignment(Qt::AlignCenter);
    awakeFromNib();
}

void ZRComeInViewController::awakeFromNib()
{
    m_blowTitleLabel->setText(Text("PAGE_ONE_BLOW_TITLE"));
    m_blowNodeLabel->setText(Text("PAGE_ONE_BLOW_DISCRIPTION"));
}

void ZRComeInViewController::InfoButtonClick(QObject* sender)
{
    if (m_delegate)
        m_delegate->InfoButtonClick(sender);
}

void ZRComeInViewController::iconButtonAction(QObject* /*sender*/)
{
    ZRRootEngine::current().OpenUrl(Text("MAIN_ICON_LINK"));
}

// ---- root window

void ZRRootWindowController::setHooks(ZRRootWindowHooks hooks) { Hooks() = std::move(hooks); }

const ZRRootWindowHooks& ZRRootWindowController::hooks() { return Hooks(); }

ZRRootWindowController::ZRRootWindowController(QObject* parent) : QObject(parent)
{
    aWindow = new TCImageWindow(QRect(0, 0, kRootWidth, kRootHeight));
    // The pages are laid out for this size; the window grows, never shrinks.
    aWindow->setMinimumSize(aWindow->size());
    aWindow->setDelegate(this);
    awakeFromNib();
    windowDidLoad();
}

ZRRootWindowController::~ZRRootWindowController()
{
    NotificationCenter::defaultCenter().RemoveObserver(this);
    m_deletailWC.reset();
    if (m_fade)
        m_fade->stop();
    if (aWindow) {
        aWindow->setDelegate(nullptr);
        delete aWindow.data();  // takes the pages, the title label and the import button with it
    }
    delete m_comeInVC;
}

QWidget* ZRRootWindowController::contentView() const { return aWindow ? aWindow->contentView() : nullptr; }

void ZRRootWindowController::fadeTo(qreal opacity) { FadeWindowTo(m_fade, aWindow, opacity); }

void ZRRootWindowController::awakeFromNib()
{
    m_shuttingDown = 0;
    m_fade = new QPropertyAnimation(aWindow, "windowOpacity", this);
    m_fade->setDuration(kFadeMs);
    connect(m_fade, &QPropertyAnimation::finished, this, [this] { animationDidStop(); });
    if (!aWindow->isVisible()) {
        aWindow->setWindowOpacity(0);
        fadeTo(1);
    }
}

void ZRRootWindowController::windowDidLoad()
{
    ZRRootEngine& engine = ZRRootEngine::current();
    if (engine.IsAppRunning()) {
        // A second copy of the program never opens a window.
        engine.CloseApp();
        return;
    }
    engine.initFileType();
    NotificationCenter::defaultCenter().AddObserver(this, "ShowDetailWindow",
                                                    [this](const Notification&) { showDetailWindow(); });
    aWindow->setTitleBarHeight(22);
    aWindow->setProperty(kTCApplicationMenuProperty, true);
    aWindow->setTrafficLightButtonsLeftMargin(8);
    aWindow->setTopButtonMoveUp(1);
    m_titleBarView = aWindow->titleBarView();
    CentreOnScreen(aWindow);

    buildTileBarView();
    buildFristPageView();

    if (TCStandardWindowButton* close = aWindow->standardWindowButton(NSWindowCloseButton))
        close->setAction([this] { closeWindow(aWindow); });
    Activate(aWindow);
    engine.ReleaseDataRecovery();
}

void ZRRootWindowController::showWindow()
{
    if (!aWindow)
        return;
    aWindow->show();
    CentreOnScreen(aWindow);
    Activate(aWindow);
}

void ZRRootWindowController::buildTileBarView()
{
    aWindow->setShowsTitle(false);
    if (!m_titleLabel && m_titleBarView)
        m_titleLabel = MakeWindowTitleLabel(m_titleBarView);
    createImportButton();
}

void ZRRootWindowController::createImportButton()
{
    if (m_importButton || !m_titleBarView)
        return;
    m_importButton = new TCImageButton(QRect(966, 2, 16, 16), m_titleBarView);
    m_importButton->setImageFromFileNormalName(QStringLiteral("import_normal"), QStringLiteral("import_press"),
                                               QStringLiteral("import_hover"), QStringLiteral("import_disable"));
    m_importButton->setToolTip(Text("PAGE_TWO_IMPORT_BUTTON_TIP"));
    connect(m_importButton, &QAbstractButton::clicked, this, [this] { importButtonClick(m_importButton); });
    m_importButton->hide();
}

void ZRRootWindowController::closeWindow(QObject* /*sender*/)
{
    if (aWindow)
        aWindow->hide();
    NotificationCenter::defaultCenter().PostNotification("appWillTerminate");
}

bool ZRRootWindowController::windowShouldClose(TCImageWindow* /*sender*/)
{
    fadeTo(0);
    return false;
}

bool ZRRootWindowController::applicationShouldTerminate()
{
    if (m_shuttingDown)
        return true;
    fadeTo(0);
    m_shuttingDown = 1;
    return false;
}

void ZRRootWindowController::animationDidStop()
{
    if (!aWindow || aWindow->windowOpacity() > 0)
        return;
    aWindow->close();
    if (m_shuttingDown)
        QCoreApplication::quit();
}

void ZRRootWindowController::showDetailWindow()
{
    if (m_deletailWC && m_deletailWC->window()) {
        m_deletailWC->window()->show();
        Activate(m_deletailWC->window());
    }
}

// ---- wizard

void ZRRootWindowController::buildFristPageView() { InfoButtonClick(nullptr); }

void ZRRootWindowController::InfoButtonClick(QObject* /*sender*/)
{
    if (m_selectTypeVC) {
        delete m_selectDiskVC.data();
        // A page left behind would keep drawing under the new one.
        delete m_selectTypeVC.data();
    }
    m_selectTypeVC = new ZRSelectTypeViewController(contentView());
    m_selectTypeVC->setDelegate(this);
    m_selectTypeVC->move(0, 0);
    m_selectTypeVC->show();
    m_selectTypeVC->setSelectAllCount(0);
    m_selectTypeVC->allTypesButtonClick(nullptr);
    m_whichPage = 2;
    if (m_importButton)
        m_importButton->hide();
}

void ZRRootWindowController::changeContinueButtonState(const QStringList& selectArr)
{
    unsigned int mask = 0;
    for (const QString& text : selectArr)
        mask |= text.toUInt();
    m_selectValues = mask;
}

void ZRRootWindowController::beginToStartScan() { selectTypesContinouButtonClick(nullptr); }

void ZRRootWindowController::doubleClickedListToScan() { selectTypesContinouButtonClick(nullptr); }

void ZRRootWindowController::changeSelectDiskViewContinueButtonEnabled(const DiskVolumeNodeDataPtr& selection)
{
    if (selection)
        m_selectVolumeData = selection;
}

void ZRRootWindowController::backHomeButtonAction() { backHome(nullptr); }

void ZRRootWindowController::getDiskData()
{
    NotificationCenter::defaultCenter().RemoveObserver(this);
    ZRRootEngine::current().NotifiyDeviceInfoAfterInit(QStringLiteral("aInitFinished"));
    NotificationCenter::defaultCenter().AddObserver(this, "aInitFinished", [this](const Notification&) { InitFinished(); });
}

void ZRRootWindowController::InitFinished()
{
    ZRRootEngine& engine = ZRRootEngine::current();
    DiskVolumeNodeArray disks;
    engine.GetDeviceInfoToArray(&disks);

    int counter = 0;
    DiskVolumeNodeDataPtr firstVolume;
    DiskVolumeNodeDataPtr lastVolume;
    for (const DiskVolumeNodeDataPtr& disk : disks) {
        if (!disk)
            continue;
        quint64 lastCapacity = 0;
        for (const DiskVolumeNodeDataPtr& volume : disk->children()) {
            if (!volume)
                continue;
            ++counter;
            lastCapacity = volume->capacity();
            lastVolume = volume;
            if (counter == 1)
                firstVolume = volume;
        }
        // One volume that leaves a good part of its disk outside: the whole
        // disk is a second candidate.
        if (counter == 1 && disk->capacity() > lastCapacity && disk->capacity() - lastCapacity >= kWholeDiskMargin)
            ++counter;
    }

    if (m_importButton)
        m_importButton->show();
    m_whichPage = 3;
    engine.SetRecoveryType(m_selectValues);

    if (counter < 2 && !disks.empty()) {
        m_selectVolumeData = lastVolume;
        selectTypesContinouButtonClick(nullptr);
    } else {
        delete m_selectDiskVC.data();
        m_selectDiskVC = new ZRSelectDiskViewController(contentView());
        m_selectDiskVC->setDelegate(this);
        m_selectDiskVC->move(916, -30);
        m_selectDiskVC->show();
        animationContinueViewFristView(m_selectTypeVC, m_selectDiskVC);
        m_selectDiskVC->setSelectDiskVolume(firstVolume);
        m_selectDiskVC->setAllDiskArr(disks);
        m_selectDiskVC->InitFinished();
    }
    NotificationCenter::defaultCenter().RemoveObserver(this);
}

void ZRRootWindowController::selectTypesContinouButtonClick(QObject* /*sender*/)
{
    if (m_whichPage == 2) {
        getDiskData();
        return;
    }
    if (!m_selectVolumeData || !m_selectVolumeData->beCanOpen()) {
        if (Hooks().runAPFSNotice)
            Hooks().runAPFSNotice();
        else
            std::fprintf(stderr, "The chosen device cannot be opened for a scan.\n");
        Activate(aWindow);
        return;
    }
    openResultsWindow();
}

void ZRRootWindowController::placeResultsWindow()
{
    QWidget* results = m_deletailWC ? m_deletailWC->window() : nullptr;
    if (!results || !aWindow)
        return;
    // The results window's lower edge sits 50 points below the root window's.
    const QRect root = aWindow->frameGeometry();
    const int bottom = root.y() + root.height() + 50;
    results->move(root.x(), bottom - results->frameGeometry().height());
}

void ZRRootWindowController::openResultsWindow()
{
    if (m_selectDiskVC) {
        m_selectDiskVC->removeNotification();
        m_selectDiskVC->disableRefreshDevice();
    }
    aWindow->close();
    m_deletailWC.reset();
    if (m_importButton)
        m_importButton->hide();
    if (Hooks().makeResultsWindow)
        m_deletailWC = Hooks().makeResultsWindow(this);
    if (!m_deletailWC) {
        std::fprintf(stderr, "The results window is not available.\n");
        return;
    }
    m_deletailWC->setSelectDiskVolumeData(m_selectVolumeData.get());
    placeResultsWindow();
    if (QWidget* window = m_deletailWC->window()) {
        window->show();
        Activate(window);
    }
    QTimer::singleShot(kGetDataDelayMs, this, [this] { getDataForDeletailPage(); });
    NotificationCenter::defaultCenter().RemoveObserver(this);
}

void ZRRootWindowController::backHome(QObject* /*sender*/)
{
    if (m_whichPage == 3) {
        animationBackViewFristView(m_selectTypeVC, m_selectDiskVC);
        m_whichPage = 2;
        if (m_importButton)
            m_importButton->hide();
    } else {
        animationBackViewFristView(m_comeInVC, m_selectTypeVC);
        if (m_titleBarView)
            m_titleBarView->update();
        m_whichPage = 1;
        if (m_importButton)
            m_importButton->show();
    }
}

void ZRRootWindowController::importButtonClick(QObject* /*sender*/)
{
    ZRRootEngine& engine = ZRRootEngine::current();
    const QString folder = engine.GetSavePath();
    QString path;
    if (Hooks().chooseImportFile)
        path = Hooks().chooseImportFile(folder);
    else
        path = QFileDialog::getOpenFileName(aWindow, QString(), folder, QStringLiteral("*.rsf"));
    if (path.isEmpty())
        return;

    engine.SetRecoveryType(kEveryType);
    m_importFilePath = path;
    m_deletailWC.reset();
    if (m_importButton)
        m_importButton->hide();
    if (Hooks().makeResultsWindow)
        m_deletailWC = Hooks().makeResultsWindow(this);
    if (!m_deletailWC) {
        std::fprintf(stderr, "The results window is not available.\n");
        return;
    }
    placeResultsWindow();
    if (QWidget* window = m_deletailWC->window())
        window->hide();
    if (m_whichPage == 3)
        NotificationCenter::defaultCenter().AddObserver(this, "ShowDetailWindow",
                                                        [this](const Notification&) { showDetailWindow(); });
    int result = 0;
    if (Hooks().runImportProgress)
        result = Hooks().runImportProgress([this] { getImportDataForDetialPage(); });
    else
        std::fprintf(stderr, "The scan-result progress window is not available.\n");
    Activate(aWindow);
    NotificationCenter::defaultCenter().RemoveObserver(this);

    if (result != 0 && m_deletailWC) {
        delete m_selectDiskVC.data();
        aWindow->close();
        if (QWidget* window = m_deletailWC->window()) {
            window->show();
            Activate(window);
        }
    } else if (m_deletailWC) {
        m_deletailWC->clearImportData();
        if (QWidget* window = m_deletailWC->window())
            window->close();
        m_deletailWC.reset();
    }
}

void ZRRootWindowController::getDataForDeletailPage()
{
    if (m_deletailWC)
        m_deletailWC->getData();
}

void ZRRootWindowController::getImportDataForDetialPage()
{
    if (m_selectDiskVC)
        m_selectDiskVC->disableRefreshDevice();
    ZRRootEngine::current().beginSaveOrRestoreNode(false, m_importFilePath);
    if (m_deletailWC)
        m_deletailWC->getImportData(m_importFilePath);
}

void ZRRootWindowController::animationContinueViewFristView(QWidget* first, QWidget* second)
{
    if (first)
        first->move(-kSlide, 0);
    if (second)
        second->move(0, 0);
}

void ZRRootWindowController::animationBackViewFristView(QWidget* first, QWidget* second)
{
    if (first)
        first->move(0, 0);
    if (second)
        second->move(kSlide, 0);
}
