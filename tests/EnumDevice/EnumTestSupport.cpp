#include "EnumTestSupport.h"

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "DeviceInfo.h"
#include "PartitionTableAnalyze.h"
#include "StorageDevice.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

void MakeEnumImages(const std::string& dir, bool slices)
{
    RunTool(std::string("bash '") + ENUM_IMAGE_SCRIPT + "' '" + dir + "'" + (slices ? " slices" : ""));
}

namespace {

class CTestFat16Recogniser : public IVolumeAnalyze {
public:
    explicit CTestFat16Recogniser(std::string label) : m_label(std::move(label)) {}
    enumFILE_SYSTEM_TYPE GetFileSystemType() override { return FS_FAT16; }
    long long GetTotalSector() override { return 0; }
    int GetLabel(char* buffer, int size) override
    {
        if (!buffer || size <= 0)
            return 0;
        std::snprintf(buffer, static_cast<size_t>(size), "%s", m_label.c_str());
        return static_cast<int>(std::strlen(buffer));
    }

private:
    std::string m_label;
};

void WriteFile(const std::string& path, const std::string& text)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string DevText(uint64_t id)
{
    return std::to_string(major(static_cast<dev_t>(id))) + ":" + std::to_string(minor(static_cast<dev_t>(id)));
}

std::string GuidText(const _GUID& guid)
{
    const _GUID none{};
    return std::memcmp(&guid, &none, sizeof guid) == 0 ? std::string() : " type=" + FormatPartitionGuid(guid);
}

}  // namespace

IVolumeAnalyze* CreateTestFat16Recogniser(IStorageDevice* device, unsigned long long start)
{
    const unsigned int size = device ? device->GetSectorSize() : 0;
    if (size < 512 || size > 65536)
        return nullptr;
    std::vector<unsigned char> sector(size);
    if (!device->ReadSector(sector.data(), static_cast<long long>(start), 1))
        return nullptr;
    if (std::memcmp(sector.data() + 54, "FAT16   ", 8) != 0)
        return nullptr;
    std::string label(reinterpret_cast<const char*>(sector.data() + 43), 11);
    label.erase(label.find_last_not_of(' ') + 1);
    return new CTestFat16Recogniser(label);
}

FakeSys::FakeSys(std::string root) : m_root(std::move(root))
{
    for (const char* dir : {"sys/block", "sys/devices", "dev", "run/udev/data", "tmp"})
        fs::create_directories(m_root + "/" + dir);
    WriteFile(m_root + "/mountinfo", "");
}

std::string FakeSys::DiskDir(const std::string& name) const
{
    for (const auto& [kernel, dir] : m_vDiskDirs)
        if (kernel == name)
            return dir;
    ADD_FAILURE() << "no fake disk " << name;
    return m_root + "/nowhere";
}

void FakeSys::AddDisk(const Disk& d)
{
    const std::string rel = "devices/" + d.busPath + "/" + d.name;
    const std::string dir = m_root + "/sys/" + rel;
    const std::string devName = d.devName.empty() ? d.name : d.devName;
    fs::create_directories(dir);
    const size_t colon = d.dev.find(':');
    WriteFile(dir + "/uevent", "MAJOR=" + d.dev.substr(0, colon) + "\nMINOR=" + d.dev.substr(colon + 1) +
                                   "\nDEVNAME=" + devName + "\nDEVTYPE=disk\n");
    WriteFile(dir + "/dev", d.dev + "\n");
    WriteFile(dir + "/size", std::to_string(d.size512) + "\n");
    WriteFile(dir + "/ro", std::to_string(d.ro) + "\n");
    WriteFile(dir + "/queue/logical_block_size", std::to_string(d.logicalBlockSize) + "\n");
    if (d.deviceType)
        WriteFile(dir + "/device/type", std::to_string(*d.deviceType) + "\n");
    if (!d.vendor.empty())
        WriteFile(dir + "/device/vendor", d.vendor + "\n");
    if (!d.model.empty())
        WriteFile(dir + "/device/model", d.model + "\n");
    if (d.backingFile)
        WriteFile(dir + "/loop/backing_file", *d.backingFile + "\n");
    fs::create_directory_symlink("../" + rel, m_root + "/sys/block/" + d.name);
    if (!d.image.empty()) {
        fs::create_directories(fs::path(DevPath(devName)).parent_path());
        fs::create_hard_link(d.image, DevPath(devName));
    }
    m_vDiskDirs.emplace_back(d.name, dir);
}

void FakeSys::AddPartition(const Part& p)
{
    const std::string dir = DiskDir(p.disk) + "/" + p.name;
    fs::create_directories(dir);
    const size_t colon = p.dev.find(':');
    WriteFile(dir + "/uevent", "MAJOR=" + p.dev.substr(0, colon) + "\nMINOR=" + p.dev.substr(colon + 1) +
                                   "\nDEVNAME=" + p.name + "\nDEVTYPE=partition\nPARTN=" +
                                   std::to_string(p.number) + "\n");
    WriteFile(dir + "/dev", p.dev + "\n");
    WriteFile(dir + "/partition", std::to_string(p.number) + "\n");
    if (p.start512)
        WriteFile(dir + "/start", std::to_string(*p.start512) + "\n");
    WriteFile(dir + "/size", std::to_string(p.size512) + "\n");
    if (!p.image.empty())
        fs::create_hard_link(p.image, DevPath(p.name));
}

void FakeSys::AddMountLine(const std::string& line)
{
    std::ofstream(m_root + "/mountinfo", std::ios::app) << line << "\n";
}

void FakeSys::AddUdev(const std::string& dev, const std::string& text)
{
    WriteFile(m_root + "/run/udev/data/b" + dev, text);
}

CBlockDevices FakeSys::Platform() const
{
    return CBlockDevices(m_root + "/sys", m_root + "/dev", m_root + "/mountinfo", m_root + "/run/udev/data");
}

std::string RenderEnumeration(IEnumDeviceEx& enumerator)
{
    std::ostringstream out;
    int diskCount = 0;
    EXPECT_EQ(enumerator.EnumDiskDevice(nullptr, diskCount), 0u);
    std::vector<IStorageDevice*> disks(static_cast<size_t>(std::max(diskCount, 0)));
    if (diskCount > 0) {
        EXPECT_EQ(enumerator.EnumDiskDevice(disks.data(), diskCount), 0u);
    }

    for (IStorageDevice* disk : disks) {
        auto* diskDevice = dynamic_cast<CDiskDevice*>(disk);
        const CCollectDiskDeviceInfoStruct* d = diskDevice ? diskDevice->GetDiskInfo() : nullptr;
        if (!d) {
            ADD_FAILURE() << "a listed disk without a disk record";
            continue;
        }
        out << "disk " << d->szBsdName << " dev=" << DevText(d->u64DeviceId) << " bus=" << d->iBusType
            << " scheme=" << d->iPartitionScheme << " ss=" << d->s64SectorSize << " sectors=" << d->s64TotalSectors
            << " writable=" << d->iWritable << " permitted=" << disk->IsPermitted() << " registry=\""
            << d->szRegistryName << "\" records=" << diskDevice->GetVolumes().size() << "\n";

        int n = 0;
        EXPECT_EQ(enumerator.EnumPartitionDevice(disk, nullptr, n), 0u);
        std::vector<IStorageDevice*> partitions(static_cast<size_t>(std::max(n, 0)));
        if (n > 0) {
            EXPECT_EQ(enumerator.EnumPartitionDevice(disk, partitions.data(), n), 0u);
        }
        for (IStorageDevice* partition : partitions) {
            auto* window = dynamic_cast<CPartitionDevice*>(partition);
            const CCollectedPartitionDeviceInfoStruct* p = window ? window->GetPartitionInfo() : nullptr;
            if (!p) {
                out << "  partition without record\n";
                continue;
            }
            EXPECT_EQ(p->pParentDisk, disk);
            EXPECT_EQ(p->u64DeviceId, d->u64DeviceId);
            out << "  partition " << p->iPartitionIndex << " start=" << p->s64StartSector
                << " sectors=" << p->s64TotalSectors << " fs=" << p->eFileSystemType << " label=\"" << p->szLabel
                << "\"" << GuidText(p->typeGuid) << "\n";
        }

        n = 0;
        EXPECT_EQ(enumerator.EnumVolumeDevice(disk, nullptr, n), 0u);
        std::vector<IStorageDevice*> volumes(static_cast<size_t>(std::max(n, 0)));
        if (n > 0) {
            EXPECT_EQ(enumerator.EnumVolumeDevice(disk, volumes.data(), n), 0u);
        }
        for (IStorageDevice* volume : volumes) {
            std::unique_ptr<IStorageDevice> offered;
            const CCollectedVolumeDeviceInfoStruct* v = nullptr;
            if (auto* kernel = dynamic_cast<CVolumeDevice*>(volume)) {
                v = kernel->GetVolumeInfo();
                out << "  volume " << (v ? v->szBsdName : "?");
            } else if (auto* virtualVolume = dynamic_cast<CPartitionVirtualVolumeDevice*>(volume)) {
                offered.reset(volume);
                v = virtualVolume->GetVolumeInfo();
                out << "  offered";
                if (v) {
                    EXPECT_EQ(virtualVolume->GetStartSector(), v->s64StartSector);
                }
            }
            if (!v) {
                out << " without record\n";
                continue;
            }
            EXPECT_EQ(v->pParentDisk, disk);
            out << " #" << v->iPartitionNumber << " start=" << v->s64StartSector << " sectors=" << v->s64TotalSectors
                << " ss=" << v->s64SectorSize << " fs=" << v->eFileSystemType << " label=\"" << v->szLabel
                << "\" name=\"" << v->szVolumeName << "\" mounted=" << v->iMounted
                << " dev=" << DevText(v->u64DeviceId) << GuidText(v->typeGuid) << "\n";
        }
    }
    return out.str();
}
