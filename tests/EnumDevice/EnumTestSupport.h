// Shared pieces of the device-enumeration tests: the fixture images, a
// stand-in FAT16 recogniser, a fake sysfs tree and a text rendering of what
// the enumerator lists.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "BlockDevices.h"
#include "EnumDevice.h"
#include "ISearcher.h"

// Runs make-images.sh in dir (with the partition slices when asked).
void MakeEnumImages(const std::string& dir, bool slices);

// Answers FAT16 when bytes 54-61 of the first sector read "FAT16   ", with
// the 11-byte label at byte 43, trimmed; null otherwise.
IVolumeAnalyze* CreateTestFat16Recogniser(IStorageDevice* device, unsigned long long start);

// A sysfs, /dev, mount table and udev tree below one folder.
class FakeSys {
public:
    struct Disk {
        std::string name;        // kernel name
        std::string busPath;     // below sys/devices; the disk's folder is busPath/name
        std::string dev;         // "major:minor"
        long long size512 = 0;
        std::string image;       // linked as dev/<devName>; empty: no device node
        std::string devName;     // DEVNAME; empty: the kernel name
        unsigned logicalBlockSize = 512;
        int ro = 0;
        std::optional<int> deviceType;
        std::optional<std::string> backingFile;
        std::string vendor, model;
    };
    struct Part {
        std::string disk, name, dev;
        int number = 0;
        std::optional<long long> start512;
        long long size512 = 0;
        std::string image;
    };

    explicit FakeSys(std::string root);
    void AddDisk(const Disk& disk);
    void AddPartition(const Part& part);
    void AddMountLine(const std::string& line);
    void AddUdev(const std::string& dev, const std::string& text);
    // A file at dev/<name> (for symlinks below dev/ and the like).
    std::string DevPath(const std::string& name) const { return m_root + "/dev/" + name; }
    CBlockDevices Platform() const;
    const std::string& Root() const { return m_root; }

private:
    std::string DiskDir(const std::string& name) const;

    std::string m_root;
    std::vector<std::pair<std::string, std::string>> m_vDiskDirs;  // kernel name, folder
};

// One text line per disk, partition and volume the enumerator hands out (the
// volumes as EnumVolumeDevice lists them, partitions offered as volumes
// marked "offered"); the offered devices are deleted again.
std::string RenderEnumeration(IEnumDeviceEx& enumerator);
