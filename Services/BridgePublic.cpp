#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "BridgeUtil.h"
#include "BridgeUtilInternal.h"
#include "IFileNode.h"
#include "InvokingUser.h"

namespace {

constexpr long long kSecondsFrom1601To1970 = 11644473600LL;
constexpr char kAppName[] = "Vantrel Data Recovery";

// The root of a file-system tree is the synthetic folder node, the only
// kind of node that carries a volume name.
bool IsFileSystemRoot(IFileNode* node)
{
    return node && !node->GetParent() && node->GetVolumeName() != nullptr;
}

std::string SafeText(const char* text) { return text ? std::string(text) : std::string(); }

}  // namespace

namespace bridge_detail {

std::vector<std::string> NodePathComponents(IFileNode* node)
{
    std::vector<std::string> parts;
    IFileNode* n = node;
    for (int steps = 0; n && steps <= kMaxParentSteps; ++steps) {
        IFileNode* parent = n->GetParent();
        if (parent) {
            parts.push_back(SafeText(n->GetFileName()));
            n = parent;
            continue;
        }
        parts.push_back(IsFileSystemRoot(n) ? SafeText(n->GetVolumeName()) : std::string());
        break;
    }
    return {parts.rbegin(), parts.rend()};
}

}  // namespace bridge_detail

long long convertWindowsTimeToUnixTime(_FILETIME time)
{
    return static_cast<long long>(FileTimeToU64(time) / 10000000ULL) - kSecondsFrom1601To1970;
}

int CCreateDirIndexMap::GetCreateDirIndex(_tagSearcherType type)
{
    auto it = m_mapIndex.find(type);
    return it == m_mapIndex.end() ? 0 : it->second;
}

void CCreateDirIndexMap::SetCreateDirIndex(_tagSearcherType type, int index) { m_mapIndex[type] = index; }

// ---- ZRUIPublic -------------------------------------------------------------

const char* ZRUIPublic::GetFileSystemStrByType(_tagSearcherType type)
{
    switch (type) {
    case SEARCHER_HFSPLUS:
        return "HFS+_";
    case SEARCHER_FAT:
        return "Fat_";
    case SEARCHER_EXFAT:
        return "ExFat_";
    case SEARCHER_RAW:
        return "RAW_";
    default:
        return "";
    }
}

std::string ZRUIPublic::GetPathByFileNode(IFileNode* node)
{
    std::string path;
    if (!node)
        return path;
    for (const std::string& part : bridge_detail::NodePathComponents(node))
        path += "/" + part;
    return path;
}

// ---- ZRCPPPublic ------------------------------------------------------------

ZRCPPPublic& ZRCPPPublic::instance()
{
    static ZRCPPPublic s_instance;
    return s_instance;
}

IFilesystemNode* ZRCPPPublic::GetFileSystemNode(IFileNode* node)
{
    if (!node)
        return nullptr;
    IFileNode* top = node;
    for (int steps = 0; steps < bridge_detail::kMaxParentSteps; ++steps) {
        IFileNode* parent = top->GetParent();
        if (!parent)
            break;
        top = parent;
    }
    return IsFileSystemRoot(top) ? static_cast<IFilesystemNode*>(top) : nullptr;
}

_tagSearcherType ZRCPPPublic::GetNodeSearcheType(IFileNode* node)
{
    IFilesystemNode* root = GetFileSystemNode(node);
    return root ? root->GetSearcheType() : SEARCHER_NONE;
}

void ZRCPPPublic::GetYearMonthByTimeT(int* year, int* month, time_t time)
{
    tm local{};
    if (!localtime_r(&time, &local))
        return;
    if (year)
        *year = local.tm_year + 1900;
    if (month)
        *month = local.tm_mon + 1;
}

void ZRCPPPublic::GetYearMonthByFileTime(int* year, int* month, _FILETIME time)
{
    GetYearMonthByTimeT(year, month, static_cast<time_t>(convertWindowsTimeToUnixTime(time)));
}

bool ZRCPPPublic::IsAppRunning()
{
    DIR* proc = opendir("/proc");
    if (!proc)
        return false;
    const pid_t self = getpid();
    bool found = false;
    while (!found) {
        dirent* entry = readdir(proc);
        if (!entry)
            break;
        const char* name = entry->d_name;
        if (!*name || std::strspn(name, "0123456789") != std::strlen(name))
            continue;
        if (std::strtol(name, nullptr, 10) == self)
            continue;
        const std::string path = std::string("/proc/") + name + "/comm";
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;  // the process ended meanwhile
        char comm[32] = {};
        ssize_t n = read(fd, comm, 16);
        close(fd);
        if (n <= 0)
            continue;
        size_t len = static_cast<size_t>(n);
        while (len > 0 && (comm[len - 1] == '\n' || comm[len - 1] == '\0'))
            --len;
        // The kernel keeps at most 15 characters of the name.
        if (len == 0 || len > 15)
            continue;
        found = strncasecmp(comm, kAppName, len) == 0;
    }
    closedir(proc);
    return found;
}

// ---- ZRPublicUtilities ------------------------------------------------------

std::string ZRPublicUtilities::longlongDiskSize(unsigned long long bytes)
{
    struct Step {
        unsigned long long limit;
        double unit;
        const char* format;
    };
    static constexpr Step kSteps[] = {
        {1024ULL, 1.0, "%.0f byte"},
        {1048576ULL, 1024.0, "%0.2f KB"},
        {1073741824ULL, 1048576.0, "%0.2f MB"},
        {1099511627776ULL, 1073741824.0, "%0.2f GB"},
    };
    const char* format = "%0.2f TB";
    double unit = 1099511627776.0;
    for (const Step& s : kSteps) {
        if (bytes < s.limit) {
            format = s.format;
            unit = s.unit;
            break;
        }
    }
    // The quotient is worked out in double precision and shown in single.
    float shown = static_cast<float>(static_cast<double>(bytes) / unit);
    char text[64];
    std::snprintf(text, sizeof(text), format, static_cast<double>(shown));
    return text;
}

std::string ZRPublicUtilities::longlongConvertVolSpace(unsigned long long bytes) { return longlongDiskSize(bytes); }

std::string ZRPublicUtilities::fileSystemTypeForInt(int type, int isDmg)
{
    if (isDmg)
        return "Disk Image";
    static const char* const kNames[] = {"FAT12", "FAT16", "FAT32", "NTFS", "EXT2", "EXT3",
                                         "RAW",   "EXFAT", "HFS+",  "APFS", "Unknown"};
    if (type >= 0 && type < static_cast<int>(sizeof(kNames) / sizeof(kNames[0])))
        return kNames[type];
    return "Disk";
}

// ---- settings ---------------------------------------------------------------

namespace {

constexpr char kFristTimeKey[] = "FristTime";
constexpr char kUpDataTimeKey[] = "upDataTimeStr";

std::vector<std::string> ReadLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::optional<std::string> ReadSetting(const std::string& path, const std::string& key)
{
    for (const std::string& line : ReadLines(path)) {
        auto eq = line.find('=');
        if (eq != std::string::npos && line.compare(0, eq, key) == 0 && eq == key.size())
            return line.substr(eq + 1);
    }
    return std::nullopt;
}

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Rewrites the file with key set to value, through a temporary file in the
// same folder and a rename, so a crash leaves the old or the new file whole.
bool WriteSetting(const std::string& path, const std::string& key, std::string value)
{
    if (path.empty())
        return false;
    for (char& c : value)
        if (c == '\n' || c == '\r')
            c = ' ';
    std::vector<std::string> lines = ReadLines(path);
    bool replaced = false;
    for (std::string& line : lines) {
        auto eq = line.find('=');
        if (eq == key.size() && line.compare(0, eq, key) == 0) {
            line = key + "=" + value;
            replaced = true;
        }
    }
    if (!replaced) {
        if (lines.empty())
            lines.push_back("[General]");
        lines.push_back(key + "=" + value);
    }
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";

    std::string tmp = path + ".XXXXXX";
    int fd = mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    fchmod(fd, 0644);
    GiveToInvokingUser(fd);
    bool ok = WriteAll(fd, text) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok)
        ok = rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok)
        unlink(tmp.c_str());
    return ok;
}

}  // namespace

std::optional<std::string> ZRPublicUtilities::isFristTime(const std::string& iniPath)
{
    return ReadSetting(iniPath, kFristTimeKey);
}

bool ZRPublicUtilities::writeFristTime(const std::string& iniPath) { return WriteSetting(iniPath, kFristTimeKey, "NO"); }

std::optional<std::string> ZRPublicUtilities::getUpDataTimeStr(const std::string& iniPath)
{
    return ReadSetting(iniPath, kUpDataTimeKey);
}

bool ZRPublicUtilities::writeUpDataTimeStr(const std::string& iniPath, const std::string& text)
{
    return WriteSetting(iniPath, kUpDataTimeKey, text);
}
