#include "AppStartup.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QGuiApplication>
#include <QTimer>

#include <cstdio>
#include <memory>

#include "BundleResources.h"
#include "UserDefaults.h"

namespace {

constexpr int kKeepAwakeIntervalMs = 30 * 1000;
constexpr long long kSecondsPerDay = 86400;
constexpr int kUpdateCheckDays = 7;

// One process-wide keep-awake timer and the sleep inhibitor it holds.
std::unique_ptr<QTimer> g_keepAwake;
std::unique_ptr<QDBusUnixFileDescriptor> g_inhibitor;

}  // namespace

void PrepareApplicationObject() { QGuiApplication::setQuitOnLastWindowClosed(false); }

void setCurLanguage(const char* code)
{
    if (!code)
        return;
    std::printf("argv = %s\n", code);
    QString text = QString::asprintf("%s", code);
    std::fprintf(stderr, "set lanague to = %s\n", text.toUtf8().constData());
    UserDefaults::SetValue(QStringLiteral("AppleLanguages"), QStringList{text});
    UserDefaults::Synchronize();
    Bundle::SetLanguage(text);
}

void ApplyStoredLanguage()
{
    QStringList languages = UserDefaults::PreferredLanguages();
    if (!languages.isEmpty() && !languages.first().isEmpty())
        Bundle::SetLanguage(languages.first());
}

void ApplyApplicationTitle()
{
    // Every window without a title of its own (and the window list of the
    // desktop) shows the product's name in the chosen language, not the
    // program file's name.
    const QString title = Bundle::LocalizedString(QStringLiteral("WINDOW_TOP_TITLE"));
    if (!title.isEmpty())
        QGuiApplication::setApplicationDisplayName(title);
}

void MyTimerCallback()
{
    // The system's login manager keeps the machine awake while we hold an
    // "idle" inhibitor; taking it again is tried on every tick until it
    // works (the bus may come up after us, or not exist at all).
    if (g_inhibitor && g_inhibitor->isValid())
        return;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    QDBusInterface login(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                         QStringLiteral("org.freedesktop.login1.Manager"), bus);
    if (!login.isValid())
        return;
    QDBusReply<QDBusUnixFileDescriptor> reply =
        login.call(QStringLiteral("Inhibit"), QStringLiteral("idle:sleep"), QStringLiteral("Vantrel Data Recovery"),
                   QStringLiteral("Reading a disk"), QStringLiteral("block"));
    if (reply.isValid())
        g_inhibitor = std::make_unique<QDBusUnixFileDescriptor>(reply.value());
}

void PreventSleep()
{
    if (g_keepAwake)
        return;
    g_keepAwake = std::make_unique<QTimer>();
    g_keepAwake->setInterval(kKeepAwakeIntervalMs);
    QObject::connect(g_keepAwake.get(), &QTimer::timeout, [] { MyTimerCallback(); });
    g_keepAwake->start();
    QTimer::singleShot(0, g_keepAwake.get(), [] { MyTimerCallback(); });  // first firing: now
}

void ReleasePreventObj()
{
    g_keepAwake.reset();
    g_inhibitor.reset();  // closing the descriptor ends the inhibition
}

bool IsPreventSleepActive() { return g_keepAwake && g_keepAwake->isActive(); }

bool IsUpdateCheckDue(const std::optional<QString>& lastCheck, const QDateTime& now)
{
    if (!lastCheck || lastCheck->isEmpty() || *lastCheck == QLatin1String(" "))
        return true;
    QDateTime last = QDateTime::fromString(*lastCheck, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!last.isValid())
        return true;  // a damaged entry would otherwise stop the checks for good
    long long seconds = last.secsTo(now);
    auto days = static_cast<int>(seconds / kSecondsPerDay);
    return days >= kUpdateCheckDays;
}

QString FormatUpdateCheckTime(const QDateTime& time) { return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }
