#include "WorkPath.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <mutex>

#include <atomic>

namespace {

std::mutex& PathMutex()
{
    static auto* m = new std::mutex;  // never destroyed: other threads may still log at exit
    return *m;
}

std::string& PathStorage()
{
    static auto* s = new std::string;
    return *s;
}

std::atomic<unsigned>& Generation()
{
    static std::atomic<unsigned> g{0};
    return g;
}

std::string ExecutableFolder()
{
    std::string buf(PATH_MAX, '\0');
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return ".";
    buf.resize(static_cast<size_t>(n));
    auto slash = buf.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return buf.substr(0, slash);
}

}  // namespace

const char* GetAppWorkPath()
{
    std::lock_guard<std::mutex> lock(PathMutex());
    std::string& path = PathStorage();
    if (path.empty()) {
        const char* env = std::getenv("VANTREL_WORK_DIR");
        path = (env && *env) ? std::string(env) : ExecutableFolder();
    }
    return path.c_str();
}

void SetAppWorkPath(const std::string& newPath)
{
    {
        std::lock_guard<std::mutex> lock(PathMutex());
        PathStorage() = newPath;
    }
    ++Generation();
}

unsigned GetAppWorkPathGeneration()
{
    return Generation().load();
}
