#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "BundleResources.h"

namespace {

void WriteFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

class BundleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        Bundle::SetResourcePath(m_dir.path());
        Bundle::SetLanguage("en");
    }
    void TearDown() override { Bundle::SetResourcePath(QString()); }
    QTemporaryDir m_dir;
};

}  // namespace

TEST_F(BundleTest, SettingsRoundTripKeepsEveryKindOfValue)
{
    QVariantMap links{{"IniURL", "https://example.org/v.plist"}, {"AboutURL", "https://example.org/a"}};
    QVariantMap settings{{"FristTime", "YES"},
                         {"VersionCheck", 7},
                         {"Ratio", 0.5},
                         {"Vorin", true},
                         {"SupportLanguage", QVariantList{"en", "de"}},
                         {"en", links},
                         {"SavePath", "/home/u/<odd & name>"}};
    ASSERT_TRUE(Bundle::WriteSettings(settings));
    auto back = Bundle::ReadSettings();
    ASSERT_TRUE(back);
    EXPECT_EQ(back->value("FristTime").toString(), "YES");
    EXPECT_EQ(back->value("VersionCheck").toLongLong(), 7);
    EXPECT_DOUBLE_EQ(back->value("Ratio").toDouble(), 0.5);
    EXPECT_TRUE(back->value("Vorin").toBool());
    EXPECT_EQ(back->value("SupportLanguage").toList().size(), 2);
    EXPECT_EQ(back->value("en").toMap().value("IniURL").toString(), "https://example.org/v.plist");
    EXPECT_EQ(back->value("SavePath").toString(), "/home/u/<odd & name>");
}

TEST_F(BundleTest, DamagedOrMissingSettingsReadAsNothing)
{
    EXPECT_FALSE(Bundle::ReadSettings());  // no file
    QByteArray deep = "<plist><dict><key>a</key>";
    for (int i = 0; i < 200; ++i)
        deep += "<array>";
    const QByteArray cases[] = {
        "",
        "not xml at all",
        "<plist><array></array></plist>",
        "<plist><dict><key>n</key><integer>12x</integer></dict></plist>",
        "<plist><dict><key>a</key><string>cut",
        deep,
    };
    for (const QByteArray& text : cases) {
        WriteFile(Bundle::SettingsPath(), text);
        EXPECT_FALSE(Bundle::ReadSettings()) << text.left(60).toStdString();
    }
}

TEST_F(BundleTest, LocalizedStringsFollowTheLanguageAndDefaultToEmpty)
{
    WriteFile(m_dir.path() + "/en.lproj/Localizable.strings",
              "/* menu */\n\"MENU_QUIT\" = \"Quit\";\n// note\n\"ESC\" = \"a \\\"b\\\"\\n\";\nbroken line\n\"X\"=\"y\";");
    WriteFile(m_dir.path() + "/de.lproj/Localizable.strings", "\"MENU_QUIT\" = \"Beenden\";");
    EXPECT_EQ(Bundle::LocalizedString("MENU_QUIT"), "Quit");
    EXPECT_EQ(Bundle::LocalizedString("ESC"), "a \"b\"\n");
    EXPECT_EQ(Bundle::LocalizedString("X"), "y");
    EXPECT_EQ(Bundle::LocalizedString("MISSING"), "");
    Bundle::SetLanguage("de");
    EXPECT_EQ(Bundle::LocalizedString("MENU_QUIT"), "Beenden");
    Bundle::SetLanguage("../en");
    EXPECT_EQ(Bundle::LocalizedString("MENU_QUIT"), "");
}

TEST_F(BundleTest, ImagesLoadByNameAndMissingOnesAreNull)
{
    QImage red(4, 3, QImage::Format_RGB32);
    red.fill(QColor(255, 0, 0));
    QDir().mkpath(m_dir.path() + "/images");
    ASSERT_TRUE(red.save(m_dir.path() + "/images/start_normal.png"));
    QPixmap p = Bundle::ImageNamed("start_normal");
    ASSERT_FALSE(p.isNull());
    EXPECT_EQ(p.size(), QSize(4, 3));
    EXPECT_EQ(p.toImage().pixelColor(1, 1), QColor(255, 0, 0));
    EXPECT_TRUE(Bundle::ImageNamed("nothing_here").isNull());
    EXPECT_TRUE(Bundle::ImageNamed("../images/start_normal").isNull());
}

// The table and settings shipped with the program are well formed: every
// line of the table is an entry, and the settings read as a dictionary.
TEST(ShippedResources, StringTableAndSettingsParse)
{
    const QString root = QStringLiteral(VANTREL_SOURCE_RESOURCES);
    Bundle::SetResourcePath(root);
    Bundle::SetLanguage("en");
    EXPECT_EQ(Bundle::LocalizedString("WINDOW_TOP_TITLE"), "Vantrel Data Recovery");
    QFile table(root + "/en.lproj/Localizable.strings");
    ASSERT_TRUE(table.open(QIODevice::ReadOnly));
    int entries = 0;
    for (const QByteArray& line : table.readAll().split('\n'))
        if (line.startsWith('"')) {
            ++entries;
            const QByteArray key = line.mid(1, line.indexOf('"', 1) - 1);
            EXPECT_FALSE(Bundle::LocalizedString(QString::fromUtf8(key)).isEmpty()) << key.constData();
        }
    EXPECT_GT(entries, 50);
    auto settings = Bundle::ReadSettings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->value("FristTime").toString(), "YES");
    EXPECT_EQ(settings->value("SupportLanguage").toMap().value("English").toString(), "en");
    Bundle::SetResourcePath(QString());
}
