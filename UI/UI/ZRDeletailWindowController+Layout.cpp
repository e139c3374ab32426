// The results window's title bar, its resize handling, the recover button's
// entrance, the empty-result notes, the refill of the right side and the
// split view's limits.
#include <QAbstractButton>
#include <QButtonGroup>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QSplitter>
#include <QToolButton>

#include <algorithm>

#include "BridgeUtil.h"
#include "BundleResources.h"
#include "MAAttachedWindow.h"
#include "ZRDeletailCoverFlow.h"
#include "TCImageButton.h"
#include "ZRDeletailLayout.h"
#include "ZRDeletailText.h"
#include "ZRProgressView.h"
#include "ZRDeletailWindowController.h"

namespace {

constexpr int kLeftPaneMin = 223;
constexpr int kLeftPaneMax = 400;

// A picture button of the title bar, drawn from its four pictures.
TCImageButton* MakeImageButton(QWidget* parent, const char* objectName, const QString& base)
{
    auto* button = new TCImageButton(parent);
    button->setObjectName(objectName);
    button->setImageFromFileNormalName(base + "_normal", base + "_press", base + "_hover", base + "_disable");
    return button;
}

QLabel* MakeLabel(QWidget* parent, const char* objectName, const QColor& color, int fontPixels)
{
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    QFont font = label->font();
    font.setPixelSize(fontPixels);
    label->setFont(font);
    return label;
}

}  // namespace

void ZRDeletailWindowController::setProgress(float percent)
{
    m_progressValue = percent;
    if (progressView)
        progressView->changeProgressValue(percent);
}

void ZRDeletailWindowController::setLabelFrame(QWidget* w, int x, int y, int width, int height)
{
    ZRSetFrame(w, x, y, width, height, w->property("zrFrameMask").toInt());
}

void ZRDeletailWindowController::buildDetailViewWindowTitleBar()
{
    const QColor captionColor(160, 170, 211);
    const QColor panelColor(172, 182, 220);
    if (!backHomeButton) {
        auto* home = MakeImageButton(titleBarView, "backHomeButton", "home");
        backHomeButton = home;
        ZRSetFrame(home, 28, 30, 32, 32);
        home->setEnabled(false);
        connect(home, &TCImageButton::clicked, this, [this] { backButtonAction(); });
        homeLabel = MakeLabel(titleBarView, "homeLabel", captionColor, 13);
        ZRSetFrame(homeLabel, 15, 13, 50, 18);
        homeLabel->setAlignment(Qt::AlignCenter);
        homeLabel->setText(localized("PAGE_FOUR_BACKHOME_BUTTON"));
    }
    if (!continueButton) {
        auto* deep = MakeImageButton(titleBarView, "continueButton", "deepscan");
        continueButton = deep;
        ZRSetFrame(deep, 110, 30, 32, 32);
        deep->hide();
        connect(deep, &TCImageButton::clicked, this, [this] { deepSrcanButtonAction(); });
        deepScanLabel = MakeLabel(titleBarView, "deepScanLabel", captionColor, 13);
        ZRSetFrame(deepScanLabel, 90, 13, 80, 18);
        deepScanLabel->hide();
        deepScanLabel->setAlignment(Qt::AlignCenter);
        deepScanLabel->setText(localized("PAGE_FOUR_DEEPSCAN_BUTTON"));
    }
    if (!abox) {
        abox = new QWidget(titleBarView);
        abox->setObjectName("abox");
        ZRSetFrame(abox, 250, 13, 450, 65, ZRFlexWidth);
        auto* background = new QLabel(abox);
        background->setPixmap(Bundle::ImageNamed("schedule_bg"));
        background->setScaledContents(true);
        ZRSetFrame(background, 0, 0, 450, 65, ZRFlexWidth);
        subBox = new QWidget(abox);
        subBox->setObjectName("subBox");
        ZRSetFrame(subBox, 0, 0, 450, 65, ZRFlexWidth);

        loadImageView = new QLabel(subBox);
        loadImageView->setObjectName("loadImageView");
        loadImageView->setPixmap(Bundle::ImageNamed("loading"));
        loadImageView->setScaledContents(true);
        ZRSetFrame(loadImageView, 14, 24, 16, 16);
        progressView = new ZRProgressView(QRect(0, 0, 348, 6), subBox);
        progressView->setObjectName("progressView");
        ZRSetFrame(progressView, 40, 19, 348, 6, ZRFlexWidth);
        setProgress(0);
        auto* pause = MakeImageButton(subBox, "pauseButton", "pause");
        pauseButton = pause;
        ZRSetFrame(pause, 398, 20, 16, 16, ZRFlexLeft);
        pause->setEnabled(false);
        connect(pause, &TCImageButton::clicked, this, [this, pause] { pauseButtonClick(pause); });
        auto* resume = MakeImageButton(subBox, "continueScanButton", "play");
        continueScanButton = resume;
        ZRSetFrame(resume, 398, 20, 16, 16, ZRFlexLeft);
        resume->hide();
        connect(resume, &TCImageButton::clicked, this, [this, resume] { pauseButtonClick(resume); });
        auto* stop = MakeImageButton(subBox, "stopButton", "stop");
        stopButton = stop;
        ZRSetFrame(stop, 424, 20, 16, 16, ZRFlexLeft);
        stop->setEnabled(false);
        connect(stop, &TCImageButton::clicked, this, [this, stop] { stopButtonClick(stop); });

        selectFilesLabel = MakeLabel(subBox, "selectFilesLabel", panelColor, 14);
        ZRSetFrame(selectFilesLabel, 40, 35, 380, 18, ZRFlexWidth);
        selectFilesLabel->hide();
        selectFilesLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        changeSelectCountLabelPos();
        selectFilesLabel->setText(ZRLocalizedFormat("PAGE_FOUR_SELECT_FILES", {"0 byte", "0"}));

        auto* recover = MakeImageButton(abox, "recovertyButton", "botton_recover");
        recovertyButton = recover;
        ZRSetFrame(recover, 175, 12, 100, 30, ZRFlexLeft);
        recover->setTextWithName(localized("PAGE_FOUR_RECOVERY_BUTTON"), QRect(0, 0, 100, 30));
        recover->hide();
        recover->setEnabled(false);
        connect(recover, &TCImageButton::clicked, this, [this] { recovrtyButtonClick(); });

        findFilesLabel = MakeLabel(subBox, "findFilesLabel", panelColor, 12);
        ZRSetFrame(findFilesLabel, 40, 30, 180, 17);
        remainTimeLabel = MakeLabel(subBox, "remainTimeLabel", panelColor, 12);
        ZRSetFrame(remainTimeLabel, 220, 30, 168, 17, ZRFlexLeft);
        remainTimeLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (!search) {
        search = new NewSearchTextFiled(titleBarView);
        search->setObjectName("search");
        ZRSetFrame(search, titleBarView->width() - 220, 30, 200, 30, ZRFlexLeft);
        search->setSearchDelegate(this);
    }
    remainTimeLabel->setText(ZRLocalizedFormat("PAGE_FOUR_REMAININGTIME", {"-:-:-"}));
    findFilesLabel->setText(ZRLocalizedFormat("PAGE_FOUR_FILESFOUND", {"0"}));
    setProgress(0);
}

void ZRDeletailWindowController::createExportButton(int flag)
{
    if (m_isImport)
        return;
    if (!exportButton) {
        auto* button = MakeImageButton(titleBarView, "exportButton", "export");
        exportButton = button;
        // Placed for the window's first width, then kept at the right edge.
        const int x = 966 + (titleBarView->width() - 1000);
        ZRSetFrame(button, x, 70, 16, 16, ZRFlexLeft);
        connect(button, &TCImageButton::clicked, this, [this] { exportButtonAction(); });
        if (flag == 0)
            button->setToolTip(localized("PAGE_FOUR_SAVE_BUTTON_TIP"));
        button->show();
    }
    if (flag == 1)
        exportButton->show();
}

void ZRDeletailWindowController::windowDidResize()
{
    if (!aWindow)
        return;
    ZRRelayout(titleBarView);
    const int T = titleBarView->width();
    // The title image keeps a point below the window's top edge, in front of
    // the progress panel's top rim.
    constexpr int kTitleImageSide = 15;
    const int top = std::min(81, titleBarView->height() - kTitleImageSide - 1);
    ZRSetFrame(titleImage, T / 2 - 118, top, kTitleImageSide, kTitleImageSide);
    titleImage->raise();

    double percent = 0;
    uint64_t found = 0;
    m_bridge->GetScanProgress(percent, found);
    setProgress(static_cast<float>(percent));

    QList<int> sizes = splistView->sizes();
    if (sizes.size() >= 2) {
        const int total = sizes[0] + sizes[1];
        int left = sizes[0];
        if (left < kLeftPaneMin)
            left = kLeftPaneMin;
        else if (left > kLeftPaneMax)
            left = kLeftPaneMax;
        if (left != sizes[0] && total > 0)
            splistView->setSizes({left, std::max(0, total - left)});
    }
    splistView->update();

    if (!m_isClodePopView && attachedWindow && popView) {
        // A new pop-over at the anchor's new place; the view moves over to it.
        popView->setParent(nullptr);
        delete attachedWindow;
        attachedWindow = nullptr;
        attachPopView();
    }
}

QSize ZRDeletailWindowController::minimumWindowSize() const
{
    constexpr int kBaseWidth = 1000;  // the width the title bar is laid out for
    constexpr int kNarrowest = 800;   // the title-bar groups keep apart
    constexpr int kMinimumHeight = 480;
    if (!selectFilesLabel)
        return QSize(kBaseWidth, kMinimumHeight);
    const QFontMetrics metrics = selectFilesLabel->fontMetrics();
    int text = 0;
    for (const char* key : {"PAGE_FOUR_SELECT_FILES", "PAGE_FOUR_ALL_FILES_SIZE"})
        text = std::max(text, metrics.horizontalAdvance(ZRLocalizedFormat(key, {"1023.99 GB", "9999999"})));
    // At the base width the centred line's frame spans 40 to 420 of the
    // panel, which the recover button has narrowed to 350; frame and panel
    // grow with the window by the same extra width. The line is whole while
    // its right end stays in the panel: 230 + extra / 2 + text / 2 <= 350 +
    // extra, that is extra >= text - 240 (a few points to spare).
    return QSize(std::max(kNarrowest, kBaseWidth + text + 8 - 240), kMinimumHeight);
}

int ZRDeletailWindowController::splitViewConstrainMinCoordinate(int dividerIndex) const
{
    return dividerIndex == 0 ? 224 : 1500;
}

int ZRDeletailWindowController::splitViewConstrainMaxCoordinate(int dividerIndex) const
{
    return dividerIndex == 0 ? 400 : 5000;
}

void ZRDeletailWindowController::showRecoveryButton()
{
    if (recovertyButton->isHidden()) {
        const int S = subBox->width();
        ZRSetFrame(recovertyButton, S + 110, 12, 100, 30, ZRFlexLeft);
        recovertyButton->show();
        const QRect box = ZRFrame(subBox);
        ZRSetFrame(subBox, box.x(), box.y(), box.width() - 100, box.height(), ZRFlexWidth);
        ZRSetFrame(recovertyButton, subBox->width() - 105, 12, 100, 30, ZRFlexLeft);
    }
    if (m_bridge->IsScanRunning()) {
        setLabelFrame(selectFilesLabel, 40, 35, 380, 18);
        selectFilesLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    } else {
        setLabelFrame(selectFilesLabel, 40, 40, 380, 18);
        selectFilesLabel->setAlignment(Qt::AlignCenter);
    }
    selectFilesLabel->show();
    findFilesLabel->hide();
    remainTimeLabel->hide();
    double percent = 0;
    uint64_t found = 0;
    m_bridge->GetScanProgress(percent, found);
    setProgress(static_cast<float>(percent));
}

void ZRDeletailWindowController::showNoValueNote()
{
    const bool hasValues = !(m_arrList.empty() && !m_allDiskArr.empty());
    tableView->changeNoValue(hasValues);
    coverFlowerTableView->changeNoValue(hasValues);
    changeNoValue(hasValues);
    switch (m_selectSegmentCount) {
    case kViewList:
        gridView->hide();
        coverFlower->hide();
        tableScrollView->show();
        break;
    case kViewCoverFlow:
        gridView->hide();
        coverFlower->show();
        tableScrollView->hide();
        break;
    case kViewGrid:
        gridView->show();
        coverFlower->hide();
        tableScrollView->hide();
        break;
    default:
        break;
    }
}

void ZRDeletailWindowController::changeNoValue(bool hasValues)
{
    if (hasValues) {
        delete gridNoValueView;
        gridNoValueView = nullptr;
        return;
    }
    if (gridNoValueView)
        return;
    gridNoValueView = new QWidget(gridView);
    gridNoValueView->setObjectName("gridNoValueView");
    gridNoValueView->setGeometry(0, 0, gridView->width(), std::max(0, gridView->height() - 1));
    auto* background = new QLabel(gridNoValueView);
    background->setPixmap(Bundle::ImageNamed("bg_150"));
    background->setScaledContents(true);
    background->setGeometry(gridNoValueView->rect());
    const int N = gridNoValueView->width();
    const int Hn = gridNoValueView->height();
    auto* nodeView = new QWidget(gridNoValueView);
    nodeView->setObjectName("nodeView");
    ZRSetFrame(nodeView, N / 2 - 200, Hn / 2, 400, 50);
    auto* textBackground = new QLabel(nodeView);
    textBackground->setPixmap(Bundle::ImageNamed("text_bg"));
    textBackground->setScaledContents(true);
    textBackground->setGeometry(0, 0, 400, 50);
    auto* text = new QLabel(localized("DYD_FOUR_NO_VALUE_NOTE"), nodeView);
    text->setAlignment(Qt::AlignCenter);
    QPalette palette = text->palette();
    palette.setColor(QPalette::WindowText, QColor(51, 59, 71));
    text->setPalette(palette);
    QFont font("Helvetica Light");
    font.setPixelSize(14);
    text->setFont(font);
    ZRSetFrame(text, 0, 16, 400, 18, ZRFlexWidth);
    gridNoValueView->show();
}

void ZRDeletailWindowController::refashDetailPageData()
{
    m_viewLoadCnt = 0;
    m_arrList.clear();
    reloadLists();
    if (m_opDataFile)
        m_bridge->GetFileNodeToArray(m_arrList, m_opDataFile.get());
    reloadOutlines();
    if (!m_bridge->IsScanRunning())
        segment->setEnabled(true);
    m_isSorted = 0;
    if (m_selectSegmentCount == kViewList) {
        reloadLists();
    } else if (m_selectSegmentCount == kViewGrid) {
        if (m_coverFlow)
            m_coverFlow->showGridView();
    } else {
        coverFlowerTableView->reloadData();
        m_nImageState = 0;
        if (m_coverFlow) {
            m_coverFlow->showCoverFlowerViewWithRefresh(true);
            m_coverFlow->startImageThread(0);
        }
    }
    changeSelectAllButtonState();
    showSelectFilesCountAndSize();
}

void ZRDeletailWindowController::reLoadAllDetailPage()
{
    m_arrList.clear();
    reloadLists();
    refashDetailPageData();
}

void ZRDeletailWindowController::refreshTableView()
{
    reloadLists();
}

void ZRDeletailWindowController::setButtonTitleColor(QAbstractButton* button, const QColor& color)
{
    if (!button)
        return;
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, color);
    palette.setColor(QPalette::WindowText, color);
    button->setPalette(palette);
}

namespace {
QAbstractButton* MakeSelectAllBox(CustomTableView* list, ZRDeletailWindowController* owner)
{
    auto* box = new QToolButton(list->headerView()->viewport());
    box->setObjectName("selectAllBox");
    box->setGeometry(4, 5, 13, 13);
    box->setAutoRaise(true);
    box->setIconSize(QSize(13, 13));
    box->setIcon(QIcon(Bundle::ImageNamed("checkbox_no")));
    QObject::connect(box, &QToolButton::clicked, owner, [owner] { owner->setAllSelectOrNoSelect(); });
    box->show();
    return box;
}
}  // namespace

QWidget* ZRDeletailWindowController::listViewTableHeaderView()
{
    if (!listViewSelectAllButton)
        listViewSelectAllButton = MakeSelectAllBox(tableView, this);
    return tableView->headerView();
}

QWidget* ZRDeletailWindowController::changeCoverViewTableHeaderView()
{
    if (!coverViewSelectAllButton)
        coverViewSelectAllButton = MakeSelectAllBox(coverFlowerTableView, this);
    return coverFlowerTableView->headerView();
}

void ZRDeletailWindowController::changeSelectCountLabelPos()
{
    if (Bundle::Language() == QLatin1String("es"))
        setLabelFrame(selectFilesLabel, 0, 30, 550, 15);
}

void ZRDeletailWindowController::showSegmentImages()
{
    // Each mode's picture: the focused one for the shown mode, the idle one
    // for the others.
    static const char* const kImages[3][2] = {
        {"list_focus", "list_no_hover"}, {"preview_focus", "preview_no_hover"}, {"grid_focus", "grid_no_hover"}};
    auto* group = segment ? segment->findChild<QButtonGroup*>() : nullptr;
    if (!group)
        return;
    for (int i = 0; i < 3; ++i)
        if (QAbstractButton* b = group->button(i))
            b->setIcon(QIcon(Bundle::ImageNamed(QString::fromLatin1(kImages[i][i == m_selectSegmentCount ? 0 : 1]))));
}

void ZRDeletailWindowController::segmentSelect(int64_t mode)
{
    if (mode < kViewList || mode > kViewGrid)
        return;
    m_selectSegmentCount = mode;
    if (auto* group = segment->findChild<QButtonGroup*>())
        if (QAbstractButton* b = group->button(static_cast<int>(mode)))
            b->setChecked(true);
    showSegmentImages();
    showNoValueNote();
    refashDetailPageData();
}
