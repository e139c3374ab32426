#include "WorkPath.h"

#include "InvokingUser.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

constexpr const char* kFolderName = "vantrel-data-recovery";

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

std::string Lookup(const std::map<std::string, std::string>& environment, const char* name)
{
    auto it = environment.find(name);
    return it == environment.end() ? std::string() : it->second;
}

std::map<std::string, std::string> ReadEnvironment()
{
    std::map<std::string, std::string> environment;
    for (const char* name : {"VANTREL_WORK_DIR", "XDG_DATA_HOME", "HOME"})
        if (const char* value = std::getenv(name))
            environment[name] = value;
    return environment;
}

std::string DefaultWorkPath()
{
    uid_t uid;
    gid_t gid;
    const std::string invokingHome = GetInvokingUser(uid, gid) ? HomeOfUser(uid) : std::string();
    std::string path = ChooseAppWorkPath(ReadEnvironment(), invokingHome, HomeOfUser(getuid()));
    if (path.empty())
        return ".";
    MakeWorkFolder(path);
    return path;
}

}  // namespace

std::string ChooseAppWorkPath(const std::map<std::string, std::string>& environment,
                              const std::string& invokingHome, const std::string& ownHome)
{
    const std::string overridden = Lookup(environment, "VANTREL_WORK_DIR");
    if (!overridden.empty())
        return overridden;
    // A relative XDG_DATA_HOME is invalid and ignored. Under pkexec the
    // launcher passes the user's own value on; HOME is then root's.
    std::string data = Lookup(environment, "XDG_DATA_HOME");
    if (data.empty() || data[0] != '/') {
        std::string home = invokingHome;
        if (home.empty())
            home = Lookup(environment, "HOME");
        if (home.empty() || home[0] != '/')
            home = ownHome;
        if (home.empty() || home[0] != '/')
            return {};
        data = home + "/.local/share";
    }
    while (data.size() > 1 && data.back() == '/')
        data.pop_back();
    return data + "/" + kFolderName;
}

bool MakeWorkFolder(const std::string& path)
{
    if (path.empty())
        return false;
    // Walk down from the root, making what is missing.
    for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const bool last = end == std::string::npos;
        const std::string part = last ? path : path.substr(0, end);
        if (!part.empty() && mkdir(part.c_str(), last ? 0700 : 0755) == 0) {
            int fd = open(part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            GiveToInvokingUser(fd);
            if (fd >= 0)
                close(fd);
        }
        if (last)
            break;
    }
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

const char* GetAppWorkPath()
{
    std::lock_guard<std::mutex> lock(PathMutex());
    std::string& path = PathStorage();
    if (path.empty())
        path = DefaultWorkPath();
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
