#include "APFSScanWindowController.h"

#include <QFont>
#include <QLabel>
#include <QPushButton>

#include "BundleResources.h"
#include "ZRHandButton.h"
#include "ZRLinkUrl.h"

namespace {

constexpr int kWidth = 460;
constexpr int kHeight = 200;

QString Text(const char* key) { return Bundle::LocalizedString(QString::fromLatin1(key)); }

}  // namespace

APFSScanWindowController::APFSScanWindowController(QObject* parent) : ZRPopupWindow(QSize(kWidth, kHeight), parent) {}

APFSScanWindowController::~APFSScanWindowController() = default;

// What the notice's interface holds: its texts (from the string table here)
// and the two controls of the help link with the link's underline.
void APFSScanWindowController::loadInterface(QWidget* content)
{
    m_textField = MakeText(content, QRect(20, 16, kWidth - 40, 40), 13, true);
    m_textField->setText(Text("APFS_NOTICE_TEXT"));
    m_textField1 = MakeText(content, QRect(20, 60, kWidth - 40, 50), 12, true);
    m_textField1->setText(Text("APFS_NOTICE_DETAIL"));
    m_actuButton = new ZRHandButton(content);
    m_actuButton->setFlat(true);
    m_actuButton->setGeometry(20, 120, 20, 20);
    m_actualizarLabel = MakeText(content, QRect(44, 120, 240, 20), 12, false);
    m_actualizarLabel->setText(Text("APFS_HELP_LINK"));
    m_actualizarButton = new ZRHandButton(content);
    m_actualizarButton->setFlat(true);
    m_actualizarButton->setGeometry(44, 120, 240, 20);
    m_actualizarLine = new QWidget(content);
    m_actualizarLine->setGeometry(44, 140, 240, 1);
    m_okButton = new QPushButton(content);
    m_okButton->setGeometry(kWidth - 120, 154, 100, 30);
    m_okButton->setText(Text("APFS_OK_BUTTON"));
    connect(m_okButton, &QPushButton::clicked, this, [this] { okButtonAction(m_okButton); });
    connect(m_actualizarButton, &QPushButton::clicked, this, [this] { linkButtonAction(m_actualizarButton); });
    connect(m_actuButton, &QPushButton::clicked, this, [this] { linkButtonAction(m_actuButton); });
}

void APFSScanWindowController::awakeFromNib()
{
    ZRPopupWindow::awakeFromNib();
    m_iClickCount = 0;
}

// Unlike the other pop-up windows there is no header picture: a plain,
// left-aligned title in a lighter face.
void APFSScanWindowController::windowDidLoad()
{
    setUpTitleBar();
    if (m_titleBarView && !m_aTitleLabel) {
        auto* label = new QLabel(m_titleBarView);
        label->setGeometry(80, 2, 300, 18);
        label->setText(Text("WINDOW_TOP_TITLE"));
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        QFont font(QStringLiteral("Helvetica Light"));
        font.setPixelSize(14);
        label->setFont(font);
        label->setAutoFillBackground(true);
        label->setBackgroundRole(QPalette::Button);
        label->show();
        m_aTitleLabel = label;
    }
    redirectCloseButton([this] { closeWindow(aWindow); });
}

void APFSScanWindowController::okButtonAction(QObject* /*sender*/)
{
    stopModal();
    closeWindowNow();
}

void APFSScanWindowController::closeWindow(QObject* /*sender*/)
{
    stopModal();
    closeWindowNow();
}

void APFSScanWindowController::linkButtonAction(QObject* /*sender*/)
{
    ZRPopupDesktop::OpenAddress(ZRLinkUrl::GetUrl(QStringLiteral("APFS_HELP_URL")));
}
