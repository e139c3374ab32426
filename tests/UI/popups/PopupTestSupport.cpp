#include "PopupTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include "BundleResources.h"
#include "ZRPopupWindow.h"

namespace {

const char* const kKeys[] = {
    "WINDOW_TOP_TITLE", "PAGE_FOUR_RECOVER_PROGRESS_TITLE", "PAGE_FOUR_RECOVERY_STOP_TITLE",
    "PAGE_FOUR_RECOVERY_STOP_NODE", "PAGE_FOUR_RECOVERY_STOP_YES_BUTTON", "PAGE_FOUR_RECOVERY_STOP_NO_BUTTON",
    "PAGE_FOUR_RECOVERY_NO_SPACE_TITLE", "PAGE_FOUR_RECOVERY_NO_SPACE_NODE", "PAGE_FOUR_RECOVERY_NO_SPACE_NO_BUTTON",
    "PAGE_FOUR_RECOVERY_NO_SPACE_YES_BUTTON", "PAGE_FOUR_RECOVER_END_TITLE", "PAGE_FOUR_RECOVER_END_NODE",
    "PAGE_FOUR_RECOVERY_STOP_BUTTON", "SAVE_SCAN_RESULT", "SAVE_RESULT_WAIT", "LOAD_SCAN_RESULT",
    "LOAD_RESULT_WAIT", "PAGE_FOUR_RECOVERY_NO_COMPETENCE_YES_BUTTON", "READ_RSF_FAILED",
    "PAGE_FOUR_DEEPSCAN_NODE", "PAGE_FOUR_RECOVER_OPEN_FOLDER_FAILED",
};

QByteArray Quote(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return "\"" + escaped.toUtf8() + "\"";
}

}  // namespace

PopupResources::PopupResources(const std::vector<std::pair<QString, QString>>& strings)
{
    m_oldPath = Bundle::ResourcePath();
    QDir(m_dir.path()).mkpath(QStringLiteral("en.lproj"));
    QFile table(m_dir.path() + QStringLiteral("/en.lproj/Localizable.strings"));
    if (table.open(QIODevice::WriteOnly)) {
        for (const char* key : kKeys)
            table.write(Quote(QString::fromLatin1(key)) + " = " + Quote(QString::fromLatin1(key)) + ";\n");
        for (const auto& [key, text] : strings)
            table.write(Quote(key) + " = " + Quote(text) + ";\n");
    }
    table.close();
    Bundle::SetResourcePath(m_dir.path());
    Bundle::SetLanguage(QStringLiteral("en"));
}

PopupResources::~PopupResources() { Bundle::SetResourcePath(m_oldPath); }

void PopupResources::writeSettingsXml(const QByteArray& xml)
{
    QFile file(Bundle::SettingsPath());
    if (file.open(QIODevice::WriteOnly))
        file.write(xml);
}

RecordingDesktop::RecordingDesktop()
{
    ZRPopupDesktop::SetOpener([this](const QUrl& url) {
        opened.push_back(url);
        return opens;
    });
}

RecordingDesktop::~RecordingDesktop() { ZRPopupDesktop::SetOpener(nullptr); }

void WhenModal(std::function<void()> step, int delayMs)
{
    QTimer::singleShot(delayMs, qApp, std::move(step));
}

bool SpinUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}
