#include "ZRAboutWindowController.h"

#include <QEventLoop>
#include <QLabel>
#include <QPropertyAnimation>
#include <QPushButton>

#include "BundleResources.h"
#include "ZRLinkUrl.h"
#include "ZRRootEngine.h"
#include "ZRShellWindowParts.h"

namespace {

constexpr int kAboutWidth = 420;
constexpr int kAboutHeight = 260;
constexpr int kFadeMs = 250;

}  // namespace

ZRAboutWindowController::ZRAboutWindowController(QObject* parent) : QObject(parent)
{
    aWindow = new TCImageWindow(QRect(0, 0, kAboutWidth, kAboutHeight));
    aWindow->setDelegate(this);
    m_shuttingDown = false;

    QWidget* content = aWindow->contentView();
    // The program's picture, its name, what it does and the copyright line,
    // each centred, with the web link below.
    auto* logo = new QLabel(content);
    logo->setGeometry(kAboutWidth / 2 - 32, 14, 64, 64);
    logo->setPixmap(Bundle::ImageNamed(QStringLiteral("logo")));
    logo->setScaledContents(true);
    auto centredText = [content](const QString& key, int y, int height, int pixels, bool bold) {
        auto* label = new QLabel(Bundle::LocalizedString(key), content);
        label->setGeometry(20, y, kAboutWidth - 40, height);
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        QFont font = label->font();
        font.setPixelSize(pixels);
        font.setBold(bold);
        label->setFont(font);
        return label;
    };
    m_productLabel = centredText(QStringLiteral("WINDOW_TOP_TITLE"), 84, 24, 16, true);
    m_descriptionLabel = centredText(QStringLiteral("ABOUT_DESCRIPTION"), 112, 36, 12, false);
    m_copyrightLabel = centredText(QStringLiteral("ABOUT_COPYRIGHT"), 154, 18, 11, false);
    m_aboutlink = new QPushButton(Bundle::LocalizedString(QStringLiteral("ABOUT_LINK_TEXT")), content);
    m_aboutlink->setFlat(true);
    m_aboutlink->setCursor(Qt::PointingHandCursor);
    m_aboutlink->setGeometry(kAboutWidth / 2 - 100, 186, 200, 24);
    m_aboutlinkLine = new QWidget(content);
    m_aboutlinkLine->setGeometry(kAboutWidth / 2 - 100, 210, 200, 1);
    connect(m_aboutlink, &QPushButton::clicked, this, [this] { linkButtonAction(m_aboutlink); });

    m_fade = new QPropertyAnimation(aWindow, "windowOpacity", this);
    m_fade->setDuration(kFadeMs);
    connect(m_fade, &QPropertyAnimation::finished, this, [this] { animationDidStop(); });
    if (!aWindow->isVisible()) {
        aWindow->setWindowOpacity(0);
        fadeTo(1);
    }
    windowDidLoad();
}

ZRAboutWindowController::~ZRAboutWindowController()
{
    if (m_modalLoop)
        m_modalLoop->quit();
    if (m_fade)
        m_fade->stop();
    if (aWindow) {
        aWindow->setDelegate(nullptr);
        delete aWindow.data();
    }
}

void ZRAboutWindowController::windowDidLoad()
{
    aWindow->setTitleBarHeight(22);
    aWindow->setTrafficLightButtonsLeftMargin(8);
    aWindow->setTopButtonMoveUp(1);
    m_titleBarView = aWindow->titleBarView();
    if (m_titleBarView) {
        auto* header = new QLabel(m_titleBarView);
        header->setGeometry(0, 0, m_titleBarView->width(), 22);
        header->setPixmap(Bundle::ImageNamed(QStringLiteral("pop_header_bg")));
        header->setScaledContents(true);
        header->setAttribute(Qt::WA_TransparentForMouseEvents);
        header->show();
        if (!m_titleLabel)
            m_titleLabel = MakeWindowTitleLabel(m_titleBarView);
    }
    if (TCStandardWindowButton* close = aWindow->standardWindowButton(NSWindowCloseButton))
        close->setAction([this] { closeWindow(aWindow); });
}

void ZRAboutWindowController::linkButtonAction(QObject* /*sender*/)
{
    ZRRootEngine::current().OpenUrl(ZRLinkUrl::GetUrl(QStringLiteral("AboutURL")));
}

void ZRAboutWindowController::closeWindow(QObject* /*sender*/)
{
    if (m_modalLoop)
        m_modalLoop->quit();
    if (aWindow)
        aWindow->close();
}

bool ZRAboutWindowController::windowShouldClose(TCImageWindow* /*sender*/)
{
    fadeTo(0);
    return false;
}

void ZRAboutWindowController::fadeTo(qreal opacity) { FadeWindowTo(m_fade, aWindow, opacity); }

void ZRAboutWindowController::animationDidStop()
{
    if (aWindow && aWindow->windowOpacity() == 0)
        closeWindow(aWindow);
}

void ZRAboutWindowController::runModal()
{
    if (!aWindow || m_modalLoop)
        return;
    CentreOnScreen(aWindow);
    aWindow->setWindowModality(Qt::ApplicationModal);
    aWindow->show();
    QEventLoop loop;
    m_modalLoop = &loop;
    loop.exec();
    m_modalLoop = nullptr;
}
