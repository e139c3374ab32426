// Start-up helpers: the language argument, the keep-awake timer, the weekly
// update-check decision and the per-language link table.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <fstream>

#include "AppStartup.h"
#include "BundleResources.h"
#include "TestSupport.h"
#include "UserDefaults.h"
#include "ZRLinkUrl.h"

namespace {

// Preferences and resources of the test's own.
class StartupFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        UserDefaults::SetFileForTest(QString::fromStdString(dir / "prefs.ini"));
        oldResources = Bundle::ResourcePath();
        oldLanguage = Bundle::Language();
        Bundle::SetResourcePath(QString::fromStdString(dir.path()));
    }
    void TearDown() override
    {
        Bundle::SetResourcePath(oldResources);
        Bundle::SetLanguage(oldLanguage);
        UserDefaults::SetFileForTest(QString::fromStdString(dir / "unused.ini"));
    }
    TempDir dir;
    QString oldResources;
    QString oldLanguage;
};

QDateTime At(const char* text) { return QDateTime::fromString(text, "yyyy-MM-dd HH:mm:ss"); }

}  // namespace

TEST_F(StartupFixture, LanguageArgumentBecomesTheOnlyPreferredLanguage)
{
    UserDefaults::SetValue("AppleLanguages", QStringList{"fr", "en"});
    setCurLanguage("de");
    EXPECT_EQ(UserDefaults::PreferredLanguages(), QStringList({"de"}));
    EXPECT_EQ(Bundle::Language(), "de");

    // Stored on disk: the next start without an argument finds it.
    UserDefaults::SetFileForTest(QString::fromStdString(dir / "prefs.ini"));
    Bundle::SetLanguage("en");
    ApplyStoredLanguage();
    EXPECT_EQ(Bundle::Language(), "de");

    setCurLanguage(nullptr);  // no argument: left as it is
    EXPECT_EQ(UserDefaults::PreferredLanguages(), QStringList({"de"}));
}

TEST(UpdateCheck, DueAfterSevenWholeDaysOrWithoutAUsableTime)
{
    const QDateTime now = At("2024-03-10 12:00:00");
    struct Case {
        std::optional<QString> stored;
        bool due;
    };
    const std::vector<Case> cases = {
        {std::nullopt, true},
        {QString(""), true},
        {QString(" "), true},
        {QString("not a time"), true},
        {QString("2024-03-03 12:00:01"), false},  // 6 days 23:59:59
        {QString("2024-03-03 13:00:00"), false},  // 6 days 23 hours
        {QString("2024-03-03 12:00:00"), true},   // exactly 7 days
        {QString("2023-01-01 00:00:00"), true},
        {QString("2024-03-20 12:00:00"), false},  // a clock set back
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsUpdateCheckDue(c.stored, now), c.due) << (c.stored ? c.stored->toStdString() : "<none>");
    EXPECT_EQ(FormatUpdateCheckTime(now), "2024-03-10 12:00:00");
}

TEST(KeepAwake, TimerRunsUntilReleased)
{
    EXPECT_FALSE(IsPreventSleepActive());
    PreventSleep();
    EXPECT_TRUE(IsPreventSleepActive());
    QCoreApplication::processEvents();  // the first firing, without a system bus here
    ReleasePreventObj();
    EXPECT_FALSE(IsPreventSleepActive());
}

TEST_F(StartupFixture, LinkTableFallsBackToEnglish)
{
    QVariantMap en{{"AboutURL", "https://en.example/about"}, {"IniURL", "https://en.example/v.plist"}};
    QVariantMap de{{"AboutURL", ""}, {"IniURL", "https://de.example/v.plist"}};
    QVariantMap ja{{"IniURL", "https://ja.example/v.plist"}};
    ASSERT_TRUE(Bundle::WriteSettings({{"en", en}, {"de", de}, {"ja", ja}, {"VersionCheck", 3}}));

    struct Case {
        QStringList languages;
        const char* key;
        QString url;
    };
    const std::vector<Case> cases = {
        {{"de"}, "IniURL", "https://de.example/v.plist"},
        {{"de"}, "AboutURL", "https://en.example/about"},  // empty in the "de" table
        {{"ja"}, "AboutURL", "https://en.example/about"},  // missing in the "ja" table
        {{"fr"}, "AboutURL", "https://en.example/about"},  // no "fr" table
        {{}, "IniURL", "https://en.example/v.plist"},      // no preference
        {{"ja", "de"}, "IniURL", "https://ja.example/v.plist"},
        {{"de"}, "Twitter", QString()},                    // nowhere: nothing to open
    };
    for (const Case& c : cases) {
        if (c.languages.isEmpty())
            UserDefaults::Remove("AppleLanguages");
        else
            UserDefaults::SetValue("AppleLanguages", c.languages);
        QString url = ZRLinkUrl::GetUrl(c.key);
        EXPECT_EQ(url, c.url) << c.languages.join(",").toStdString() << " " << c.key;
        EXPECT_EQ(url.isNull(), c.url.isNull());
    }

    // A settings file that is not a property list: nothing.
    std::ofstream(dir / "LocalVersionMessage.plist", std::ios::trunc) << "garbage";
    UserDefaults::SetValue("AppleLanguages", QStringList{"de"});
    EXPECT_TRUE(ZRLinkUrl::GetUrl("IniURL").isNull());
}
