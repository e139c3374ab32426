#include "UserDefaults.h"

#include <QSettings>
#include <QStandardPaths>

#include <memory>
#include <mutex>

namespace {

std::mutex g_lock;
std::unique_ptr<QSettings> g_settings;
QString g_testFile;

QSettings& Settings()
{
    if (!g_settings) {
        if (!g_testFile.isEmpty())
            g_settings = std::make_unique<QSettings>(g_testFile, QSettings::IniFormat);
        else
            g_settings = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                     QStringLiteral("Vantrel"), QStringLiteral("Vantrel Data Recovery"));
    }
    return *g_settings;
}

}  // namespace

QVariant UserDefaults::Value(const QString& key)
{
    std::lock_guard<std::mutex> lock(g_lock);
    return Settings().value(key);
}

void UserDefaults::SetValue(const QString& key, const QVariant& value)
{
    std::lock_guard<std::mutex> lock(g_lock);
    Settings().setValue(key, value);
}

void UserDefaults::Remove(const QString& key)
{
    std::lock_guard<std::mutex> lock(g_lock);
    Settings().remove(key);
}

void UserDefaults::Synchronize()
{
    std::lock_guard<std::mutex> lock(g_lock);
    Settings().sync();
}

void UserDefaults::SetFileForTest(const QString& path)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_settings.reset();
    g_testFile = path;
}

QStringList UserDefaults::PreferredLanguages()
{
    QVariant value = Value(QStringLiteral("AppleLanguages"));
    if (value.typeId() == QMetaType::QString)  // an INI list of one may read back as text
        return {value.toString()};
    return value.toStringList();
}
