#include "CliSafety.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "CliCommands.h"
#include "Log.h"

namespace {

constexpr int kMaxPathSteps = 4096;
constexpr int kMaxStackDepth = 8;

// The nearest existing path at or above path: what a file or folder made at
// path would live on. False when none can be examined.
bool StatNearest(const std::string& path, struct stat& st, bool& exact)
{
    std::string p = path.empty() ? "." : path;
    exact = true;
    for (int step = 0; step < kMaxPathSteps; ++step) {
        if (::stat(p.c_str(), &st) == 0)
            return true;
        if (errno != ENOENT && errno != ENOTDIR)
            return false;
        exact = false;
        while (p.size() > 1 && p.back() == '/')
            p.pop_back();
        const size_t slash = p.rfind('/');
        if (slash == std::string::npos)
            p = ".";
        else if (slash == 0)
            p = "/";
        else
            p.resize(slash);
    }
    return false;
}

std::string SysfsOf(dev_t dev)
{
    const std::string link =
        "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    char resolved[PATH_MAX];
    return ::realpath(link.c_str(), resolved) ? std::string(resolved) : std::string();
}

// Whether the block device at sysfs path dev is disk, one of its
// partitions, or is built (through its slaves) over either.
bool LivesOn(const std::string& dev, const std::string& disk, int depth)
{
    if (dev.empty() || depth > kMaxStackDepth)
        return false;
    if (dev == disk || dev.rfind(disk + "/", 0) == 0)
        return true;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dev + "/slaves", ec), end; !ec && it != end; it.increment(ec)) {
        char resolved[PATH_MAX];
        if (::realpath(it->path().c_str(), resolved) && LivesOn(resolved, disk, depth + 1))
            return true;
    }
    return false;
}

}  // namespace

std::string CliTargetOnSource(const std::string& source, const std::string& target)
{
    struct stat src {};
    if (::stat(source.c_str(), &src) != 0)
        return "";
    struct stat dst {};
    bool exact = true;
    if (!StatNearest(target, dst, exact))
        return "";
    if (dst.st_dev == src.st_dev && dst.st_ino == src.st_ino)
        return exact ? target + " is the scanned source itself" : target + " would be made inside the scanned source";
    if (!S_ISBLK(src.st_mode))
        return "";
    if (S_ISBLK(dst.st_mode) && dst.st_rdev == src.st_rdev)
        return target + " is the scanned device itself";
    const std::string disk = SysfsOf(src.st_rdev);
    if (dst.st_dev == src.st_rdev || (!disk.empty() && LivesOn(SysfsOf(dst.st_dev), disk, 0)))
        return target + " is on the scanned device " + source;
    // A loop device reads its backing file: writing into that file is
    // writing onto the device.
    std::ifstream backing(disk + "/loop/backing_file");
    std::string file;
    struct stat back {};
    if (!disk.empty() && std::getline(backing, file) && ::stat(file.c_str(), &back) == 0 &&
        back.st_dev == dst.st_dev && back.st_ino == dst.st_ino)
        return target + " is the file behind the scanned device " + source;
    return "";
}

int CliGuardWrites(const CliOptions& options, const std::string& source)
{
    const std::pair<const std::string*, const char*> targets[] = {
        {&options.saveFile, "the scan result"},
        {&options.recoverDir, "recovered files"},
    };
    for (const auto& [target, what] : targets) {
        if (target->empty())
            continue;
        const std::string reason = CliTargetOnSource(source, *target);
        if (!reason.empty())
            return CliFail(CLI_ENGINE_ERROR, std::string("will not write ") + what + " there: " + reason +
                                                 "; nothing is ever written onto the device being read; "
                                                 "choose a place on another disk");
    }
    if (!CliTargetOnSource(source, CatchExeception::GetWorkPath()).empty())
        CatchExeception::SetFileEnabled(false);
    return CLI_OK;
}
