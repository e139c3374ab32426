// What the kernel tells about block devices: whole disks and their partitions
// from sysfs, device nodes under /dev, udev properties and the mount table.
// Every path is given at construction so a test can point the whole layer at
// a tree of ordinary files.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// One partition the kernel made of a disk (a sysfs sub-directory of the disk
// that has a `partition` file).
struct BlockPartitionFacts {
    std::string strName;     // kernel name, such as sdc1 or nvme0n1p2
    std::string strDevName;  // device node name below the device root (DEVNAME)
    std::string strDevPath;  // device root + "/" + DEVNAME
    int iNumber = -1;        // `partition`
    bool bHasStart = false;  // `start` was present and readable
    long long s64Start512 = 0;  // `start`, in 512-byte units
    long long s64Size512 = 0;   // `size`, in 512-byte units
    bool bHasDev = false;       // `dev` held "major:minor"
    unsigned int uMajor = 0;
    unsigned int uMinor = 0;
    uint64_t u64DeviceId = 0;   // makedev(major, minor), comparable with st_rdev
    std::map<std::string, std::string> udev;  // udev properties, empty without a data file
};

// One entry of sysRoot/block.
struct BlockDiskFacts {
    std::string strName;
    std::string strDevName;
    std::string strDevPath;
    std::string strLinkTarget;   // target of the sysRoot/block/<name> link (carries the bus)
    bool bHasDev = false;
    unsigned int uMajor = 0;
    unsigned int uMinor = 0;
    uint64_t u64DeviceId = 0;
    long long s64Size512 = 0;          // `size`, in 512-byte units at every sector size
    unsigned int uLogicalBlockSize = 0;  // queue/logical_block_size; 0 when missing
    int iReadOnly = 0;                 // `ro`
    int iDeviceType = -1;              // device/type (SCSI peripheral type); -1 when missing
    bool bHasLoopBackingFile = false;  // loop/backing_file exists
    std::string strLoopBackingFile;
    std::string strVendor;  // device/vendor, trimmed
    std::string strModel;   // device/model, trimmed
    bool bHasUdevData = false;
    std::map<std::string, std::string> udev;
    std::vector<BlockPartitionFacts> partitions;  // in sysfs order
};

// Where a device is mounted, from the mount table.
struct BlockMountState {
    bool bMounted = false;
    std::string strMountPoint;  // unescaped
};

class CBlockMountTable {
public:
    struct Entry {
        unsigned int uMajor = 0;
        unsigned int uMinor = 0;
        std::string strMountPoint;  // unescaped
        std::string strSource;      // mount source after " - FSTYPE ", unescaped
    };

    CBlockMountTable(std::vector<Entry> entries, std::string devRoot);

    // The first mount of the device: a line whose "major:minor" is the
    // device's, or, for a mount on an anonymous device (major 0, as FUSE file
    // systems report), whose source names the device node devPath (symlinks
    // resolved; "/dev/..." is looked up below the device root) or is a block
    // device with that st_rdev.
    BlockMountState Find(uint64_t deviceId, const std::string& devPath) const;

    const std::vector<Entry>& Entries() const { return m_vEntries; }

private:
    bool SourceNamesDevice(const std::string& source, uint64_t deviceId, const std::string& devPath) const;

    std::vector<Entry> m_vEntries;
    std::string m_strDevRoot;
};

class CBlockDevices {
public:
    explicit CBlockDevices(std::string sysRoot = "/sys", std::string devRoot = "/dev",
                           std::string mountinfo = "/proc/self/mountinfo", std::string udevData = "/run/udev/data");

    // Every entry of sysRoot/block with its partitions, in name order.
    std::vector<BlockDiskFacts> ListDisks() const;

    // The current mount table (empty when it cannot be read).
    CBlockMountTable ReadMountTable() const;

    const std::string& GetDevRoot() const { return m_strDevRoot; }

private:
    std::string m_strSysRoot;
    std::string m_strDevRoot;
    std::string m_strMountinfo;
    std::string m_strUdevData;
};

// Bus type of the disk record (0 unknown, 1 ATA, 2 SATA, 3 SCSI, 4 USB,
// 5 virtual): 5 for a loop device backed by a file (a disk image) and for
// nothing else; otherwise udev ID_BUS / ID_ATA_SATA when udev names the bus,
// else the sysfs link path (a virtio disk without a SCSI host is 0).
int BlockBusType(const BlockDiskFacts& disk);

// The name the disk record shows: a loop device's backing file name, else
// "vendor model", else the kernel name.
std::string BlockRegistryName(const BlockDiskFacts& disk);

// Undoes the octal escapes of the mount table (\040 space, \011 tab,
// \012 newline, \134 backslash).
std::string UnescapeMountField(const std::string& field);

// Parses the text of a mountinfo file.
std::vector<CBlockMountTable::Entry> ParseMountinfo(const std::string& text);
