#include "RunScript.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <spawn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "BundleResources.h"

extern char** environ;

namespace {

std::mutex g_spawnLock;
RunScript::Spawner g_spawner;

const char* const kEnvironmentNames[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG", "DISPLAY", "XAUTHORITY",
                                         "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "QT_QPA_PLATFORM",
                                         "VANTREL_RESOURCES", "HOME", "PATH"};

// Variables the program needs to reach the user's display; pkexec starts it
// with a clean environment otherwise.
const char* const kPassedOn[] = {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "QT_QPA_PLATFORM",
                                 "VANTREL_RESOURCES"};

bool SpawnDetached(const std::vector<std::string>& command)
{
    if (command.empty())
        return false;
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (const std::string& arg : command)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    // The child is not waited for: the launcher ends right after.
    return posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0;
}

QString Lookup(const std::map<std::string, std::string>& environment, const char* name)
{
    auto it = environment.find(name);
    return it == environment.end() ? QString() : QString::fromStdString(it->second);
}

struct LanguageRule {
    QString defaultCode;
    QString lookedFor;
};

LanguageRule RuleFor(const QString& system)
{
    static const QStringList traditional = {QStringLiteral("zh-Hant"), QStringLiteral("zh-HK"),
                                            QStringLiteral("zh-MO"), QStringLiteral("zh-TW")};
    if (traditional.contains(system))
        return {QStringLiteral("zh-Hant-TW"), QStringLiteral("zh-Hant-TW")};
    if (system == QLatin1String("zh-Hans"))
        return {QStringLiteral("zh-Hans-CN"), QStringLiteral("zh-Hans-CN")};
    if (system == QLatin1String("pt"))
        return {QStringLiteral("pt-BR"), QStringLiteral("pt-BR")};
    return {QStringLiteral("en"), system};
}

}  // namespace

QString RunScript::MainProgramPath(const QString& launcherFolder)
{
    return QDir(launcherFolder).filePath(QStringLiteral("vantrel-data-recovery"));
}

QString RunScript::SystemLanguage(const std::map<std::string, std::string>& environment)
{
    QString locale;
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = Lookup(environment, name);
        if (name == std::string("LANGUAGE"))
            locale = locale.section(QLatin1Char(':'), 0, 0);  // a list: the first is preferred
        if (!locale.isEmpty())
            break;
    }
    // "de_DE.UTF-8@euro" -> language "de", territory "DE".
    locale = locale.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
    QString language = locale.section(QLatin1Char('_'), 0, 0).toLower();
    QString territory = locale.section(QLatin1Char('_'), 1, 1).toUpper();
    if (language.isEmpty() || language == QLatin1String("c") || language == QLatin1String("posix"))
        return QStringLiteral("en");
    if (language == QLatin1String("zh")) {
        if (territory == QLatin1String("TW") || territory == QLatin1String("HK") || territory == QLatin1String("MO"))
            return QStringLiteral("zh-") + territory;
        return QStringLiteral("zh-Hans");
    }
    return language;
}

RunScript::Choice RunScript::ChooseLanguage(QVariantMap& settings, bool haveSettings, const QString& systemLanguage)
{
    if (haveSettings && settings.contains(QStringLiteral("Vorin")))
        return {QStringLiteral("ja"), false};
    LanguageRule rule = RuleFor(systemLanguage);
    if (!haveSettings)
        return {rule.defaultCode, false};

    QVariantMap support = settings.value(QStringLiteral("SupportLanguage")).toMap();
    QVariant current = settings.value(QStringLiteral("CurLanguage"));
    if (current.typeId() == QMetaType::QString) {
        for (auto it = support.cbegin(); it != support.cend(); ++it)
            if (it.key() == current.toString() && it.value().typeId() == QMetaType::QString)
                return {it.value().toString(), false};
        return {rule.defaultCode, false};
    }

    Choice choice{rule.defaultCode, false};
    for (auto it = support.cbegin(); it != support.cend(); ++it) {
        if (it.value().typeId() == QMetaType::QString && it.value().toString() == rule.lookedFor) {
            settings.insert(QStringLiteral("CurLanguage"), it.key());
            choice = {it.value().toString(), true};
            break;
        }
    }
    if (choice.code == QLatin1String("en")) {
        settings.insert(QStringLiteral("CurLanguage"), QStringLiteral("English"));
        choice.changed = true;
    }
    return choice;
}

std::vector<std::string> RunScript::BuildLaunchCommand(const std::string& pkexec, const std::string& program,
                                                       const std::string& language,
                                                       const std::map<std::string, std::string>& environment)
{
    std::vector<std::string> command = {pkexec, "/usr/bin/env"};
    for (const char* name : kPassedOn) {
        auto it = environment.find(name);
        if (it != environment.end() && !it->second.empty())
            command.push_back(std::string(name) + "=" + it->second);
    }
    // Without XAUTHORITY the X server knows the user by the default cookie
    // file in their home, which root would not look at.
    if (environment.count("DISPLAY") && !environment.count("XAUTHORITY") && environment.count("HOME"))
        command.push_back("XAUTHORITY=" + environment.at("HOME") + "/.Xauthority");
    command.push_back(program);
    command.push_back(language);
    return command;
}

std::map<std::string, std::string> RunScript::CurrentEnvironment()
{
    std::map<std::string, std::string> environment;
    for (const char* name : kEnvironmentNames)
        if (const char* value = std::getenv(name))
            environment[name] = value;
    return environment;
}

std::string RunScript::FindPkexec()
{
    for (const char* path : {"/usr/bin/pkexec", "/bin/pkexec", "/usr/local/bin/pkexec"})
        if (access(path, X_OK) == 0)
            return path;
    return {};
}

void RunScript::SetSpawnerForTest(Spawner spawner)
{
    std::lock_guard<std::mutex> lock(g_spawnLock);
    g_spawner = std::move(spawner);
}

QString RunScript::GetCurrentLanaguage()
{
    std::optional<QVariantMap> settings = Bundle::ReadSettings();
    QVariantMap dict = settings.value_or(QVariantMap());
    Choice choice = ChooseLanguage(dict, settings.has_value(), SystemLanguage(CurrentEnvironment()));
    // A failed write only means the choice is not remembered.
    if (choice.changed)
        Bundle::WriteSettings(dict);
    return choice.code;
}

void RunScript::RunTool(const QString& path)
{
    std::string pkexec = FindPkexec();
    Spawner spawner;
    {
        std::lock_guard<std::mutex> lock(g_spawnLock);
        spawner = g_spawner;
    }
    if (spawner && pkexec.empty())
        pkexec = "pkexec";  // tests run where no pkexec is installed
    if (pkexec.empty()) {
        std::fprintf(stderr, "pkexec is not installed: cannot obtain administrator rights\n");
        return;
    }
    QString language = GetCurrentLanaguage();
    std::vector<std::string> command =
        BuildLaunchCommand(pkexec, path.toStdString(), language.toLatin1().toStdString(), CurrentEnvironment());
    if (spawner)
        spawner(command);
    else
        SpawnDetached(command);
}

bool RunScript::runProcess(const QString& tool, const QStringList& arguments, QString& output,
                           QString& errorDescription, bool asAdministrator)
{
    QString commandLine = QStringLiteral("%1 %2").arg(tool, arguments.join(QLatin1Char(' ')));
    QStringList args = {QStringLiteral("-c"), commandLine};
    QString program = QStringLiteral("/bin/sh");
    if (asAdministrator) {
        std::string pkexec = FindPkexec();
        if (pkexec.empty()) {
            errorDescription = QStringLiteral("The administrator password is required to do this.");
            return false;
        }
        args.prepend(program);
        program = QString::fromStdString(pkexec);
    }
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit) {
        errorDescription = process.errorString();
        return false;
    }
    output = QString::fromUtf8(process.readAllStandardOutput());
    if (process.exitCode() == 0)
        return true;
    // pkexec answers 126 when the user dismissed the password dialog.
    if (asAdministrator && process.exitCode() == 126)
        errorDescription = QStringLiteral("The administrator password is required to do this.");
    else
        errorDescription = QString::fromUtf8(process.readAllStandardError()).trimmed();
    return false;
}
