// The launcher's work: find the main program beside it, work out the
// interface language and start the program with administrator rights
// through pkexec, passing the language code as its only argument.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class RunScript {
public:
    // Asks for administrator rights and starts path with them; does not wait.
    // When pkexec is missing nothing is started.
    static void RunTool(const QString& path);

    // The language code for the main program; may remember the choice as
    // "CurLanguage" in the main program's settings file.
    static QString GetCurrentLanaguage();

    // Runs "tool arguments..." through the shell, as administrator when asked,
    // and collects its output; on failure the error text says why.
    static bool runProcess(const QString& tool, const QStringList& arguments, QString& output,
                           QString& errorDescription, bool asAdministrator);

    // --- The pieces, exposed so they can be checked without starting anything.

    // The main program: "vantrel-data-recovery" in the launcher's folder.
    static QString MainProgramPath(const QString& launcherFolder);

    // The system's first preferred language, written like "de", "pt",
    // "zh-Hans" or "zh-TW", from LANGUAGE, LC_ALL, LC_MESSAGES or LANG;
    // "en" when none is set or it is "C"/"POSIX".
    static QString SystemLanguage(const std::map<std::string, std::string>& environment);

    // The language rules over a settings dictionary: answers the code and
    // tells whether the dictionary was changed (and so is to be written).
    struct Choice {
        QString code;
        bool changed = false;
    };
    static Choice ChooseLanguage(QVariantMap& settings, bool haveSettings, const QString& systemLanguage);

    // The command that starts the program: pkexec, then /usr/bin/env with the
    // display variables pkexec would drop, the program and the code.
    static std::vector<std::string> BuildLaunchCommand(const std::string& pkexec, const std::string& program,
                                                       const std::string& language,
                                                       const std::map<std::string, std::string>& environment);

    // Where the command goes: posix_spawn by default; tests put a recorder
    // here so nothing is ever started.
    using Spawner = std::function<bool(const std::vector<std::string>& command)>;
    static void SetSpawnerForTest(Spawner spawner);
    // The environment variables the launcher reads, and the pkexec it uses
    // ("" when none is installed).
    static std::map<std::string, std::string> CurrentEnvironment();
    static std::string FindPkexec();
};
