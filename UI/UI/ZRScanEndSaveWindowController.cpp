#include "ZRScanEndSaveWindowController.h"

#include <QLabel>
#include <QPushButton>

#include "BundleResources.h"
#include "ZRLinkUrl.h"
#include "ZRUIController.h"

namespace {

constexpr int kWidth = 460;
constexpr int kHeight = 200;

QString Text(const char* key) { return Bundle::LocalizedString(QString::fromLatin1(key)); }

QPushButton* MakeSocialButton(QWidget* parent, const QString& image, int x)
{
    auto* button = new QPushButton(parent);
    button->setGeometry(x, 156, 24, 24);
    button->setFlat(true);
    button->setIcon(QIcon(Bundle::ImageNamed(image)));
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

}  // namespace

ZRScanEndSaveWindowController::ZRScanEndSaveWindowController(QObject* parent)
    : ZRPopupWindow(QSize(kWidth, kHeight), parent)
{
}

ZRScanEndSaveWindowController::~ZRScanEndSaveWindowController() = default;

void ZRScanEndSaveWindowController::loadInterface(QWidget* content)
{
    m_recoveryEndTitle = MakeText(content, QRect(20, 16, kWidth - 40, 20), 14, false);
    m_recoveryEndNode = MakeText(content, QRect(20, 44, kWidth - 40, 50), 12, true);
    m_savePathLabel = new ZRLinkLabel(content);
    m_savePathLabel->setGeometry(20, 100, kWidth - 40, 20);
    connect(m_savePathLabel, &ZRLinkLabel::clicked, this, [this] { jumpToSavePath(m_savePathLabel); });
    m_openFailedNote = MakeOpenFailedNote(content, QRect(20, 124, kWidth - 160, 18));
    m_okButton = new QPushButton(content);
    m_okButton->setGeometry(kWidth - 120, 152, 100, 30);
    connect(m_okButton, &QPushButton::clicked, this, [this] { okButtonAction(m_okButton); });
    m_facebookButton = MakeSocialButton(content, QStringLiteral("facebook"), 20);
    m_twitterButton = MakeSocialButton(content, QStringLiteral("twitter"), 52);
    m_googleButton = MakeSocialButton(content, QStringLiteral("google"), 84);
    connect(m_facebookButton, &QPushButton::clicked, this, [this] { facebookButtonAction(m_facebookButton); });
    connect(m_twitterButton, &QPushButton::clicked, this, [this] { twitterButtonAction(m_twitterButton); });
    connect(m_googleButton, &QPushButton::clicked, this, [this] { googleAddButtonAction(m_googleButton); });
}

void ZRScanEndSaveWindowController::awakeFromNib()
{
    m_recoveryEndTitle->setText(Text("PAGE_FOUR_RECOVER_END_TITLE"));
    m_recoveryEndNode->setText(Text("PAGE_FOUR_RECOVER_END_NODE"));
    m_okButton->setText(Text("PAGE_FOUR_RECOVERY_STOP_BUTTON"));
    ZRPopupWindow::awakeFromNib();
}

void ZRScanEndSaveWindowController::windowDidLoad()
{
    buildPopupTitleBar();
    m_savePathLabel->setLinkText(m_savePathStr);
    m_savePathLabel->setToolTip(m_savePathStr);
}

void ZRScanEndSaveWindowController::okButtonAction(QObject* /*sender*/)
{
    closeWindowNow();
    stopModal();
}

void ZRScanEndSaveWindowController::jumpToSavePath(QObject* /*sender*/)
{
    OpenFolderOrSay(m_savePathLabel ? m_savePathLabel->linkText() : QString(), m_openFailedNote);
}

void ZRScanEndSaveWindowController::facebookButtonAction(QObject* /*sender*/)
{
    ZRUIController::SpyIDStringTable2(4132, QStringLiteral("1"));
    ZRPopupDesktop::OpenAddress(ZRLinkUrl::GetUrl(QStringLiteral("FaceBookURL")));
}

void ZRScanEndSaveWindowController::twitterButtonAction(QObject* /*sender*/)
{
    ZRUIController::SpyIDStringTable2(4131, QStringLiteral("1"));
    // The address may carry a share text with blanks and letters beyond
    // ASCII; escape those, keep what already is address syntax.
    const QString address = ZRLinkUrl::GetUrl(QStringLiteral("Twitter"));
    if (!address.isEmpty())
        ZRPopupDesktop::Open(QUrl::fromEncoded(address.toUtf8().toPercentEncoding("!#$%&'()*+,/:;=?@[]~")));
}

void ZRScanEndSaveWindowController::googleAddButtonAction(QObject* /*sender*/)
{
    ZRUIController::SpyIDStringTable2(4130, QStringLiteral("1"));
    ZRPopupDesktop::OpenAddress(ZRLinkUrl::GetUrl(QStringLiteral("GoogleURL")));
}

void ZRScanEndSaveWindowController::animationDidStop()
{
    if (!aWindow || aWindow->windowOpacity() != 0)
        return;
    closeWindowNow();
    if (m_shuttingDown)
        requestTerminate();
    stopModal();
}
