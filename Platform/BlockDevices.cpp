#include "BlockDevices.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// sysfs attributes are a line or two; udev data files and the mount table
// are bigger but still small. Anything longer is cut, never read whole.
constexpr size_t kMaxAttributeBytes = 4096;
constexpr size_t kMaxUdevBytes = 64 * 1024;
constexpr size_t kMaxMountinfoBytes = 4 * 1024 * 1024;
// More entries than any machine has: a runaway tree is cut, not walked.
constexpr size_t kMaxDisks = 4096;
constexpr size_t kMaxPartitionsPerDisk = 1024;
constexpr size_t kMaxMountLines = 65536;

// Reads at most limit bytes of a file; false when it cannot be opened.
bool ReadSmallFile(const std::string& path, size_t limit, std::string& out)
{
    out.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    // Only plain files: a FIFO or device planted in a test tree must not
    // block or be read.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    out.resize(limit);
    size_t done = 0;
    while (done < limit) {
        ssize_t n = read(fd, out.data() + done, limit - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    out.resize(done);
    return true;
}

std::string Trim(const std::string& text)
{
    const char* space = " \t\r\n\v\f";
    size_t first = text.find_first_not_of(space);
    if (first == std::string::npos)
        return {};
    size_t last = text.find_last_not_of(space);
    return text.substr(first, last - first + 1);
}

bool ReadAttribute(const std::string& path, std::string& value)
{
    std::string raw;
    if (!ReadSmallFile(path, kMaxAttributeBytes, raw))
        return false;
    value = Trim(raw);
    return true;
}

template <class T>
bool ParseNumber(const std::string& text, T& value)
{
    if (text.empty())
        return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

template <class T>
bool ReadNumber(const std::string& path, T& value)
{
    std::string text;
    return ReadAttribute(path, text) && ParseNumber(text, value);
}

bool ParseMajorMinor(const std::string& text, unsigned int& major, unsigned int& minor)
{
    size_t colon = text.find(':');
    return colon != std::string::npos && ParseNumber(text.substr(0, colon), major) &&
           ParseNumber(text.substr(colon + 1), minor);
}

// A device node name must stay below the device root.
bool IsSafeDevName(const std::string& name)
{
    if (name.empty() || name.front() == '/' || name.size() > 255)
        return false;
    for (const auto& part : fs::path(name))
        if (part == ".." || part == ".")
            return false;
    return name.find('\0') == std::string::npos;
}

// DEVNAME from the uevent file, else the kernel name with "!" as "/".
std::string DevNameOf(const std::string& sysDir, const std::string& kernelName)
{
    std::string uevent;
    if (ReadSmallFile(sysDir + "/uevent", kMaxAttributeBytes, uevent)) {
        size_t pos = 0;
        while (pos < uevent.size()) {
            size_t end = uevent.find('\n', pos);
            if (end == std::string::npos)
                end = uevent.size();
            std::string line = uevent.substr(pos, end - pos);
            pos = end + 1;
            if (line.rfind("DEVNAME=", 0) == 0) {
                std::string name = Trim(line.substr(8));
                if (IsSafeDevName(name))
                    return name;
            }
        }
    }
    std::string name = kernelName;
    std::replace(name.begin(), name.end(), '!', '/');
    return name;
}

// "E:KEY=VALUE" lines of a udev data file.
bool ReadUdevProperties(const std::string& udevRoot, unsigned int major, unsigned int minor,
                        std::map<std::string, std::string>& out)
{
    out.clear();
    std::string text;
    std::string path = udevRoot + "/b" + std::to_string(major) + ":" + std::to_string(minor);
    if (!ReadSmallFile(path, kMaxUdevBytes, text))
        return false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.rfind("E:", 0) != 0)
            continue;
        size_t eq = line.find('=', 2);
        if (eq == std::string::npos)
            continue;
        out.emplace(line.substr(2, eq - 2), line.substr(eq + 1));
    }
    return true;
}

void ReadDeviceNumbers(const std::string& sysDir, bool& has, unsigned int& major, unsigned int& minor,
                       uint64_t& id)
{
    std::string text;
    has = ReadAttribute(sysDir + "/dev", text) && ParseMajorMinor(text, major, minor);
    id = has ? static_cast<uint64_t>(makedev(major, minor)) : 0;
}

bool ReadSize512(const std::string& sysDir, long long& size)
{
    return ReadNumber(sysDir + "/size", size) && size >= 0;
}

std::vector<std::string> SortedEntries(const std::string& dir, size_t limit)
{
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(dir, ec), end;
    for (; !ec && it != end && names.size() < limit; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::string UnescapeMountField(const std::string& field)
{
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            std::string code = field.substr(i + 1, 3);
            char c = 0;
            if (code == "040")
                c = ' ';
            else if (code == "011")
                c = '\t';
            else if (code == "012")
                c = '\n';
            else if (code == "134")
                c = '\\';
            if (c != 0) {
                out.push_back(c);
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::vector<CBlockMountTable::Entry> ParseMountinfo(const std::string& text)
{
    std::vector<CBlockMountTable::Entry> entries;
    size_t pos = 0;
    while (pos < text.size() && entries.size() < kMaxMountLines) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;

        std::vector<std::string> fields;
        size_t p = 0;
        while (p < line.size()) {
            size_t q = line.find(' ', p);
            if (q == std::string::npos)
                q = line.size();
            if (q > p)
                fields.push_back(line.substr(p, q - p));
            p = q + 1;
        }
        // id parent major:minor root mount-point options [optional...] - type source ...
        if (fields.size() < 6)
            continue;
        CBlockMountTable::Entry e;
        if (!ParseMajorMinor(fields[2], e.uMajor, e.uMinor))
            continue;
        e.strMountPoint = UnescapeMountField(fields[4]);
        for (size_t i = 6; i < fields.size(); ++i) {
            if (fields[i] == "-") {
                if (i + 2 < fields.size())
                    e.strSource = UnescapeMountField(fields[i + 2]);
                break;
            }
        }
        entries.push_back(std::move(e));
    }
    return entries;
}

CBlockMountTable::CBlockMountTable(std::vector<Entry> entries, std::string devRoot)
    : m_vEntries(std::move(entries)), m_strDevRoot(std::move(devRoot))
{
}

bool CBlockMountTable::SourceNamesDevice(const std::string& source, uint64_t deviceId,
                                         const std::string& devPath) const
{
    if (source.empty() || source.front() != '/')
        return false;
    std::string path = source;
    if (source.rfind("/dev/", 0) == 0)
        path = m_strDevRoot + source.substr(4);
    std::error_code ec;
    if (!devPath.empty()) {
        fs::path mine = fs::canonical(devPath, ec);
        if (!ec) {
            fs::path theirs = fs::canonical(path, ec);
            if (!ec && theirs == mine)
                return true;
        }
    }
    struct stat st {};
    return deviceId != 0 && stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode) &&
           static_cast<uint64_t>(st.st_rdev) == deviceId;
}

BlockMountState CBlockMountTable::Find(uint64_t deviceId, const std::string& devPath) const
{
    BlockMountState state;
    const unsigned int devMajor = major(static_cast<dev_t>(deviceId));
    const unsigned int devMinor = minor(static_cast<dev_t>(deviceId));
    for (const Entry& e : m_vEntries) {
        // A real device number is the device; only anonymous devices (FUSE,
        // btrfs) are matched by the source they were mounted from.
        bool same = deviceId != 0 && e.uMajor == devMajor && e.uMinor == devMinor;
        if (!same && e.uMajor == 0)
            same = SourceNamesDevice(e.strSource, deviceId, devPath);
        if (same) {
            state.bMounted = true;
            state.strMountPoint = e.strMountPoint;
            return state;
        }
    }
    return state;
}

CBlockDevices::CBlockDevices(std::string sysRoot, std::string devRoot, std::string mountinfo, std::string udevData)
    : m_strSysRoot(std::move(sysRoot)),
      m_strDevRoot(std::move(devRoot)),
      m_strMountinfo(std::move(mountinfo)),
      m_strUdevData(std::move(udevData))
{
}

CBlockMountTable CBlockDevices::ReadMountTable() const
{
    std::string text;
    ReadSmallFile(m_strMountinfo, kMaxMountinfoBytes, text);
    return CBlockMountTable(ParseMountinfo(text), m_strDevRoot);
}

std::vector<BlockDiskFacts> CBlockDevices::ListDisks() const
{
    std::vector<BlockDiskFacts> disks;
    const std::string blockDir = m_strSysRoot + "/block";
    for (const std::string& name : SortedEntries(blockDir, kMaxDisks)) {
        const std::string dir = blockDir + "/" + name;
        std::error_code ec;
        if (!fs::is_directory(dir, ec))
            continue;
        BlockDiskFacts d;
        d.strName = name;
        d.strDevName = DevNameOf(dir, name);
        d.strDevPath = m_strDevRoot + "/" + d.strDevName;
        fs::path target = fs::read_symlink(dir, ec);
        if (!ec)
            d.strLinkTarget = target.string();
        ReadDeviceNumbers(dir, d.bHasDev, d.uMajor, d.uMinor, d.u64DeviceId);
        if (!ReadSize512(dir, d.s64Size512))
            d.s64Size512 = 0;
        if (!ReadNumber(dir + "/queue/logical_block_size", d.uLogicalBlockSize))
            d.uLogicalBlockSize = 0;
        if (!ReadNumber(dir + "/ro", d.iReadOnly))
            d.iReadOnly = 0;
        if (!ReadNumber(dir + "/device/type", d.iDeviceType))
            d.iDeviceType = -1;
        std::string backing;
        if (ReadAttribute(dir + "/loop/backing_file", backing)) {
            d.bHasLoopBackingFile = true;
            d.strLoopBackingFile = backing;
        }
        ReadAttribute(dir + "/device/vendor", d.strVendor);
        ReadAttribute(dir + "/device/model", d.strModel);
        if (d.bHasDev)
            d.bHasUdevData = ReadUdevProperties(m_strUdevData, d.uMajor, d.uMinor, d.udev);

        for (const std::string& child : SortedEntries(dir, kMaxPartitionsPerDisk)) {
            const std::string partDir = dir + "/" + child;
            BlockPartitionFacts p;
            if (!fs::is_directory(partDir, ec) || !ReadNumber(partDir + "/partition", p.iNumber))
                continue;
            p.strName = child;
            p.strDevName = DevNameOf(partDir, child);
            p.strDevPath = m_strDevRoot + "/" + p.strDevName;
            p.bHasStart = ReadNumber(partDir + "/start", p.s64Start512) && p.s64Start512 >= 0;
            if (!p.bHasStart)
                p.s64Start512 = 0;
            // Without a size it is nothing that can be read as a volume.
            if (!ReadSize512(partDir, p.s64Size512))
                continue;
            ReadDeviceNumbers(partDir, p.bHasDev, p.uMajor, p.uMinor, p.u64DeviceId);
            if (p.bHasDev)
                ReadUdevProperties(m_strUdevData, p.uMajor, p.uMinor, p.udev);
            d.partitions.push_back(std::move(p));
        }
        disks.push_back(std::move(d));
    }
    return disks;
}

int BlockBusType(const BlockDiskFacts& disk)
{
    // Only a loop device that reads a file is a disk image. Every other disk
    // is a real (or a virtual machine's) disk, whatever controller it hangs
    // on: a virtio or a device-mapper disk is no image.
    if (disk.bHasLoopBackingFile && !disk.strLoopBackingFile.empty())
        return 5;
    auto bus = disk.udev.find("ID_BUS");
    if (bus != disk.udev.end()) {
        const std::string& name = bus->second;
        if (name == "usb")
            return 4;
        if (name == "ata") {
            auto sata = disk.udev.find("ID_ATA_SATA");
            return sata != disk.udev.end() && sata->second == "1" ? 2 : 1;
        }
        if (name == "scsi")
            return 3;
        return 0;
    }
    // Without udev the sysfs path says which controller the disk hangs on.
    const std::string& path = disk.strLinkTarget;
    auto has = [&](const char* part) { return path.find(part) != std::string::npos; };
    if (has("/usb"))
        return 4;
    if (has("/ata"))
        return 2;
    if (has("/nvme"))
        return 0;
    if (has("/host"))
        return 3;
    return 0;
}

std::string BlockRegistryName(const BlockDiskFacts& disk)
{
    if (disk.bHasLoopBackingFile && !disk.strLoopBackingFile.empty()) {
        std::string base = fs::path(disk.strLoopBackingFile).filename().string();
        if (!base.empty())
            return base;
    }
    if (!disk.strModel.empty())
        return Trim(disk.strVendor + " " + disk.strModel);
    return disk.strName;
}
