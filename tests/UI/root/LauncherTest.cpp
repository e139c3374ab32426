// The launcher: which language it passes and the command it starts, run
// through a recording seam (pkexec is never started here).
#include <QFile>

#include <gtest/gtest.h>

#include <cstdlib>

#include "BundleResources.h"
#include "RunScript.h"
#include "TestSupport.h"

namespace {

using Env = std::map<std::string, std::string>;

QVariantMap Supported()
{
    return {{"English", "en"}, {"French", "fr"}, {"German", "de"}, {"Chinese", "zh-Hant-TW"}};
}

}  // namespace

TEST(Launcher, SystemLanguageFromTheLocaleVariables)
{
    const std::vector<std::pair<Env, QString>> cases = {
        {{}, "en"},
        {{{"LANG", "C"}}, "en"},
        {{{"LANG", "POSIX"}}, "en"},
        {{{"LANG", "de_DE.UTF-8"}}, "de"},
        {{{"LC_MESSAGES", "fr_FR@euro"}, {"LANG", "de_DE.UTF-8"}}, "fr"},
        {{{"LC_ALL", "pt_BR.UTF-8"}, {"LC_MESSAGES", "fr_FR"}}, "pt"},
        {{{"LANGUAGE", "ja_JP:en"}, {"LC_ALL", "de_DE"}}, "ja"},
        {{{"LANGUAGE", ""}, {"LC_ALL", "zh_TW.UTF-8"}}, "zh-TW"},
        {{{"LANG", "zh_HK.UTF-8"}}, "zh-HK"},
        {{{"LANG", "zh_CN.GB2312"}}, "zh-Hans"},
        {{{"LANG", "zh"}}, "zh-Hans"},
    };
    for (const auto& [env, code] : cases)
        EXPECT_EQ(RunScript::SystemLanguage(env), code) << (env.empty() ? "" : env.begin()->second);
}

TEST(Launcher, LanguageChoiceAndWhatItRemembers)
{
    struct Case {
        const char* name;
        QVariantMap settings;
        bool have;
        QString system;
        QString code;
        bool changed;
        QVariant current;  // "CurLanguage" afterwards
    };
    const std::vector<Case> cases = {
        {"traditional Chinese default", {{"SupportLanguage", QVariantMap{{"English", "en"}}}}, true, "zh-HK",
         "zh-Hant-TW", false, {}},
        {"traditional Chinese entry", {{"SupportLanguage", Supported()}}, true, "zh-TW", "zh-Hant-TW", true, "Chinese"},
        {"simplified Chinese default", {{"SupportLanguage", Supported()}}, true, "zh-Hans", "zh-Hans-CN", false, {}},
        {"Portuguese default", {{"SupportLanguage", Supported()}}, true, "pt", "pt-BR", false, {}},
        {"French entry found", {{"SupportLanguage", Supported()}}, true, "fr", "fr", true, "French"},
        {"French missing", {{"SupportLanguage", QVariantMap{{"English", "en"}}}}, true, "fr", "en", true, "English"},
        {"no support list", {}, true, "it", "en", true, "English"},
        {"remembered choice wins", {{"SupportLanguage", Supported()}, {"CurLanguage", "German"}}, true, "fr", "de",
         false, "German"},
        {"remembered name unknown", {{"SupportLanguage", Supported()}, {"CurLanguage", "Klingon"}}, true, "zh-MO",
         "zh-Hant-TW", false, "Klingon"},
        {"Vorin", {{"Vorin", 1}, {"SupportLanguage", Supported()}}, true, "fr", "ja", false, {}},
        {"no settings file", {}, false, "de", "en", false, {}},
    };
    for (const Case& c : cases) {
        QVariantMap settings = c.settings;
        RunScript::Choice choice = RunScript::ChooseLanguage(settings, c.have, c.system);
        EXPECT_EQ(choice.code, c.code) << c.name;
        EXPECT_EQ(choice.changed, c.changed) << c.name;
        EXPECT_EQ(settings.value("CurLanguage"), c.current) << c.name;
        if (!c.changed) {
            EXPECT_EQ(settings, c.settings) << c.name;
        }
    }
}

TEST(Launcher, StartsTheProgramThroughPkexecWithTheLanguage)
{
    TempDir dir;
    const QString oldPath = Bundle::ResourcePath();
    Bundle::SetResourcePath(QString::fromStdString(dir.path()));
    ASSERT_TRUE(Bundle::WriteSettings({{"SupportLanguage", Supported()}, {"VersionCheck", 5}}));
    setenv("LANGUAGE", "de_AT", 1);

    std::vector<std::vector<std::string>> started;
    RunScript::SetSpawnerForTest([&](const std::vector<std::string>& command) {
        started.push_back(command);
        return true;
    });
    RunScript::RunTool(RunScript::MainProgramPath("/opt/vantrel"));
    ASSERT_EQ(started.size(), 1u);
    const auto& command = started[0];
    ASSERT_GE(command.size(), 4u);
    EXPECT_NE(command[0].find("pkexec"), std::string::npos);
    EXPECT_EQ(command[1], "/usr/bin/env");
    EXPECT_EQ(command[command.size() - 2], "/opt/vantrel/vantrel-data-recovery");
    EXPECT_EQ(command.back(), "de");
    // The choice is remembered, the rest of the settings kept.
    auto settings = Bundle::ReadSettings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->value("CurLanguage").toString(), "German");
    EXPECT_EQ(settings->value("VersionCheck").toInt(), 5);

    // "Vorin": Japanese, and the file is left exactly as it was.
    ASSERT_TRUE(Bundle::WriteSettings({{"SupportLanguage", Supported()}, {"Vorin", true}}));
    QFile file(Bundle::SettingsPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    RunScript::RunTool("/opt/vantrel/vantrel-data-recovery");
    EXPECT_EQ(started.back().back(), "ja");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);

    RunScript::SetSpawnerForTest(nullptr);
    unsetenv("LANGUAGE");
    Bundle::SetResourcePath(oldPath);
}

TEST(Launcher, CommandCarriesTheDisplayVariablesPkexecWouldDrop)
{
    using Command = std::vector<std::string>;
    EXPECT_EQ(RunScript::BuildLaunchCommand("/usr/bin/pkexec", "/p/main", "fr", {}),
              Command({"/usr/bin/pkexec", "/usr/bin/env", "/p/main", "fr"}));
    EXPECT_EQ(RunScript::BuildLaunchCommand("/usr/bin/pkexec", "/p/main", "en",
                                            {{"DISPLAY", ":0"}, {"XAUTHORITY", "/run/user/1000/xauth"},
                                             {"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_RUNTIME_DIR", "/run/user/1000"},
                                             {"HOME", "/home/u"}, {"LANG", "fr_FR"}, {"QT_QPA_PLATFORM", ""}}),
              Command({"/usr/bin/pkexec", "/usr/bin/env", "DISPLAY=:0", "XAUTHORITY=/run/user/1000/xauth",
                       "WAYLAND_DISPLAY=wayland-0", "XDG_RUNTIME_DIR=/run/user/1000", "/p/main", "en"}));
    // Without XAUTHORITY the user's own cookie file is named for root.
    EXPECT_EQ(RunScript::BuildLaunchCommand("pkexec", "/p/main", "de", {{"DISPLAY", ":1"}, {"HOME", "/home/u"}}),
              Command({"pkexec", "/usr/bin/env", "DISPLAY=:1", "XAUTHORITY=/home/u/.Xauthority", "/p/main", "de"}));
}

TEST(Launcher, ShellCommandsReportOutputAndErrors)
{
    QString output, error;
    EXPECT_TRUE(RunScript::runProcess("echo", {"one", "two"}, output, error, false));
    EXPECT_EQ(output, "one two\n");
    EXPECT_FALSE(RunScript::runProcess("sh", {"-c", "'echo broken >&2; exit 3'"}, output, error, false));
    EXPECT_EQ(error, "broken");
}
