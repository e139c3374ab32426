#include "EnumDeviceList.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "ISearcher.h"
#include "StorageDevice.h"
#include "TextUtil.h"

namespace {

constexpr long long kMinDiskBytes = 8LL * 1024 * 1024;
// Largest logical block size taken from sysfs; anything else means 512.
constexpr long long kMaxSectorSize = 1LL << 20;

template <class Holder, class Record>
Record* RecordBehind(IStorageDevice* device, Record* (Holder::*get)())
{
    auto* holder = device ? dynamic_cast<Holder*>(device->GetPrivateData()) : nullptr;
    return holder ? (holder->*get)() : nullptr;
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// Bytes of a sysfs size in 512-byte units; -1 when it does not fit.
long long UnitsToBytes(long long units512)
{
    long long bytes = 0;
    if (units512 < 0 || __builtin_mul_overflow(units512, 512LL, &bytes))
        return -1;
    return bytes;
}

long long DiskSectorSize(const BlockDiskFacts& disk)
{
    const long long size = disk.uLogicalBlockSize;
    return size >= 512 && size <= kMaxSectorSize ? size : 512;
}

// sysfs counts 512-byte units whatever the sector size.
long long UnitsToSectors(long long units512, long long sectorSize)
{
    long long bytes = UnitsToBytes(units512);
    return bytes < 0 ? 0 : bytes / sectorSize;
}

// File-system type and label from the registered recognisers at sector 0.
void Recognise(IStorageDevice* device, enumFILE_SYSTEM_TYPE& type, char (&label)[100])
{
    type = FS_UNKNOWN;
    label[0] = '\0';
    std::unique_ptr<IVolumeAnalyzeController> controller(CreateVolumeAnalyzeController(device, 0));
    IVolumeAnalyze* analyzer = controller ? controller->GetVolumeAnzlyzer() : nullptr;
    if (!analyzer)
        return;
    type = analyzer->GetFileSystemType();
    char text[256] = {};
    analyzer->GetLabel(text, static_cast<int>(sizeof text));
    text[sizeof text - 1] = '\0';
    CopyTextField(label, text);
}

const PartitionEntry* EntryWithIndex(const std::list<PartitionEntry>& entries, int index)
{
    for (const PartitionEntry& e : entries)
        if (e.iIndex == index)
            return &e;
    return nullptr;
}

// What a volume candidate needs: the disk itself or one kernel partition.
struct VolumeSource {
    std::string strName;
    std::string strDevName;
    std::string strDevPath;
    int iNumber = -1;
    long long s64Start512 = 0;
    long long s64Size512 = 0;
    bool bHasDev = false;
    uint64_t u64DeviceId = 0;
    const std::map<std::string, std::string>* udev = nullptr;
};

std::string VolumeName(const VolumeSource& source, const CCollectedVolumeDeviceInfoStruct& info,
                       const BlockMountState& mount)
{
    if (source.udev) {
        auto label = source.udev->find("ID_FS_LABEL");
        if (label != source.udev->end() && !label->second.empty())
            return label->second;
    }
    if (info.szLabel[0])
        return info.szLabel;
    if (mount.bMounted) {
        std::string last = std::filesystem::path(mount.strMountPoint).filename().string();
        if (!last.empty())
            return last;
    }
    return source.strName;
}

IStorageDevice* CreateVolumeDeviceObject(IStorageDevice* disk, const CCollectDiskDeviceInfoStruct& diskInfo,
                                         const VolumeSource& source, const std::list<PartitionEntry>& entries,
                                         const CBlockMountTable& mounts)
{
    if (!source.bHasDev)
        return nullptr;
    std::unique_ptr<IStorageDevice> device(CreateVolumeDevice(source.strDevPath.c_str()));
    if (!device)
        return nullptr;
    const bool opened = device->Open(nullptr) != 0;
    if (!opened && device->IsPermitted())
        return nullptr;

    const long long sectorSize = diskInfo.s64SectorSize;
    auto* info = new CCollectedVolumeDeviceInfoStruct;
    info->iState = 0;
    info->iReserved2 = 0;
    info->eFileSystemType = FS_UNKNOWN;
    CopyTextField(info->szBsdName, source.strDevName.c_str());
    info->s64SectorSize = sectorSize;
    info->s64TotalSectors = UnitsToSectors(source.s64Size512, sectorSize);
    info->u64DeviceId = source.u64DeviceId;
    info->pParentDisk = disk;
    info->iPartitionNumber = source.iNumber;
    info->s64StartSector = UnitsToSectors(source.s64Start512, sectorSize);
    // The table entry of the same index gives the GUIDs (GPT) and the type
    // name (APM). A kernel partition the table reader does not list keeps
    // the volume, with those fields empty.
    if (const PartitionEntry* entry = source.iNumber >= 0 ? EntryWithIndex(entries, source.iNumber) : nullptr) {
        info->typeGuid = entry->typeGuid;
        info->uniqueGuid = entry->uniqueGuid;
        std::memcpy(info->szApmType, entry->szTypeName, sizeof info->szApmType);
        info->szApmType[sizeof info->szApmType - 1] = '\0';
    }
    const BlockMountState mount = mounts.Find(source.u64DeviceId, source.strDevPath);
    info->iMounted = mount.bMounted ? 1 : 0;
    device->SetPrivateData(CreateVolumeDeviceData(info));

    if (opened)
        Recognise(device.get(), info->eFileSystemType, info->szLabel);
    if (info->eFileSystemType == FS_APFS) {
        // An APFS volume is named by its own label; nothing else names it.
        CopyTextField(info->szVolumeName, info->szLabel);
        char empty[1] = {};
        device->SetApfsDevicePath(empty);
    } else {
        CopyTextField(info->szVolumeName, VolumeName(source, *info, mount).c_str());
    }
    return device.release();
}

IStorageDevice* CreateDiskDeviceObject(const BlockDiskFacts& facts)
{
    std::unique_ptr<IStorageDevice> device(CreateDiskDevice(facts.strDevPath.c_str()));
    if (!device)
        return nullptr;
    const bool opened = device->Open(nullptr) != 0;
    // A disk that exists but needs rights is listed; one that cannot be
    // opened for another reason is not.
    if (!opened && device->IsPermitted())
        return nullptr;

    const long long sectorSize = DiskSectorSize(facts);
    auto* info = new CCollectDiskDeviceInfoStruct;
    info->iState = 0;
    info->iBusType = BlockBusType(facts);
    info->iPartitionScheme = PARTITION_SCHEME_NONE;
    info->iWritable = facts.iReadOnly == 0 ? 1 : 0;
    CopyTextField(info->szRegistryName, BlockRegistryName(facts).c_str());
    CopyTextField(info->szBsdName, facts.strDevName.c_str());
    info->s64SectorSize = sectorSize;
    info->s64TotalSectors = UnitsToSectors(facts.s64Size512, sectorSize);
    info->s64Cylinders = info->s64TotalSectors / 16065;
    info->s64Heads = 255;
    info->s64SectorsPerTrack = 63;
    info->u64DeviceId = facts.u64DeviceId;
    device->SetPrivateData(CreateDiskDeviceData(info));
    // Reads sector 0 (and the table of an MBR disk); a disk that cannot be
    // read keeps scheme 0.
    if (opened)
        FillDiskPartitionScheme(device.get());
    return device.release();
}

}  // namespace

CCollectDiskDeviceInfoStruct* EnumDiskInfoOf(IStorageDevice* device)
{
    return RecordBehind(device, &IDiskDeviceData::GetDiskInfo);
}

CCollectedVolumeDeviceInfoStruct* EnumVolumeInfoOf(IStorageDevice* device)
{
    return RecordBehind(device, &IVolumeDeviceData::GetVolumeInfo);
}

CCollectedPartitionDeviceInfoStruct* EnumPartitionInfoOf(IStorageDevice* device)
{
    return RecordBehind(device, &IPartitionDeviceData::GetPartitionInfo);
}

// ---- order ----

bool CDevListSortAlgorithm::operator()(IStorageDevice* a, IStorageDevice* b) const
{
    const int ta = a->GetType(), tb = b->GetType();
    if (ta != tb)
        return ta < tb;
    switch (ta) {
    case STORAGE_DEVICE_DISK: {
        const CCollectDiskDeviceInfoStruct* da = EnumDiskInfoOf(a);
        const CCollectDiskDeviceInfoStruct* db = EnumDiskInfoOf(b);
        if (!da || !db)
            return da == nullptr && db != nullptr;
        return std::strcmp(da->szBsdName, db->szBsdName) < 0;  // compares bytes as unsigned
    }
    case STORAGE_DEVICE_WINDOW: {
        const CCollectedPartitionDeviceInfoStruct* pa = EnumPartitionInfoOf(a);
        const CCollectedPartitionDeviceInfoStruct* pb = EnumPartitionInfoOf(b);
        if (!pa || !pb)
            return pa == nullptr && pb != nullptr;
        return pa->iPartitionIndex < pb->iPartitionIndex;
    }
    case STORAGE_DEVICE_VOLUME: {
        const CCollectedVolumeDeviceInfoStruct* va = EnumVolumeInfoOf(a);
        const CCollectedVolumeDeviceInfoStruct* vb = EnumVolumeInfoOf(b);
        if (!va || !vb)
            return va == nullptr && vb != nullptr;
        return va->iPartitionNumber < vb->iPartitionNumber;
    }
    default:
        return false;
    }
}

void CDevListSortAlgorithm::Sort(std::list<IStorageDevice*>& list)
{
    list.sort(CDevListSortAlgorithm());
}

// ---- partition-table entries ----

ResultCode GetPartEntryList(IStorageDevice* disk, std::list<PartitionEntry>& entries, ResultCode noReader)
{
    entries.clear();
    std::unique_ptr<IPartitionTableAnalyze> reader(CreatePartitionTableAnalyze());
    if (!reader)
        return noReader;
    if (IsResultFailure(reader->AnalyzePartitionTable(disk, entries))) {
        entries.clear();
        return 0;
    }
    if (entries.empty()) {
        PartitionEntry whole;
        whole.iIndex = -1;
        whole.s64StartSector = 0;
        whole.s64SectorCount = disk->GetTotalSectors();
        entries.push_back(whole);
    }
    return 0;
}

// ---- disks ----

bool CEnumDisk::IsListedDisk(const BlockDiskFacts& disk)
{
    const std::string& name = disk.strName;
    // Optical drives.
    if (StartsWith(name, "sr") || (disk.bHasDev && disk.uMajor == 11) || disk.iDeviceType == 5)
        return false;
    // Memory disks, and composites of other disks (their members are listed).
    if (StartsWith(name, "ram") || StartsWith(name, "zram") || StartsWith(name, "dm-") || StartsWith(name, "md"))
        return false;
    // A loop device with nothing attached.
    if (StartsWith(name, "loop") && !disk.bHasLoopBackingFile)
        return false;
    if (!disk.bHasDev)
        return false;
    // Checked before any open, so an empty card reader is never opened.
    const long long bytes = UnitsToBytes(disk.s64Size512);
    return bytes >= kMinDiskBytes;
}

ResultCode CEnumDisk::ExecEnum(const CBlockDevices& platform, std::list<IStorageDevice*>& list,
                               std::map<const IStorageDevice*, BlockDiskFacts>& facts)
{
    for (BlockDiskFacts& disk : platform.ListDisks()) {
        if (!IsListedDisk(disk))
            continue;
        if (IStorageDevice* device = CreateDiskDeviceObject(disk)) {
            list.push_back(device);
            facts[device] = std::move(disk);
        }
    }
    CDevListSortAlgorithm::Sort(list);
    return 0;
}

// ---- volumes ----

bool CEnumVolume::IsExtendedContainer(const BlockPartitionFacts& part, long long sectorSize)
{
    if (part.iNumber < 1 || part.iNumber > 4)
        return false;
    const long long bytes = UnitsToBytes(part.s64Size512);
    return bytes >= 0 && bytes <= std::max(2LL * 512, sectorSize);
}

ResultCode CEnumVolume::ExecEnum(IStorageDevice* disk, const BlockDiskFacts& facts, const CBlockMountTable& mounts,
                                 std::list<IStorageDevice*>& list)
{
    CCollectDiskDeviceInfoStruct* diskInfo = EnumDiskInfoOf(disk);
    if (!diskInfo)
        return EnumDeviceError::kRecordNoVolumeInfo;
    std::list<PartitionEntry> entries;
    if (ResultCode rc = GetPartEntryList(disk, entries, EnumDeviceError::kVolumesNoTableReader))
        return rc;

    std::vector<VolumeSource> sources;
    if (diskInfo->iPartitionScheme == PARTITION_SCHEME_NONE) {
        // A disk without a partition table is its own only volume.
        VolumeSource s;
        s.strName = facts.strName;
        s.strDevName = facts.strDevName;
        s.strDevPath = facts.strDevPath;
        s.iNumber = -1;
        s.s64Size512 = facts.s64Size512;
        s.bHasDev = facts.bHasDev;
        s.u64DeviceId = facts.u64DeviceId;
        s.udev = &facts.udev;
        sources.push_back(std::move(s));
    } else {
        for (const BlockPartitionFacts& part : facts.partitions) {
            if (IsExtendedContainer(part, diskInfo->s64SectorSize))
                continue;
            VolumeSource s;
            s.strName = part.strName;
            s.strDevName = part.strDevName;
            s.strDevPath = part.strDevPath;
            s.iNumber = part.iNumber;
            s.s64Start512 = part.bHasStart ? part.s64Start512 : 0;
            s.s64Size512 = part.s64Size512;
            s.bHasDev = part.bHasDev;
            s.u64DeviceId = part.u64DeviceId;
            s.udev = &part.udev;
            sources.push_back(std::move(s));
        }
    }
    for (const VolumeSource& s : sources)
        if (IStorageDevice* volume = CreateVolumeDeviceObject(disk, *diskInfo, s, entries, mounts))
            list.push_back(volume);

    CDevListSortAlgorithm::Sort(list);
    // A volume without a start of its own takes it from the table entry of
    // the same index.
    for (const PartitionEntry& e : entries) {
        for (IStorageDevice* volume : list) {
            CCollectedVolumeDeviceInfoStruct* info = EnumVolumeInfoOf(volume);
            if (info && info->s64StartSector == 0 && info->iPartitionNumber == e.iIndex) {
                info->s64StartSector = e.s64StartSector;
                break;
            }
        }
    }
    if (auto* diskDevice = dynamic_cast<CDiskDevice*>(disk)) {
        std::vector<CCollectedVolumeDeviceInfoStruct> records;
        for (IStorageDevice* volume : list)
            if (CCollectedVolumeDeviceInfoStruct* info = EnumVolumeInfoOf(volume))
                records.push_back(*info);
        diskDevice->SetVolumes(records);
    }
    return 0;
}

// ---- partitions ----

ResultCode CEnumPartition::ExecEnum(IStorageDevice* disk, std::list<IStorageDevice*>& list)
{
    CCollectDiskDeviceInfoStruct* diskInfo = EnumDiskInfoOf(disk);
    if (!diskInfo)
        return EnumDeviceError::kRecordNoPartitionInfo;
    std::list<PartitionEntry> entries;
    if (ResultCode rc = GetPartEntryList(disk, entries, EnumDeviceError::kPartitionsNoTableReader))
        return rc;

    for (const PartitionEntry& e : entries) {
        std::unique_ptr<IStorageDevice> device(CreatePartitionDevice(disk, e.s64StartSector, e.s64SectorCount));
        if (!device)
            return EnumDeviceError::kNoPartitionDevice;
        if (!device->Open(nullptr)) {
            const ResultCode rc = device->GetLastError();
            if (IsResultFailure(rc))
                return rc;  // the devices made so far stay listed
            list.push_back(device.release());
            continue;
        }
        auto* info = new CCollectedPartitionDeviceInfoStruct;
        info->iState = diskInfo->iState;
        info->iReserved2 = 0;
        info->s64SectorSize = diskInfo->s64SectorSize;
        info->s64TotalSectors = e.s64SectorCount;
        info->u64DeviceId = diskInfo->u64DeviceId;
        info->pParentDisk = disk;
        info->iPartitionIndex = e.iIndex;
        info->typeGuid = e.typeGuid;
        info->uniqueGuid = e.uniqueGuid;
        std::memcpy(info->szApmType, e.szTypeName, sizeof info->szApmType);
        info->szApmType[sizeof info->szApmType - 1] = '\0';
        info->s64StartSector = e.s64StartSector;
        IPartitionDeviceData* holder = CreatePartitionDeviceData(info);
        if (!holder) {
            delete info;
            return EnumDeviceError::kNoPartitionHolder;
        }
        device->SetPrivateData(holder);
        Recognise(device.get(), info->eFileSystemType, info->szLabel);
        list.push_back(device.release());
    }
    CDevListSortAlgorithm::Sort(list);
    return 0;
}

// ---- the list builder ----

CEnumDevice::CEnumDevice(const CBlockDevices& platform) : m_platform(platform) {}

ResultCode CEnumDevice::EnumDiskDevice(std::list<IStorageDevice*>& list)
{
    list.clear();
    m_mapDiskFacts.clear();
    return CEnumDisk::ExecEnum(m_platform, list, m_mapDiskFacts);
}

ResultCode CEnumDevice::EnumPartitionDevice(const IStorageDevice* disk, std::list<IStorageDevice*>& list)
{
    list.clear();
    auto it = m_mapDiskFacts.find(disk);
    if (it == m_mapDiskFacts.end())
        return 0;
    // The map's key is the device this builder made; it is not const.
    return CEnumPartition::ExecEnum(const_cast<IStorageDevice*>(it->first), list);
}

ResultCode CEnumDevice::EnumVolumeDevice(const IStorageDevice* disk, std::list<IStorageDevice*>& list)
{
    list.clear();
    auto it = m_mapDiskFacts.find(disk);
    if (it == m_mapDiskFacts.end())
        return 0;
    const CBlockMountTable mounts = m_platform.ReadMountTable();
    return CEnumVolume::ExecEnum(const_cast<IStorageDevice*>(it->first), it->second, mounts, list);
}
