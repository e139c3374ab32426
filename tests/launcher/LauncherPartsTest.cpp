// The launcher's decisions: which program it starts, what a pkexec status
// means, when pkexec is given the program directly, and where the settings
// of an installed program are read and written.
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "BundleResources.h"
#include "RunScript.h"
#include "TestSupport.h"
#include "WorkPath.h"

namespace {

void WriteText(const std::string& path, const std::string& text, mode_t mode = 0644)
{
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).path());
    std::ofstream(path) << text;
    chmod(path.c_str(), mode);
}

}  // namespace

TEST(LauncherParts, FindsTheProgramBesideItselfElseWhereItWasBuilt)
{
    TempDir dir;
    const std::string beside = dir / "bin/vantrel-data-recovery";
    const std::string built = dir / "build/UI/vantrel-data-recovery";
    const QString folder = QString::fromStdString(dir / "bin");
    const QString builtPath = QString::fromStdString(built);

    RunScript::Found none = RunScript::FindMainProgram(folder, builtPath);
    EXPECT_TRUE(none.path.isEmpty());
    EXPECT_EQ(none.tried, QStringList({QString::fromStdString(beside), builtPath}));

    WriteText(built, "#!/bin/sh\n", 0755);
    EXPECT_EQ(RunScript::FindMainProgram(folder, builtPath).path, builtPath);
    WriteText(beside, "not a program", 0644);  // not executable: passed over
    EXPECT_EQ(RunScript::FindMainProgram(folder, builtPath).path, builtPath);
    chmod(beside.c_str(), 0755);
    EXPECT_EQ(RunScript::FindMainProgram(folder, builtPath).path, QString::fromStdString(beside));
    EXPECT_EQ(RunScript::FindMainProgram(folder, "").tried.size(), 1);
}

TEST(LauncherParts, WhatAPkexecStatusMeans)
{
    const QString program = "/opt/v/bin/vantrel-data-recovery";
    struct Case {
        int status;
        QString errors;
        int exitStatus;
        std::vector<QString> failureHas;  // empty: no window
    };
    const std::vector<Case> cases = {
        {126, "", 0, {}},
        {0, "", 0, {}},
        {3, "warning: something\n", 3, {}},
        {127, "polkit-agent-helper-1: error\nError executing command as another user: Not authorized\n\n", 127,
         {"not started", "pkexec said: Error executing command as another user: Not authorized",
          "sudo /opt/v/bin/vantrel-data-recovery"}},
        {127, "", 127, {"pkexec refused without saying why."}},
        {-1, "/usr/bin/pkexec: Permission denied", 1, {"could not be started", "Permission denied", "sudo "}},
    };
    for (const Case& c : cases) {
        RunScript::Outcome outcome = RunScript::Interpret(c.status, c.errors, program);
        EXPECT_EQ(outcome.status, c.exitStatus) << c.status;
        EXPECT_EQ(outcome.failure.isEmpty(), c.failureHas.empty()) << c.status;
        for (const QString& part : c.failureHas)
            EXPECT_TRUE(outcome.failure.contains(part)) << c.status << " " << outcome.failure.toStdString();
    }
}

TEST(LauncherParts, ProgramGoesToPkexecDirectlyOnlyWhenItsActionIsInstalled)
{
    TempDir dir;
    const QString actions = QString::fromStdString(dir.path());
    const QString program = "/usr/bin/vantrel-data-recovery";
    EXPECT_FALSE(RunScript::HasOwnAction(actions, program));
    WriteText(dir / "org.vantrel.data-recovery.policy",
              "<policyconfig><action id=\"x\"><annotate key=\"org.freedesktop.policykit.exec.path\">"
              "/usr/bin/vantrel-data-recovery</annotate></action></policyconfig>\n");
    EXPECT_TRUE(RunScript::HasOwnAction(actions, program));
    EXPECT_FALSE(RunScript::HasOwnAction(actions, "/usr/local/bin/vantrel-data-recovery"));
    EXPECT_FALSE(RunScript::HasOwnAction(actions, "/usr/bin/vantrel"));

    using Command = std::vector<std::string>;
    EXPECT_EQ(RunScript::BuildLaunchCommand("/usr/bin/pkexec", "/usr/bin/vantrel-data-recovery", "de",
                                            {{"DISPLAY", ":0"}}, true),
              Command({"/usr/bin/pkexec", "/usr/bin/vantrel-data-recovery", "de"}));
    // An empty DISPLAY names no display, so no cookie file is named for it.
    EXPECT_EQ(RunScript::BuildLaunchCommand("pkexec", "/p", "en", {{"DISPLAY", ""}, {"HOME", "/home/u"}}),
              Command({"pkexec", "/usr/bin/env", "/p", "en"}));
}

TEST(LauncherParts, InstalledSettingsAreReadFromTheResourcesAndWrittenToTheWorkFolder)
{
    TempDir prefix;
    TempDir work;
    const std::string shipped = prefix / "share/vantrel-data-recovery/LocalVersionMessage.plist";
    WriteText(shipped, Bundle::SerializePlist({{"FristTime", "YES"}, {"VersionCheck", 4}}).toStdString());
    QDir().mkpath(QString::fromStdString(prefix / "bin"));
    const std::string oldWork = GetAppWorkPath();
    const QString oldResources = Bundle::ResourcePath();
    SetAppWorkPath(work.path());
    Bundle::SetProgramFolder(QString::fromStdString(prefix / "bin"));

    EXPECT_EQ(Bundle::ResourcePath(), QString::fromStdString(prefix / "share/vantrel-data-recovery"));
    EXPECT_EQ(Bundle::SettingsPath(), QString::fromStdString(work / "LocalVersionMessage.plist"));
    std::optional<QVariantMap> settings = Bundle::ReadSettings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->value("FristTime").toString(), "YES");

    (*settings)["FristTime"] = "NO";
    ASSERT_TRUE(Bundle::WriteSettings(*settings));
    settings = Bundle::ReadSettings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->value("FristTime").toString(), "NO");
    EXPECT_EQ(settings->value("VersionCheck").toInt(), 4);
    // The shipped copy is never written.
    QFile file(QString::fromStdString(shipped));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("YES"));

    // The build tree: "Resources" beside the program comes first.
    QDir().mkpath(QString::fromStdString(prefix / "bin/Resources"));
    Bundle::SetProgramFolder(QString::fromStdString(prefix / "bin"));
    EXPECT_EQ(Bundle::ResourcePath(), QString::fromStdString(prefix / "bin/Resources"));

    Bundle::SetProgramFolder(QString());
    Bundle::SetResourcePath(oldResources);
    SetAppWorkPath(oldWork);
}
