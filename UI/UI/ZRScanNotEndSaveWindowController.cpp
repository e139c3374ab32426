#include "ZRScanNotEndSaveWindowController.h"

#include <QLabel>
#include <QPushButton>

#include "BundleResources.h"

namespace {

constexpr int kWidth = 460;
constexpr int kHeight = 170;

}  // namespace

ZRScanNotEndSaveWindowController::ZRScanNotEndSaveWindowController(QObject* parent)
    : ZRPopupWindow(QSize(kWidth, kHeight), parent)
{
}

ZRScanNotEndSaveWindowController::~ZRScanNotEndSaveWindowController() = default;

void ZRScanNotEndSaveWindowController::loadInterface(QWidget* content)
{
    m_showRecoveryNoteLabel = MakeText(content, QRect(20, 20, kWidth - 40, 60), 13, true);
    m_showRecoveryNoteLabel->setTextFormat(Qt::PlainText);
    m_savePathLabel = new ZRLinkLabel(content);
    m_savePathLabel->setGeometry(20, 88, kWidth - 40, 20);
    connect(m_savePathLabel, &ZRLinkLabel::clicked, this, [this] { jumpToSavePath(m_savePathLabel); });
    m_openFailedNote = MakeOpenFailedNote(content, QRect(20, 108, kWidth - 160, 14));
    m_okButton = new QPushButton(content);
    m_okButton->setGeometry(kWidth - 120, 122, 100, 30);
    connect(m_okButton, &QPushButton::clicked, this, [this] { okButtonAction(m_okButton); });
}

void ZRScanNotEndSaveWindowController::awakeFromNib()
{
    m_okButton->setText(Bundle::LocalizedString(QStringLiteral("PAGE_FOUR_RECOVERY_STOP_BUTTON")));
    ZRPopupWindow::awakeFromNib();
}

void ZRScanNotEndSaveWindowController::changeRecoveryFilesPoint(double count, const QString& folder)
{
    window();
    const QString note =
        FormatWithOneNumber(Bundle::LocalizedString(QStringLiteral("PAGE_FOUR_RECOVER_NOTEND_NODE")), count);
    m_savePathLabel->setLinkText(folder);
    m_savePathLabel->setToolTip(folder);
    m_showRecoveryNoteLabel->setText(note);
    m_showRecoveryNoteLabel->update();
    m_savePtahStr = folder;
}

void ZRScanNotEndSaveWindowController::okButtonAction(QObject* /*sender*/)
{
    stopModal();
    closeWindowNow();
}

void ZRScanNotEndSaveWindowController::jumpToSavePath(QObject* /*sender*/)
{
    OpenFolderOrSay(m_savePtahStr, m_openFailedNote);
}
