// The launcher's work: find the main program beside it, work out the
// interface language and start the program with administrator rights
// through pkexec, passing the language code as its only argument. pkexec
// serves only a caller that is still there, so the launcher stays its parent
// and waits for it.
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
    // How a start ended: the status the launcher exits with and, when it
    // failed, the reason in words for the user ("" on success and when the
    // user cancelled the password dialog).
    struct Outcome {
        int status = 0;
        QString failure;
    };
    // Asks for administrator rights and starts path with them, then waits
    // for the program and answers its exit status. When pkexec is missing or
    // refuses, nothing is started and the outcome says why.
    static Outcome RunTool(const QString& path);

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
    // The main program beside the launcher (the installed layout), else
    // builtProgram (the build tree's program, "" when there is none). path is
    // empty when neither is an executable file; tried lists what was looked at.
    struct Found {
        QString path;
        QStringList tried;
    };
    static Found FindMainProgram(const QString& launcherFolder, const QString& builtProgram);

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
    // display variables pkexec would drop, the program and the code. direct
    // leaves env out: pkexec then applies the program's own polkit action
    // (its message, and the display kept by allow_gui).
    static std::vector<std::string> BuildLaunchCommand(const std::string& pkexec, const std::string& program,
                                                       const std::string& language,
                                                       const std::map<std::string, std::string>& environment,
                                                       bool direct = false);
    // True when the polkit action installed in actionsFolder names program.
    static bool HasOwnAction(const QString& actionsFolder, const QString& program);

    // What a finished pkexec status means: 126 is a dismissed password
    // dialog (nothing started, status 0, no message), 127 a refusal or an
    // error of pkexec (its last message in errors), anything else the
    // program's own status.
    static Outcome Interpret(int status, const QString& errors, const QString& program);

    // Runs the command, waits for it and answers its exit status (128 plus
    // the signal number when a signal ended it, -1 when it could not be
    // started); its standard error is passed on, the end of it kept in errors.
    static int RunAndWait(const std::vector<std::string>& command, std::string& errors);

    // Where the command goes: RunAndWait by default; tests put a recorder
    // here so nothing is ever started. It answers the exit status.
    using Spawner = std::function<int(const std::vector<std::string>& command)>;
    static void SetSpawnerForTest(Spawner spawner);
    // The environment variables the launcher reads, and the pkexec it uses:
    // the first on PATH ("" when there is none).
    static std::map<std::string, std::string> CurrentEnvironment();
    static std::string FindPkexec();
};
