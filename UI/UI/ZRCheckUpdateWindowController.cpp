#include "ZRCheckUpdateWindowController.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextDocument>

#include "BundleResources.h"
#include "ZRLinkUrl.h"
#include "ZRRootEngine.h"

namespace {

constexpr int kWidth = 420;
constexpr int kHeight = 260;
constexpr int kChangeFontPixels = 10;
constexpr double kTotalLineFloor = 30;
constexpr double kLineFloor = 25;

QString Text(const char* key) { return Bundle::LocalizedString(QString::fromLatin1(key)); }

QPointer<ZRCheckUpdateWindowController>& SharedController()
{
    static QPointer<ZRCheckUpdateWindowController> controller;
    return controller;
}

QWidget* MakePane(QWidget* content)
{
    auto* pane = new QWidget(content);
    pane->setGeometry(0, 0, kWidth, kHeight);
    pane->hide();
    return pane;
}

QFont ChangeFont()
{
    QFont font = QApplication::font();
    font.setPixelSize(kChangeFontPixels);
    return font;
}

}  // namespace

void ZRCheckUpdateWindowControllerDelegate::runRootWindow() {}

ZRCheckUpdateWindowController::ZRCheckUpdateWindowController(QObject* parent)
    : ZRPopupWindow(QSize(kWidth, kHeight), parent)
{
}

ZRCheckUpdateWindowController::~ZRCheckUpdateWindowController() = default;

ZRCheckUpdateWindowController* ZRCheckUpdateWindowController::Shared() { return SharedController(); }

void ZRCheckUpdateWindowController::ResetShared() { delete SharedController().data(); }

void ZRCheckUpdateWindowController::RunShared(ZRCheckUpdateWindowControllerDelegate* delegate, bool atStartup)
{
    if (!SharedController())
        SharedController() = new ZRCheckUpdateWindowController(qApp);
    ZRCheckUpdateWindowController* controller = SharedController();
    if (delegate)
        controller->setDelegate(delegate);
    TCImageWindow* win = controller->window();
    if (atStartup)
        win->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    controller->runModal();
}

int ZRCheckUpdateWindowController::VersionCheckValue(const QVariant& value)
{
    bool ok = false;
    const int number = value.toInt(&ok);
    return ok ? number : 0;
}

double ZRCheckUpdateWindowController::heightForStringDrawing(const QString& text, const QFont& font, double width)
{
    QTextDocument document;
    document.setDocumentMargin(0);
    document.setDefaultFont(font);
    document.setPlainText(text);
    document.setTextWidth(width);
    return document.size().height();
}

void ZRCheckUpdateWindowController::loadInterface(QWidget* content)
{
    m_checkProgressView = MakePane(content);
    QLabel* checking = MakeText(m_checkProgressView, QRect(20, 80, kWidth - 40, 20), 13, false);
    checking->setText(Text("UPDATE_CHECKING"));
    m_progressBar = new QProgressBar(m_checkProgressView);
    m_progressBar->setGeometry(20, 110, kWidth - 40, 14);
    m_progressBar->setTextVisible(false);
    m_checkProgressView->show();

    m_noNetworkView = MakePane(content);
    MakeText(m_noNetworkView, QRect(20, 80, kWidth - 40, 60), 13, true)->setText(Text("UPDATE_NO_NETWORK"));
    m_noUpdateView = MakePane(content);
    MakeText(m_noUpdateView, QRect(20, 80, kWidth - 40, 60), 13, true)->setText(Text("UPDATE_NO_UPDATE"));

    m_haveUpdateView = MakePane(content);
    m_versionLabel = MakeText(m_haveUpdateView, QRect(20, 10, kWidth - 40, 20), 13, false);
    m_versionLabel->setTextFormat(Qt::PlainText);
    m_changeValueScrollView = new QScrollArea(m_haveUpdateView);
    m_changeValueScrollView->setGeometry(20, 36, kWidth - 40, 170);
    m_changeValueScrollView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_showVersionScrollView = new QWidget;
    m_changeValueScrollView->setWidget(m_showVersionScrollView);
    m_updateButton = new QPushButton(m_haveUpdateView);
    m_updateButton->setGeometry(kWidth - 160, 216, 140, 30);
    m_updateButton->setText(Text("UPDATE_CLICK_HERE"));
    connect(m_updateButton, &QPushButton::clicked, this, [this] { updateClickHereAction(m_updateButton); });
}

void ZRCheckUpdateWindowController::windowDidLoad()
{
    buildPopupTitleBar(false);
    // An indeterminate bar runs while it has no range.
    m_progressBar->setRange(0, 0);
    redirectCloseButton([this] { closeWindow(aWindow); });
    getVersionChange();
}

void ZRCheckUpdateWindowController::showPane(QWidget* pane)
{
    for (QWidget* each : {m_checkProgressView, m_noNetworkView, m_noUpdateView, m_haveUpdateView})
        each->setVisible(each == pane);
}

void ZRCheckUpdateWindowController::getVersionChange()
{
    ZRRootEngine& engine = ZRRootEngine::current();
    if (!engine.isCanBeUseNetWork()) {
        showPane(m_noNetworkView);
        return;
    }
    const QVariantMap remote = engine.ReadRemoteDictionary(ZRLinkUrl::GetUrl(QStringLiteral("IniURL")));
    whatIsNewVersionDiff(remote.isEmpty() ? std::nullopt : std::optional<QVariantMap>(remote));
}

void ZRCheckUpdateWindowController::whatIsNewVersionDiff(std::optional<QVariantMap> remote)
{
    showPane(nullptr);
    const QVariantMap local = Bundle::ReadSettings().value_or(QVariantMap());
    const int localVersion = VersionCheckValue(local.value(QStringLiteral("VersionCheck")));
    const int remoteVersion = remote ? VersionCheckValue(remote->value(QStringLiteral("VersionCheck"))) : 0;
    if (!remote || remoteVersion <= localVersion) {
        showPane(m_noUpdateView);
        return;
    }
    showPane(m_haveUpdateView);
    m_versionLabel->setText(QStringLiteral("Version %1:").arg(remote->value(QStringLiteral("Version")).toString()));
    remote->remove(QStringLiteral("VersionCheck"));
    remote->remove(QStringLiteral("Version"));
    const int n = static_cast<int>(remote->size());

    const QFont font = ChangeFont();
    float total = 0;
    for (auto it = remote->cbegin(); it != remote->cend(); ++it)
        total += static_cast<float>(qMax(heightForStringDrawing(it.value().toString(), font, kMeasureWidth),
                                         kTotalLineFloor));
    const int width = m_titleBarView ? m_titleBarView->width() : kWidth;
    m_showVersionScrollView->setGeometry(0, 0, width, qCeil(total));
    m_showVersionScrollView->setMinimumSize(width, qCeil(total));

    // Line 1 at the top, each below the one before. The list's own
    // arithmetic counts from the bottom (y = total - running height); here
    // y grows downwards, so a line's top is its running height minus its own.
    double running = 0;
    for (int i = 1; i <= n; ++i) {
        const QString value = remote->value(QString::number(i)).toString();
        auto* line = new QLabel(QStringLiteral("%1:%2").arg(i).arg(value), m_showVersionScrollView);
        line->setTextFormat(Qt::PlainText);
        line->setWordWrap(true);
        line->setAutoFillBackground(true);
        line->setBackgroundRole(QPalette::Button);
        QPalette palette = line->palette();
        palette.setColor(QPalette::WindowText, QColor(175, 186, 219));
        line->setPalette(palette);
        line->setFont(font);
        const double h = qMax(heightForStringDrawing(value, font, kMeasureWidth), kLineFloor);
        running += h;
        line->setToolTip(value);
        line->setGeometry(0, qRound(running - h), kLineWidth, qRound(h));
        line->show();
    }
    // The top of the list shows first.
    m_changeValueScrollView->verticalScrollBar()->setValue(0);
}

void ZRCheckUpdateWindowController::updateClickHereAction(QObject* /*sender*/)
{
    ZRRootEngine::current().OpenUrl(ZRLinkUrl::GetUrl(QStringLiteral("UpdateURL")));
}

void ZRCheckUpdateWindowController::closeWindow(QObject* /*sender*/)
{
    stopModal();
    closeWindowNow();
    if (m_delegate)
        m_delegate->runRootWindow();
}

void ZRCheckUpdateWindowController::animationDidStop()
{
    if (aWindow && aWindow->windowOpacity() == 0)
        closeWindow(aWindow);
}
