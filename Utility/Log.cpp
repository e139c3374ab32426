#include "Log.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "WorkPath.h"

namespace {

constexpr size_t kMaxText = 2000;

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
        c.path = GetAppWorkPath();
        c.generation = gen;
    }
    return c.path.c_str();
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
    if (toStdout) {
        std::fputs(entry.c_str(), stdout);
        std::fflush(stdout);
    }
    std::string path = std::string(CatchExeception::GetWorkPath()) + "/sMAC_iKolm.log";
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
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
