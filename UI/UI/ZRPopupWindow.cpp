#include "ZRPopupWindow.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFont>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QProcess>
#include <QPropertyAnimation>
#include <QScreen>

#include <cmath>
#include <cstdio>
#include <memory>

#include "BundleResources.h"
#include "TCImageButton.h"

namespace {

constexpr int kPopupTitleBarHeight = 22;
constexpr int kPopupTrafficLightMargin = 13;

ZRPopupDesktop::Opener& DesktopOpener()
{
    static ZRPopupDesktop::Opener opener;
    return opener;
}

QString& FolderProgram()
{
    static QString program;
    return program;
}

std::function<void()>& TerminateHandler()
{
    static std::function<void()> handler;
    return handler;
}

}  // namespace

QString FormatWithOneNumber(const QString& format, double value)
{
    QString out;
    bool used = false;
    const int n = format.size();
    int i = 0;
    while (i < n) {
        const QChar c = format[i];
        if (c != QLatin1Char('%')) {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 < n && format[i + 1] == QLatin1Char('%')) {
            out += QLatin1Char('%');
            i += 2;
            continue;
        }
        // flags, width, precision, length modifiers: a bounded run of them.
        int j = i + 1;
        QString spec = QStringLiteral("%");
        while (j < n && QStringLiteral("-+ #0").contains(format[j]) && spec.size() < 8)
            spec += format[j++];
        int digits = 0;
        while (j < n && format[j].isDigit() && digits < 3) {
            spec += format[j++];
            ++digits;
        }
        if (j < n && format[j] == QLatin1Char('.')) {
            spec += format[j++];
            digits = 0;
            while (j < n && format[j].isDigit() && digits < 2) {
                spec += format[j++];
                ++digits;
            }
        }
        while (j < n && QStringLiteral("hlqLjzt").contains(format[j]))
            ++j;
        const QChar conv = j < n ? format[j] : QChar();
        if (!used && QStringLiteral("fFeEgGaA").contains(conv) && !conv.isNull()) {
            char buffer[512];
            const QByteArray cspec = (spec + conv).toLatin1();
            std::snprintf(buffer, sizeof buffer, cspec.constData(), value);
            out += QString::fromLatin1(buffer);
            used = true;
            i = j + 1;
        } else if (!used && !conv.isNull() && QStringLiteral("diu@").contains(conv)) {
            const double whole = std::isfinite(value) ? qBound(-9.0e18, value, 9.0e18) : 0.0;
            out += QString::number(static_cast<long long>(whole));
            used = true;
            i = j + 1;
        } else {
            // Not a conversion we fill (or the value is used up): as written.
            out += c;
            ++i;
        }
    }
    return out;
}

// ---- ZRLinkLabel -------------------------------------------------------------

ZRLinkLabel::ZRLinkLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::RichText);
    setCursor(Qt::PointingHandCursor);
}

void ZRLinkLabel::setLinkText(const QString& text)
{
    m_linkText = text;
    setText(QStringLiteral("<span style=\"color:#6ea8f0; text-decoration:underline; font-size:12px\">%1</span>")
                .arg(text.toHtmlEscaped()));
}

void ZRLinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

// ---- ZRPopupDesktop ----------------------------------------------------------

void ZRPopupDesktop::SetOpener(Opener opener) { DesktopOpener() = std::move(opener); }

void ZRPopupDesktop::Open(const QUrl& url)
{
    if (url.isEmpty() || !url.isValid())
        return;
    if (DesktopOpener())
        DesktopOpener()(url);
    else
        QDesktopServices::openUrl(url);
}

void ZRPopupDesktop::SetFolderProgram(const QString& program) { FolderProgram() = program; }

void ZRPopupDesktop::OpenAddress(const QString& address)
{
    if (!address.isEmpty())
        Open(QUrl(address));
}

void ZRPopupDesktop::OpenFolder(const QString& path, std::function<void()> failed)
{
    if (path.isEmpty())
        return;
    const QUrl url = QUrl::fromLocalFile(path);
    if (DesktopOpener()) {
        if (!DesktopOpener()(url) && failed)
            failed();
        return;
    }
    // The desktop services start xdg-open and forget it: they cannot tell
    // that it found no file manager. Run it here and read how it ended.
    auto* opener = new QProcess(qApp);
    auto done = std::make_shared<std::function<void()>>(std::move(failed));
    auto fail = [done] {
        if (*done)
            (*done)();
        *done = nullptr;  // once only
    };
    QObject::connect(opener, &QProcess::errorOccurred, opener, [opener, fail](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            fail();
            opener->deleteLater();
        }
    });
    QObject::connect(opener, &QProcess::finished, opener, [opener, fail](int code, QProcess::ExitStatus status) {
        if (code != 0 || status != QProcess::NormalExit)
            fail();
        opener->deleteLater();
    });
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    opener->start(FolderProgram().isEmpty() ? QStringLiteral("xdg-open") : FolderProgram(), {url.toLocalFile()});
}

// ---- ZRPopupWindow -----------------------------------------------------------

ZRPopupWindow::ZRPopupWindow(const QSize& contentSize, QObject* parent) : QObject(parent), m_contentSize(contentSize)
{
}

ZRPopupWindow::~ZRPopupWindow()
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

TCImageWindow* ZRPopupWindow::window()
{
    if (!m_bLoaded) {
        m_bLoaded = true;
        aWindow = new TCImageWindow(QRect(QPoint(0, 0), m_contentSize));
        aWindow->setDelegate(this);
        m_fade = new QPropertyAnimation(aWindow, "windowOpacity", this);
        m_fade->setDuration(kFadeMs);
        connect(m_fade, &QPropertyAnimation::finished, this, [this] { animationDidStop(); });
        loadInterface(aWindow->contentView());
        awakeFromNib();
        windowDidLoad();
    }
    return aWindow;
}

void ZRPopupWindow::awakeFromNib() { setUpFading(); }

void ZRPopupWindow::windowDidLoad() { buildPopupTitleBar(); }

void ZRPopupWindow::setUpFading()
{
    m_shuttingDown = false;
    if (aWindow && !aWindow->isVisible()) {
        aWindow->setWindowOpacity(0);
        fadeTo(1);
    }
}

void ZRPopupWindow::setUpTitleBar()
{
    aWindow->setTitleBarHeight(kPopupTitleBarHeight);
    m_titleBarView = aWindow->titleBarView();
    aWindow->setTrafficLightButtonsLeftMargin(kPopupTrafficLightMargin);
}

void ZRPopupWindow::buildPopupTitleBar(bool trailingBlank)
{
    setUpTitleBar();
    if (!m_titleBarView)
        return;
    const int width = aWindow->width();
    auto* header = new QLabel(m_titleBarView);
    header->setObjectName(QStringLiteral("pop_header_bg"));
    header->setGeometry(0, 0, width, kPopupTitleBarHeight);
    header->setPixmap(Bundle::ImageNamed(QStringLiteral("pop_header_bg")));
    header->setScaledContents(true);
    header->setAttribute(Qt::WA_TransparentForMouseEvents);
    header->show();
    if (!m_aTitleLabel) {
        auto* label = new QLabel(m_titleBarView);
        label->setGeometry(0, 3, width, 17);
        QFont font = label->font();
        font.setPixelSize(13);
        label->setFont(font);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, TCWindowTitleTextColor());
        label->setPalette(palette);
        label->setAlignment(Qt::AlignCenter);
        const QString title = Bundle::LocalizedString(QStringLiteral("WINDOW_TOP_TITLE"));
        label->setText(trailingBlank ? title + QLatin1Char(' ') : title);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->show();
        m_aTitleLabel = label;
    }
}

void ZRPopupWindow::redirectCloseButton(std::function<void()> action)
{
    if (TCStandardWindowButton* close = aWindow->standardWindowButton(NSWindowCloseButton))
        close->setAction(std::move(action));
}

TCImageButton* ZRPopupWindow::MakeCaptionButton(QWidget* parent, const QRect& frame)
{
    auto* button = new TCImageButton(frame, parent);
    button->setButtonEnabled(true);
    button->setImageFromFileNormalName(QStringLiteral("pop_button_normal"), QStringLiteral("pop_button_press"),
                                       QStringLiteral("pop_button_hover"), QStringLiteral("pop_button_disable"));
    return button;
}

QLabel* ZRPopupWindow::MakeText(QWidget* parent, const QRect& frame, int pixelSize, bool wrap)
{
    auto* label = new QLabel(parent);
    label->setGeometry(frame);
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    label->setFont(font);
    label->setWordWrap(wrap);
    label->setAlignment(wrap ? Qt::AlignLeft | Qt::AlignTop : Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

QLabel* ZRPopupWindow::MakeOpenFailedNote(QWidget* parent, const QRect& frame)
{
    QLabel* note = MakeText(parent, frame, 11, false);
    note->setObjectName(QStringLiteral("openFailedNote"));
    note->setText(Bundle::LocalizedString(QStringLiteral("PAGE_FOUR_RECOVER_OPEN_FOLDER_FAILED")));
    note->setStyleSheet(QStringLiteral("color: rgb(190, 40, 40);"));
    note->hide();
    return note;
}

void ZRPopupWindow::OpenFolderOrSay(const QString& folder, QLabel* note)
{
    if (note)
        note->hide();
    // The opener may answer after the window is gone.
    QPointer<QLabel> shown(note);
    ZRPopupDesktop::OpenFolder(folder, [shown] {
        if (shown)
            shown->show();
    });
}

void ZRPopupWindow::fadeTo(qreal opacity)
{
    if (!aWindow || !m_fade)
        return;
    m_fade->stop();
    m_fade->setStartValue(aWindow->windowOpacity());
    m_fade->setEndValue(opacity);
    m_fade->start();
}

bool ZRPopupWindow::windowShouldClose(TCImageWindow* /*sender*/)
{
    fadeTo(0);
    return false;
}

void ZRPopupWindow::windowWillClose(TCImageWindow* /*sender*/) { stopModal(); }

ZRPopupWindow::TerminateReply ZRPopupWindow::applicationShouldTerminate()
{
    if (m_shuttingDown)
        return NSTerminateNow;
    fadeTo(0);
    m_shuttingDown = true;
    return NSTerminateCancel;
}

void ZRPopupWindow::animationDidStop()
{
    if (!aWindow || aWindow->windowOpacity() != 0)
        return;
    stopModal();
    closeWindowNow();
    if (m_shuttingDown)
        requestTerminate();
}

void ZRPopupWindow::SetTerminateHandler(std::function<void()> handler) { TerminateHandler() = std::move(handler); }

void ZRPopupWindow::requestTerminate()
{
    if (TerminateHandler())
        TerminateHandler()();
    else
        QCoreApplication::quit();
}

void ZRPopupWindow::closeWindowNow()
{
    if (aWindow)
        aWindow->close();
}

void ZRPopupWindow::runModal()
{
    TCImageWindow* win = window();
    if (!win || m_modalLoop)
        return;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = win->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        win->move(frame.topLeft());
    }
    win->setWindowModality(Qt::ApplicationModal);
    win->show();
    QEventLoop loop;
    m_modalLoop = &loop;
    // The creator (or a delegate) may release the controller while the
    // session runs; then nothing of it may be touched afterwards.
    QPointer<ZRPopupWindow> alive(this);
    loop.exec();
    if (alive)
        m_modalLoop = nullptr;
}

void ZRPopupWindow::stopModal()
{
    if (m_modalLoop)
        m_modalLoop->quit();
    m_modalLoop = nullptr;
}
