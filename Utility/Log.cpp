#include "Log.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "InvokingUser.h"
#include "WorkPath.h"

namespace {

constexpr size_t kMaxText = 2000;
constexpr char kLogName[] = "sMAC_iKolm.log";
constexpr char kFolderName[] = "vantrel-data-recovery";
// The log never grows beyond this; the entries before it are kept in one
// older copy beside it.
constexpr off_t kLogLimit = 16 << 20;

// Never destroyed: threads may still log while the process exits.
SimpleCs& LogLock()
{
    static auto* cs = new SimpleCs;
    return *cs;
}

struct CachedWorkPath {
    std::string path;
    unsigned generation = 0;
};

CachedWorkPath& WorkPathCopy()
{
    static auto* c = new CachedWorkPath;
    return *c;
}

// Log settings of this process, guarded by the log lock.
struct LogSettings {
    bool bEcho = true;
    bool bFile = true;
};

LogSettings& Settings()
{
    static auto* s = new LogSettings;
    return *s;
}

// The state folder of the user the program works for: the invoking user's
// when it runs elevated for someone, else $XDG_STATE_HOME or
// ~/.local/state. Returns the folder above ours and whether it belongs to
// the invoking user.
std::string StateBase(bool& forInvokingUser)
{
    uid_t uid;
    gid_t gid;
    forInvokingUser = GetInvokingUser(uid, gid);
    if (forInvokingUser) {
        const std::string home = HomeOfUser(uid);
        return home.empty() ? std::string() : home + "/.local/state";
    }
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return state;
    const char* home = std::getenv("HOME");
    std::string base = (home && home[0] == '/') ? std::string(home) : HomeOfUser(geteuid());
    return base.empty() ? std::string() : base + "/.local/state";
}

// The folder of the log: the work folder the program set, else
// VANTREL_WORK_DIR, else our folder in the user's state folder.
std::string LogFolder()
{
    if (GetAppWorkPathGeneration() > 0)
        return GetAppWorkPath();
    const char* env = std::getenv("VANTREL_WORK_DIR");
    if (env && *env)
        return env;
    bool forInvokingUser = false;
    const std::string base = StateBase(forInvokingUser);
    return base.empty() ? std::string() : base + "/" + kFolderName;
}

// Creates the missing folders of path (owner only), handing each one made
// to the invoking user.
void MakeFolders(const std::string& path)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) == 0) {
            int fd = ::open(part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
            GiveToInvokingUser(fd);
            if (fd >= 0)
                ::close(fd);
        }
        if (slash == std::string::npos)
            break;
    }
}

// Opens the log for one entry of size bytes. A log that would pass its
// limit becomes the older copy (replacing the one before) and a new log is
// started.
int OpenLog(const std::string& folder, size_t size)
{
    const std::string path = folder + "/" + kLogName;
    const int flags = O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0 && errno == ENOENT) {
        MakeFolders(folder);
        fd = ::open(path.c_str(), flags, 0600);
    }
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    if (st.st_size > 0 && st.st_size + static_cast<off_t>(size) > kLogLimit) {
        ::close(fd);
        if (::rename(path.c_str(), (path + ".1").c_str()) != 0)
            return -1;
        fd = ::open(path.c_str(), flags, 0600);
    }
    if (fd >= 0 && st.st_size == 0)
        GiveToInvokingUser(fd);
    return fd;
}

}  // namespace

SimpleCs::SimpleCs()
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&m_mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

SimpleCs::~SimpleCs() { pthread_mutex_destroy(&m_mutex); }

void SimpleCs::Enter()
{
    pthread_mutex_lock(&m_mutex);
    m_owner = pthread_self();
    m_bOwned = true;
}

void SimpleCs::Leave()
{
    m_bOwned = false;
    m_owner = pthread_t{};
    pthread_mutex_unlock(&m_mutex);
}

const char* CatchExeception::GetWorkPath()
{
    SimpleLock lock(&LogLock());
    CachedWorkPath& c = WorkPathCopy();
    unsigned gen = GetAppWorkPathGeneration();
    if (c.path.empty() || c.generation != gen) {
        c.path = LogFolder();
        c.generation = gen;
    }
    return c.path.c_str();
}

void CatchExeception::SetEcho(bool echo)
{
    SimpleLock lock(&LogLock());
    Settings().bEcho = echo;
}

void CatchExeception::SetFileEnabled(bool enabled)
{
    SimpleLock lock(&LogLock());
    Settings().bFile = enabled;
}

namespace {

// One time-stamped entry, appended to the log file and, when asked, printed.
int WriteLogEntry(bool toStdout, const char* format, va_list args)
{
    _SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[48];
    int stampLen = std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d ", now.wHour, now.wMinute, now.wSecond);
    if (stampLen < 0)
        stampLen = 0;

    char text[kMaxText + 1] = {};
    int n = format ? std::vsnprintf(text, sizeof text, format, args) : 0;
    size_t textLen = n < 0 ? 0 : std::min(static_cast<size_t>(n), kMaxText);

    std::string entry;
    entry.reserve(static_cast<size_t>(stampLen) + textLen);
    entry.append(stamp, static_cast<size_t>(stampLen));
    entry.append(text, textLen);

    SimpleLock lock(&LogLock());
    const LogSettings& settings = Settings();
    toStdout = toStdout && settings.bEcho;
    if (toStdout) {
        std::fputs(entry.c_str(), stdout);
        std::fflush(stdout);
    }
    const std::string folder = CatchExeception::GetWorkPath();
    int fd = settings.bFile && !folder.empty() ? OpenLog(folder, entry.size()) : -1;
    if (fd >= 0) {
        ssize_t written = ::write(fd, entry.data(), entry.size());
        if (written <= 0 && !entry.empty() && toStdout)
            std::printf("%s failed with %s\n", "WriteLog", std::strerror(errno));
        ::close(fd);
    }
    return stampLen + static_cast<int>(textLen);
}

}  // namespace

int CatchExeception::WriteLog(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = WriteLogEntry(true, format, args);
    va_end(args);
    return n;
}

int CatchExeception::WriteLogFile(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = WriteLogEntry(false, format, args);
    va_end(args);
    return n;
}

unsigned int GetLocalTime(_SYSTEMTIME* out)
{
    if (!out)
        return 0xFFFFFFFFu;
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    time_t t = tv.tv_sec;
    struct tm tmv;
    localtime_r(&t, &tmv);
    out->wYear = static_cast<uint16_t>(1900 + tmv.tm_year);
    out->wMonth = static_cast<uint16_t>(tmv.tm_mon + 1);
    out->wDayOfWeek = static_cast<uint16_t>(tmv.tm_wday);
    out->wDay = static_cast<uint16_t>(tmv.tm_mday);
    out->wHour = static_cast<uint16_t>(tmv.tm_hour);
    out->wMinute = static_cast<uint16_t>(tmv.tm_min);
    out->wSecond = static_cast<uint16_t>(tmv.tm_sec);
    out->wMilliseconds = static_cast<uint16_t>(tv.tv_usec / 1000);
    return 0;
}

unsigned int GetTickCount()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<unsigned int>(static_cast<unsigned long long>(tv.tv_sec) * 1000ULL);
}
