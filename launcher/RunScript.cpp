#include "RunScript.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "BundleResources.h"

extern char** environ;

namespace {

std::mutex g_spawnLock;
RunScript::Spawner g_spawner;

const char* const kEnvironmentNames[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG", "DISPLAY", "XAUTHORITY",
                                         "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "QT_QPA_PLATFORM",
                                         "VANTREL_RESOURCES", "VANTREL_WORK_DIR", "XDG_DATA_HOME", "HOME", "PATH"};

// Variables the program needs to reach the user's display and the user's
// work folder (where the launcher keeps the language choice); pkexec starts
// it with a clean environment otherwise.
const char* const kPassedOn[] = {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "QT_QPA_PLATFORM",
                                 "VANTREL_RESOURCES", "VANTREL_WORK_DIR", "XDG_DATA_HOME"};

// The end of pkexec's standard error that is kept for the failure window.
constexpr size_t kErrorTail = 4096;

void KeepTail(std::string& tail, const char* data, size_t size)
{
    tail.append(data, size);
    if (tail.size() > kErrorTail)
        tail.erase(0, tail.size() - kErrorTail);
}

// Passes what arrived on fd to the launcher's own standard error and keeps
// its end; false at the end of the stream.
bool Forward(int fd, std::string& tail)
{
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0)
        return errno == EINTR || errno == EAGAIN;
    if (n == 0)
        return false;
    ssize_t written = write(STDERR_FILENO, buf, static_cast<size_t>(n));
    (void)written;
    KeepTail(tail, buf, static_cast<size_t>(n));
    return true;
}

int StatusOf(int waitStatus)
{
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return -1;
}

// "vantrel-data-recovery" when that name on PATH is the program, else its
// whole path: what a person types after sudo.
QString CommandName(const QString& program)
{
    const QString name = QFileInfo(program).fileName();
    const QString onPath = QStandardPaths::findExecutable(name);
    if (!onPath.isEmpty() && QFileInfo(onPath).canonicalFilePath() == QFileInfo(program).canonicalFilePath())
        return name;
    return program;
}

QString SudoAdvice(const QString& program)
{
    return QStringLiteral("To start it without the launcher, run it as administrator: sudo %1")
        .arg(CommandName(program));
}

// The last non-empty line of pkexec's messages.
QString LastLine(const QString& text)
{
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (auto it = lines.crbegin(); it != lines.crend(); ++it)
        if (!it->trimmed().isEmpty())
            return it->trimmed();
    return {};
}

// Where polkit reads the actions that packages install.
const char* const kActionsFolder = "/usr/share/polkit-1/actions";
const char* const kActionFile = "org.vantrel.data-recovery.policy";

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

RunScript::Found RunScript::FindMainProgram(const QString& launcherFolder, const QString& builtProgram)
{
    Found found;
    found.tried.push_back(MainProgramPath(launcherFolder));
    if (!builtProgram.isEmpty() && !found.tried.contains(builtProgram))
        found.tried.push_back(builtProgram);
    for (const QString& candidate : found.tried) {
        QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable()) {
            found.path = info.absoluteFilePath();
            break;
        }
    }
    return found;
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
                                                       const std::map<std::string, std::string>& environment,
                                                       bool direct)
{
    if (direct)
        return {pkexec, program, language};
    std::vector<std::string> command = {pkexec, "/usr/bin/env"};
    for (const char* name : kPassedOn) {
        auto it = environment.find(name);
        if (it != environment.end() && !it->second.empty())
            command.push_back(std::string(name) + "=" + it->second);
    }
    // Without XAUTHORITY the X server knows the user by the default cookie
    // file in their home, which root would not look at.
    auto set = [&](const char* name) {
        auto it = environment.find(name);
        return it != environment.end() && !it->second.empty();
    };
    if (set("DISPLAY") && !set("XAUTHORITY") && set("HOME"))
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
    return QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("pkexec"))).toStdString();
}

bool RunScript::HasOwnAction(const QString& actionsFolder, const QString& program)
{
    QFile file(QDir(actionsFolder).filePath(QString::fromLatin1(kActionFile)));
    if (file.size() > (1 << 20) || !file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = file.readAll();
    return text.contains(">" + QFile::encodeName(program) + "</annotate>");
}

RunScript::Outcome RunScript::Interpret(int status, const QString& errors, const QString& program)
{
    if (status == 126)
        return {0, {}};
    if (status == 127) {
        QString why = LastLine(errors);
        if (why.isEmpty())
            why = QStringLiteral("pkexec refused without saying why.");
        return {127, QStringLiteral("Administrator rights could not be obtained, so the program was not started.\n\n"
                                    "pkexec said: %1\n\n"
                                    "Check that the desktop's password agent is running and the system message "
                                    "bus is available. %2")
                         .arg(why, SudoAdvice(program))};
    }
    if (status < 0)
        return {1, QStringLiteral("pkexec could not be started, so the program was not started.\n\n%1\n\n%2")
                       .arg(errors, SudoAdvice(program))};
    return {status, {}};
}

int RunScript::RunAndWait(const std::vector<std::string>& command, std::string& errors)
{
    errors.clear();
    if (command.empty())
        return -1;
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (const std::string& arg : command)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        errors = std::strerror(errno);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        errors = std::string(argv[0]) + ": " + std::strerror(rc);
        return -1;
    }

    // The program and whatever it starts (a web browser) share this pipe:
    // the end of the program, not of the pipe, ends the wait.
    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    bool open = true;
    int waitStatus = 0;
    for (;;) {
        pid_t done = waitpid(pid, &waitStatus, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            break;
        if (!open) {
            if (waitpid(pid, &waitStatus, 0) == pid || errno != EINTR)
                break;
            continue;
        }
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 200) > 0)
            open = Forward(fds[0], errors);
    }
    while (open && Forward(fds[0], errors)) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 0) <= 0)
            break;
    }
    close(fds[0]);
    return StatusOf(waitStatus);
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

RunScript::Outcome RunScript::RunTool(const QString& path)
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
        return {1, QStringLiteral("Administrator rights are needed to read the disks, but pkexec is not installed, "
                                  "so they cannot be asked for and the program was not started.\n\n"
                                  "Install the package \"pkexec\". %1")
                       .arg(SudoAdvice(path))};
    }
    QString language = GetCurrentLanaguage();
    const std::string program = QFile::encodeName(path).toStdString();
    std::vector<std::string> command =
        BuildLaunchCommand(pkexec, program, language.toLatin1().toStdString(), CurrentEnvironment(),
                           HasOwnAction(QString::fromLatin1(kActionsFolder), path));
    if (spawner)
        return Interpret(spawner(command), {}, path);
    std::string errors;
    const int status = RunAndWait(command, errors);
    return Interpret(status, QString::fromLocal8Bit(errors), path);
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
