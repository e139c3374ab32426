// Every text key the windows' code looks up has an English text. The keys
// are collected from the sources themselves (every quoted upper-case name
// with underscores), so a new lookup without a text fails here.
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "BundleResources.h"

namespace {

// Upper-case names in the sources that are not text keys: environment
// variables and the settings entry of a web address.
const std::set<QString> kNotTextKeys = {
    "APFS_HELP_URL", "PKEXEC_UID", "SUDO_GID", "SUDO_UID", "VANTREL_RESOURCES", "VANTREL_WIDGET_MAP", "VANTREL_WORK_DIR", "XDG_DATA_HOME",
    "XDG_STATE_HOME",
};

// key -> first source file that names it.
std::map<QString, QString> KeysInSources(const QString& root)
{
    static const QRegularExpression name(QStringLiteral("\"([A-Z][A-Z0-9]*(?:_[A-Z0-9]+)+)\""));
    std::map<QString, QString> keys;
    QDirIterator it(root, {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(file.readAll());
        for (auto match = name.globalMatch(text); match.hasNext();) {
            const QString key = match.next().captured(1);
            if (!kNotTextKeys.count(key))
                keys.emplace(key, path.mid(root.size() + 1));
        }
    }
    return keys;
}

TEST(LocalizedKeys, EveryKeyTheWindowsLookUpHasAnEnglishText)
{
    Bundle::SetResourcePath(QStringLiteral(VANTREL_SOURCE_RESOURCES));
    Bundle::SetLanguage("en");
    const auto keys = KeysInSources(QStringLiteral(VANTREL_SOURCE_UI));
    // The scan itself works: the windows use over ninety keys,
    // among them those the sheets build their texts from.
    EXPECT_GT(keys.size(), 90u);
    for (const char* sheetKey : {"PAGE_FOUR_SCAN_BACKHOME_TITLE", "PAGE_FOUR_RECOVERY_NO_COMPETENCE_NODE",
                                 "PAGE_FOUR_SAVE_SAME_PATH_YES_BUTTON"})
        EXPECT_TRUE(keys.count(QString::fromLatin1(sheetKey))) << sheetKey;
    std::vector<std::string> missing;
    for (const auto& [key, file] : keys)
        if (Bundle::LocalizedString(key).trimmed().isEmpty())
            missing.push_back((key + QStringLiteral(" (") + file + QStringLiteral(")")).toStdString());
    EXPECT_TRUE(missing.empty()) << "keys without an English text: " << ::testing::PrintToString(missing);
    Bundle::SetResourcePath(QString());
}

}  // namespace
