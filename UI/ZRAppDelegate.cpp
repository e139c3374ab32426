#include "ZRAppDelegate.h"

#include <QApplication>
#include <QDateTime>
#include <QEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>

#include "AppStartup.h"
#include "BundleResources.h"
#include "NotificationCenter.h"
#include "USBMonitorNotifier.h"
#include "UserDefaults.h"
#include "ZRAboutWindowController.h"
#include "ZRLinkUrl.h"
#include "ZRRootEngine.h"
#include "TCImageWindow.h"
#include "ZRRootWindowController.h"

namespace {

ZRAppDelegate::UpdateWindowRunner& UpdateRunner()
{
    static ZRAppDelegate::UpdateWindowRunner runner;
    return runner;
}

QString Text(const char* key) { return Bundle::LocalizedString(QString::fromLatin1(key)); }

// The link table has no entries of their own for the product, support and
// guide pages: they are the about page.
constexpr char kProductPageKey[] = "AboutURL";

// The menu button sits just right of the three window buttons, where no
// window puts a control of its own.
constexpr int kMenuButtonLeft = 76;

int VersionNumber(const QVariant& value)
{
    bool ok = false;
    const int number = value.toInt(&ok);
    return ok ? number : 0;
}

}  // namespace

void ZRAppDelegate::setUpdateWindowRunner(UpdateWindowRunner runner) { UpdateRunner() = std::move(runner); }

ZRAppDelegate::ZRAppDelegate(QObject* parent) : QObject(parent)
{
    m_menuBar = std::make_unique<QMenuBar>();
    m_appMenu = m_menuBar->addMenu(QString());
    m_about = m_appMenu->addAction(QString(), this, [this] { aboutAction(); });
    m_checkUpdate = m_appMenu->addAction(QString(), this, [this] { CheckUpAction(); });
    m_appMenu->addSeparator();
    m_hideSelf = m_appMenu->addAction(QString(), this, [] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->isVisible())
                window->showMinimized();
    });
    m_hideOther = m_appMenu->addAction(QString());
    m_showAll = m_appMenu->addAction(QString());
    m_appMenu->addSeparator();
    m_exit = m_appMenu->addAction(QString(), this, [this] { terminate(); });
    m_exit->setShortcut(QKeySequence::Quit);
    m_aWindow = m_menuBar->addMenu(QString());
    m_minimize = m_aWindow->addAction(QString(), this, [] {
        if (QWidget* window = QApplication::activeWindow())
            window->showMinimized();
    });
    m_maximize = m_aWindow->addAction(QString(), this, [] {
        if (QWidget* window = QApplication::activeWindow())
            window->isMaximized() ? window->showNormal() : window->showMaximized();
    });
    m_help = m_menuBar->addMenu(QString());
    m_onlineHelp = m_help->addAction(QString(), this, [this] { onlineHelpAction(); });
    m_supportCenter = m_help->addAction(QString(), this, [this] { supportCenterAction(); });
    // The menu of the title-bar button of the main windows: a menu bar of
    // its own shows on no Linux desktop (it has no window).
    m_windowMenu = std::make_unique<QMenu>();
    m_windowMenu->addAction(m_about);
    m_windowMenu->addAction(m_checkUpdate);
    m_windowMenu->addSeparator();
    m_windowMenu->addMenu(m_aWindow);
    m_windowMenu->addMenu(m_help);
    m_windowMenu->addSeparator();
    m_windowMenu->addAction(m_exit);
    awakeFromNib();
    if (qApp)
        qApp->installEventFilter(this);
}

bool ZRAppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show) {
        auto* window = qobject_cast<TCImageWindow*>(watched);
        if (window && window->property(kTCApplicationMenuProperty).toBool())
            attachApplicationMenu(window);
    } else if (event->type() == QEvent::Resize && watched->property("applicationMenuHost").toBool()) {
        placeApplicationMenuButton(static_cast<QWidget*>(watched));
    }
    return QObject::eventFilter(watched, event);
}

void ZRAppDelegate::attachApplicationMenu(TCImageWindow* window)
{
    QWidget* bar = window->titleBarView();
    if (!bar || bar->findChild<QToolButton*>(QStringLiteral("applicationMenuButton")))
        return;
    auto* button = new QToolButton(bar);
    button->setObjectName(QStringLiteral("applicationMenuButton"));
    button->setIcon(QIcon(Bundle::ImageNamed(QStringLiteral("menu"))));
    button->setIconSize(QSize(16, 16));
    button->setAutoRaise(true);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setMenu(m_windowMenu.get());
    button->setToolTip(Text("MENU_HELP"));
    button->setFixedSize(26, 18);
    button->show();
    bar->setProperty("applicationMenuHost", true);
    bar->installEventFilter(this);
    placeApplicationMenuButton(bar);
    // The shortcuts (Quit among them) work wherever the window has focus.
    for (QAction* action : {m_exit, m_about, m_minimize})
        if (!window->actions().contains(action))
            window->addAction(action);
}

void ZRAppDelegate::placeApplicationMenuButton(QWidget* bar)
{
    if (auto* button = bar->findChild<QToolButton*>(QStringLiteral("applicationMenuButton")))
        button->move(kMenuButtonLeft, 2);
}

ZRAppDelegate::~ZRAppDelegate()
{
    NotificationCenter::defaultCenter().RemoveObserver(this);
    delete m_quitAlert.data();
    delete m_rootWindowCon.data();
}

void ZRAppDelegate::awakeFromNib()
{
    m_aWindow->setTitle(Text("MENU_WINDOW"));
    m_help->setTitle(Text("MENU_HELP"));
    QString about = Text("MENU_ABOUT_NAME");
    about.replace(QStringLiteral("%@"), Text("WINDOW_TOP_TITLE"));
    m_about->setText(about);
    m_checkUpdate->setText(Text("MENU_CHECK_UPDTE"));
    m_hideSelf->setText(Text("MENU_HIDEN_SELF"));
    m_hideOther->setText(Text("MENU_HIDEN_OTHER"));
    m_showAll->setText(Text("MENU_SHOW_ALL"));
    m_exit->setText(Text("MENU_EXIT"));
    m_maximize->setText(Text("MENU_MAXIMIZE"));
    m_minimize->setText(Text("MENU_MINIMIZE"));
    m_onlineHelp->setText(Text("MENU_ONLINE_HELP"));
    m_supportCenter->setText(Text("MENU_SUPPORT_CENTER"));
}

void ZRAppDelegate::applicationDidFinishLaunching()
{
    auto& center = NotificationCenter::defaultCenter();
    center.AddObserver(this, "appWillTerminate", [this](const Notification& n) { applicationWillTerminate(&n); });
    center.AddObserver(this, "SetLangauageMemu", [this](const Notification&) { SetRootLangauageMemu(); });

    USBNotifier_init();

    ZRRootEngine& engine = ZRRootEngine::current();
    if (engine.isFristTime() == std::optional<std::string>("YES")) {
        engine.writeFristTime();
        engine.OpenUrl(ZRLinkUrl::GetUrl(QString::fromLatin1(kProductPageKey)));
    }

    std::optional<std::string> stored = engine.getUpDataTimeStr();
    std::optional<QString> lastCheck;
    if (stored)
        lastCheck = QString::fromStdString(*stored);
    if (!lastCheck || lastCheck->isEmpty() || *lastCheck == QLatin1String(" ")) {
        UserDefaults::SetValue(QStringLiteral("Participate"), true);
        UserDefaults::Synchronize();
    }
    const QDateTime now = QDateTime::currentDateTime();
    if (!IsUpdateCheckDue(lastCheck, now)) {
        runRootWindow();
        return;
    }

    // Written before the fetch: a failed fetch still counts as this week's.
    engine.writeUpDataTimeStr(FormatUpdateCheckTime(now).toStdString());
    const QVariantMap remote = engine.ReadRemoteDictionary(ZRLinkUrl::GetUrl(QStringLiteral("IniURL")));
    const QVariantMap local = Bundle::ReadSettings().value_or(QVariantMap());
    const int remoteVersion = VersionNumber(remote.value(QStringLiteral("VersionCheck")));
    const int localVersion = VersionNumber(local.value(QStringLiteral("VersionCheck")));
    if (remoteVersion > localVersion && engine.isCanBeUseNetWork() && UpdateRunner()) {
        // The update window opens the root window through runRootWindow
        // when it closes.
        UpdateRunner()(this, true);
        activateApplication();
        return;
    }
    runRootWindow();
}

void ZRAppDelegate::runRootWindow()
{
    if (m_rootWindowCon)
        return;
    m_rootWindowCon = new ZRRootWindowController(this);
    m_rootWindowCon->showWindow();
}

void ZRAppDelegate::showNewRootWindow()
{
    // The old controller holds the results window that asks for this: it
    // goes once the current event is done.
    if (m_rootWindowCon)
        m_rootWindowCon->deleteLater();
    m_rootWindowCon = new ZRRootWindowController(this);
    m_rootWindowCon->setIsNotFristLoad(1);
    m_rootWindowCon->showWindow();
}

ZRAppDelegate::TerminateReply ZRAppDelegate::applicationShouldTerminate()
{
    ZRRootEngine& engine = ZRRootEngine::current();
    if (!engine.IsScanRunning())
        return NSTerminateNow;
    if (!engine.IsPause())
        engine.PauseOrResumeScan();
    if (!m_quitAlert) {
        auto* alert = new QMessageBox();
        alert->setIconPixmap(Bundle::ImageNamed(QStringLiteral("warning_b")));
        alert->setText(Text("PAGE_FOUR_SCAN_STOP_TITLE"));
        alert->setInformativeText(Text("PAGE_FOUR_SCAN_STOP_NODE"));
        QPushButton* yes = alert->addButton(Text("PAGE_FOUR_SCAN_STOP_YES_BUTTON"), QMessageBox::AcceptRole);
        alert->addButton(Text("PAGE_FOUR_SCAN_STOP_NO_BUTTON"), QMessageBox::RejectRole);
        alert->setDefaultButton(yes);
        alert->setAttribute(Qt::WA_DeleteOnClose);
        connect(alert, &QMessageBox::buttonClicked, this,
                [this, yes](QAbstractButton* button) { alertEnded(button == yes ? 1 : 0); });
        m_quitAlert = alert;
        alert->open();  // not modal to any window: the program keeps running behind it
    }
    return NSTerminateCancel;
}

void ZRAppDelegate::alertEnded(int code)
{
    if (code != 0) {
        applicationWillTerminate(nullptr);
        return;
    }
    ZRRootEngine& engine = ZRRootEngine::current();
    if (engine.IsPause())
        engine.PauseOrResumeScan();
}

void ZRAppDelegate::terminate()
{
    if (applicationShouldTerminate() == NSTerminateNow)
        applicationWillTerminate(nullptr);
}

void ZRAppDelegate::applicationWillTerminate(const Notification* /*notification*/)
{
    NotificationCenter::defaultCenter().RemoveObserver(this);
    if (m_rootWindowCon && m_rootWindowCon->window())
        m_rootWindowCon->window()->hide();
    ZRRootEngine::current().CloseApp();
}

void ZRAppDelegate::activateApplication()
{
    if (m_rootWindowCon && m_rootWindowCon->window() && m_rootWindowCon->window()->isVisible()) {
        m_rootWindowCon->window()->raise();
        m_rootWindowCon->window()->activateWindow();
    }
}

void ZRAppDelegate::aboutAction()
{
    ZRAboutWindowController about;
    about.runModal();
    activateApplication();
}

void ZRAppDelegate::CheckUpAction()
{
    if (UpdateRunner()) {
        UpdateRunner()(this, false);
        activateApplication();
    }
}

void ZRAppDelegate::supportCenterAction()
{
    ZRRootEngine::current().OpenUrl(ZRLinkUrl::GetUrl(QString::fromLatin1(kProductPageKey)));
}

void ZRAppDelegate::onlineHelpAction()
{
    ZRRootEngine::current().OpenUrl(ZRLinkUrl::GetUrl(QString::fromLatin1(kProductPageKey)));
}

bool ZRAppDelegate::validateMenuItem(QAction* /*item*/) const { return true; }

void ZRAppDelegate::SetRootLangauageMemu() {}

void ZRAppDelegate::setLangauageState() {}

QString ZRAppDelegate::getChangeLanaguageDes(const QString& code, const QString& key) const
{
    const QString current = Bundle::Language();
    Bundle::SetLanguage(code);
    const QString text = Bundle::LocalizedString(key);
    Bundle::SetLanguage(current);
    return text;
}
