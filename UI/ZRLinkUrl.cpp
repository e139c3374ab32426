#include "ZRLinkUrl.h"

#include <QVariantMap>

#include "BundleResources.h"
#include "UserDefaults.h"

namespace {

QString TableEntry(const QVariantMap& settings, const QString& language, const QString& key)
{
    QVariant table = settings.value(language);
    if (table.typeId() != QMetaType::QVariantMap)
        return {};
    QVariant value = table.toMap().value(key);
    if (value.typeId() != QMetaType::QString)
        return {};
    return value.toString();
}

}  // namespace

QString ZRLinkUrl::GetUrl(const QString& key)
{
    QStringList languages = UserDefaults::PreferredLanguages();
    QString language = languages.isEmpty() ? QStringLiteral("en") : languages.first();
    std::optional<QVariantMap> settings = Bundle::ReadSettings();
    if (!settings)
        return {};
    QString fallback = TableEntry(*settings, QStringLiteral("en"), key);
    QString own = TableEntry(*settings, language, key);
    if (!own.isEmpty())
        return own;
    return fallback.isEmpty() ? QString() : fallback;
}
