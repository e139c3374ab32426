#include "ZRShowScanProgressWindowController.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include "BundleResources.h"
#include "TCImageButton.h"

namespace {

constexpr int kWidth = 460;
constexpr int kHeight = 170;

QString Text(const char* key) { return Bundle::LocalizedString(QString::fromLatin1(key)); }

}  // namespace

void ZRShowScanProgressWindowControllerDelegate::stopButtonAction(int /*action*/) {}

ZRShowScanProgressWindowController::ZRShowScanProgressWindowController(QObject* parent)
    : ZRPopupWindow(QSize(kWidth, kHeight), parent)
{
}

ZRShowScanProgressWindowController::~ZRShowScanProgressWindowController() = default;

void ZRShowScanProgressWindowController::loadInterface(QWidget* content)
{
    const QRect page(0, 0, kWidth, kHeight);

    m_recoveryProgressView = new QWidget(content);
    m_recoveryProgressView->setGeometry(page);
    m_titleLabel = MakeText(m_recoveryProgressView, QRect(20, 16, kWidth - 40, 20), 14, false);
    m_progressBar = new QProgressBar(m_recoveryProgressView);
    m_progressBar->setGeometry(20, 50, kWidth - 40, 16);
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);
    m_scaningFileName = MakeText(m_recoveryProgressView, QRect(20, 74, kWidth - 40, 18), 11, false);
    m_scaningFileName->setTextFormat(Qt::PlainText);
    m_stopButton = new QPushButton(m_recoveryProgressView);
    m_stopButton->setGeometry(kWidth - 120, 120, 100, 30);
    m_stopButton->setText(Text("PAGE_FOUR_RECOVERY_STOP_YES_BUTTON"));
    connect(m_stopButton, &QPushButton::clicked, this, [this] { stopProgressButtonAction(m_stopButton); });

    m_warningView = new QWidget(content);
    m_warningView->setGeometry(page);
    m_warningTitle = MakeText(m_warningView, QRect(20, 16, kWidth - 40, 20), 14, false);
    m_warningNode = MakeText(m_warningView, QRect(20, 44, kWidth - 40, 60), 12, true);
    m_noButton = MakeCaptionButton(m_warningView, QRect(kWidth - 240, 120, 100, 30));
    m_yesButton = MakeCaptionButton(m_warningView, QRect(kWidth - 120, 120, 100, 30));
    connect(m_noButton, &QAbstractButton::clicked, this, [this] { noButtonAction(m_noButton); });
    connect(m_yesButton, &QAbstractButton::clicked, this, [this] { yesButtonAction(m_yesButton); });
    m_warningView->hide();

    m_noMemeryView = new QWidget(content);
    m_noMemeryView->setGeometry(page);
    m_noMemeryTitle = MakeText(m_noMemeryView, QRect(20, 16, kWidth - 40, 20), 14, false);
    m_noMemeryNode = MakeText(m_noMemeryView, QRect(20, 44, kWidth - 40, 60), 12, true);
    m_noMemeryContinueButton = MakeCaptionButton(m_noMemeryView, QRect(kWidth - 240, 120, 100, 30));
    m_noMemeryCancelButton = MakeCaptionButton(m_noMemeryView, QRect(kWidth - 120, 120, 100, 30));
    connect(m_noMemeryContinueButton, &QAbstractButton::clicked, this,
            [this] { continueButtonAction(m_noMemeryContinueButton); });
    connect(m_noMemeryCancelButton, &QAbstractButton::clicked, this,
            [this] { cancelButtonAction(m_noMemeryCancelButton); });
    m_noMemeryView->hide();
}

void ZRShowScanProgressWindowController::awakeFromNib()
{
    m_titleLabel->setText(Text("PAGE_FOUR_RECOVER_PROGRESS_TITLE"));
    m_warningTitle->setText(Text("PAGE_FOUR_RECOVERY_STOP_TITLE"));
    m_warningNode->setText(Text("PAGE_FOUR_RECOVERY_STOP_NODE"));
    m_yesButton->setTextWithName(Text("PAGE_FOUR_RECOVERY_STOP_YES_BUTTON"), QRect(0, 0, 100, 30));
    m_noButton->setTextWithName(Text("PAGE_FOUR_RECOVERY_STOP_NO_BUTTON"), QRect(0, 0, 100, 30));
    m_noMemeryTitle->setText(Text("PAGE_FOUR_RECOVERY_NO_SPACE_TITLE"));
    m_noMemeryNode->setText(Text("PAGE_FOUR_RECOVERY_NO_SPACE_NODE"));
    // The destination-full view goes on with the no-space warning's going-on
    // caption; its other button stops the recovery and says so (the
    // warning's "choose another folder" has no meaning here).
    m_noMemeryContinueButton->setTextWithName(Text("PAGE_FOUR_RECOVERY_NO_SPACE_NO_BUTTON"), QRect(0, 0, 100, 30));
    m_noMemeryCancelButton->setTextWithName(Text("PAGE_FOUR_RECOVERY_STOP_YES_BUTTON"), QRect(0, 0, 100, 30));
    ZRPopupWindow::awakeFromNib();
}

void ZRShowScanProgressWindowController::windowDidLoad()
{
    buildPopupTitleBar();
    m_yesButton->setButtonEnabled(true);
    m_noButton->setButtonEnabled(true);
    m_noMemeryContinueButton->setButtonEnabled(true);
    m_noMemeryCancelButton->setButtonEnabled(true);
}

void ZRShowScanProgressWindowController::changeProgressValue(double percent, const QString& scaningFileName)
{
    window();
    m_dProgress = percent;
    m_progressBar->setValue(static_cast<int>(qBound(0.0, percent, 100.0)));
    if (!scaningFileName.isNull()) {
        m_scaningFileName->setText(scaningFileName);
        m_scaningFileName->update();
    }
}

void ZRShowScanProgressWindowController::showOnly(QWidget* ZRShowScanProgressWindowController::*view)
{
    // The views exist once the window is loaded: which one to show is read
    // only then (a failed write can be the first thing the window hears of).
    window();
    for (QWidget* each : {m_recoveryProgressView, m_warningView, m_noMemeryView})
        each->setVisible(each == this->*view);
}

// A failed write pauses the recovery; the user either goes on (after making
// room) or stops. The stop confirmation is put away too, so that its text is
// still there the next time the stop button is pressed.
void ZRShowScanProgressWindowController::setNoMemeryViewHidden() { showOnly(&ZRShowScanProgressWindowController::m_noMemeryView); }

void ZRShowScanProgressWindowController::tellDelegate(int action)
{
    if (m_delegate)
        m_delegate->stopButtonAction(action);
}

void ZRShowScanProgressWindowController::stopProgressButtonAction(QObject* /*sender*/)
{
    showOnly(&ZRShowScanProgressWindowController::m_warningView);
    tellDelegate(1);
}

void ZRShowScanProgressWindowController::noButtonAction(QObject* /*sender*/)
{
    showOnly(&ZRShowScanProgressWindowController::m_recoveryProgressView);
    tellDelegate(1);
}

void ZRShowScanProgressWindowController::yesButtonAction(QObject* /*sender*/)
{
    stopModal();
    tellDelegate(2);
}

void ZRShowScanProgressWindowController::continueButtonAction(QObject* /*sender*/)
{
    showOnly(&ZRShowScanProgressWindowController::m_recoveryProgressView);
    tellDelegate(1);
}

void ZRShowScanProgressWindowController::cancelButtonAction(QObject* /*sender*/)
{
    stopModal();
    tellDelegate(2);
}
