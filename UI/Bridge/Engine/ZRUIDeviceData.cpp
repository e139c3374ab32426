#include "ZRUIDeviceData.h"

#include <cstring>
#include <vector>

#include "EnumDevice.h"
#include "IStorageDevice.h"

namespace {

// Published GPT type identifiers, in their on-disk byte order.
const unsigned char kEfiSystemType[16] = {0x28, 0x73, 0x2a, 0xc1, 0x1f, 0xf8, 0xd2, 0x11,
                                          0xba, 0x4b, 0x00, 0xa0, 0xc9, 0x3e, 0xc9, 0x3b};
const unsigned char kAppleBootType[16] = {0x74, 0x6f, 0x6f, 0x42, 0x00, 0x00, 0xaa, 0x11,
                                          0xaa, 0x11, 0x00, 0x30, 0x65, 0x43, 0xec, 0xac};

bool SameGuid(const _GUID& guid, const unsigned char (&bytes)[16])
{
    unsigned char raw[16];
    raw[0] = static_cast<unsigned char>(guid.Data1);
    raw[1] = static_cast<unsigned char>(guid.Data1 >> 8);
    raw[2] = static_cast<unsigned char>(guid.Data1 >> 16);
    raw[3] = static_cast<unsigned char>(guid.Data1 >> 24);
    raw[4] = static_cast<unsigned char>(guid.Data2);
    raw[5] = static_cast<unsigned char>(guid.Data2 >> 8);
    raw[6] = static_cast<unsigned char>(guid.Data3);
    raw[7] = static_cast<unsigned char>(guid.Data3 >> 8);
    std::memcpy(raw + 8, guid.Data4, 8);
    return std::memcmp(raw, bytes, 16) == 0;
}

CCollectDiskDeviceInfoStruct* DiskInfoOf(IStorageDevice* disk)
{
    auto* holder = disk ? dynamic_cast<IDiskDeviceData*>(disk->GetPrivateData()) : nullptr;
    return holder ? holder->GetDiskInfo() : nullptr;
}

}  // namespace

ZRUIDeviceData& ZRUIDeviceData::instance()
{
    static ZRUIDeviceData s_instance(CreateEnumDeviceEx());
    return s_instance;
}

ZRUIDeviceData::ZRUIDeviceData(IEnumDeviceEx* enumerator) : m_pEnumDevice(enumerator) {}

ZRUIDeviceData::~ZRUIDeviceData()
{
    ReleaseOwned();
}

void ZRUIDeviceData::ReleaseOwned()
{
    for (IStorageDevice* device : m_setOwned)
        delete device;
    m_setOwned.clear();
}

void ZRUIDeviceData::InitDeviceInfo()
{
    m_iInitState = 1;
    // Listing again releases the enumerator's devices, and the volumes it
    // made for us hang on them: drop everything first.
    m_mapVolumes.clear();
    m_mapDisks.clear();
    ReleaseOwned();
    if (!m_pEnumDevice || IsResultFailure(m_pEnumDevice->Init()))
        return;
    BuildDiskMap(true);
    BuildVolumeMap(true);
    m_iInitState = 2;
}

void ZRUIDeviceData::Clear()
{
    if (m_iInitState != 2)
        return;
    m_mapVolumes.clear();
    m_mapDisks.clear();
    ReleaseOwned();
    if (m_pEnumDevice)
        m_pEnumDevice->Uninit();
}

void ZRUIDeviceData::ReplaceEnumerator(IEnumDeviceEx* enumerator)
{
    Clear();
    m_mapVolumes.clear();
    m_mapDisks.clear();
    ReleaseOwned();
    m_pEnumDevice = enumerator;
    m_iInitState = 0;
}

void ZRUIDeviceData::BuildDiskMap(bool force)
{
    if (!force && !m_mapDisks.empty())
        return;
    m_mapDisks.clear();
    int count = 0;
    if (IsResultFailure(m_pEnumDevice->EnumDiskDevice(nullptr, count)) || count <= 0)
        return;
    std::vector<IStorageDevice*> list(static_cast<size_t>(count), nullptr);
    if (IsResultFailure(m_pEnumDevice->EnumDiskDevice(list.data(), count)))
        return;
    for (int i = 0; i < count && i < static_cast<int>(list.size()); ++i)
        m_mapDisks[static_cast<unsigned int>(i)] = list[static_cast<size_t>(i)];
}

void ZRUIDeviceData::BuildVolumeMap(bool force)
{
    if (!force && !m_mapVolumes.empty())
        return;
    m_mapVolumes.clear();
    ReleaseOwned();
    for (auto& [index, disk] : m_mapDisks) {
        int count = 0;
        if (IsResultFailure(m_pEnumDevice->EnumVolumeDevice(disk, nullptr, count)) || count < 0)
            continue;
        std::vector<IStorageDevice*> first(static_cast<size_t>(count), nullptr);
        std::vector<IStorageDevice*> second(static_cast<size_t>(count), nullptr);
        int n1 = count, n2 = count;
        if (count > 0 && IsResultFailure(m_pEnumDevice->EnumVolumeDevice(disk, first.data(), n1)))
            continue;
        // The enumerator makes the partitions it offers as volumes anew on
        // every call and leaves them to the caller: a device that differs
        // between two listings is such a one. Keep the first, drop the second.
        if (count > 0 && IsResultFailure(m_pEnumDevice->EnumVolumeDevice(disk, second.data(), n2)))
            n2 = 0;
        std::list<IStorageDevice*>& volumes = m_mapVolumes[disk];
        for (int i = 0; i < n1; ++i) {
            IStorageDevice* kept = first[static_cast<size_t>(i)];
            IStorageDevice* again = i < n2 ? second[static_cast<size_t>(i)] : nullptr;
            if (n2 > 0 && again != kept) {
                m_setOwned.insert(kept);
                delete again;
            }
            volumes.push_back(kept);
        }
        for (int i = n1; i < n2; ++i)
            delete second[static_cast<size_t>(i)];
    }
}

void ZRUIDeviceData::GetAllDeviceInfo(std::list<_DiskVolumeData>& list)
{
    if (m_mapDisks.empty() || !m_pEnumDevice)
        return;
    for (auto& [index, disk] : m_mapDisks) {
        _DiskVolumeData data;
        if (GetDiskDataByStorage(disk, data)) {
            GetDiskVolumeInfo(disk, data.volumes);
            list.push_back(data);
        }
    }
}

void ZRUIDeviceData::GetDiskVolumeInfo(IStorageDevice* disk, std::list<_DiskVolumeData>& list)
{
    auto it = m_mapVolumes.find(disk);
    if (it == m_mapVolumes.end())
        return;
    for (IStorageDevice* volume : it->second) {
        _DiskVolumeData data;
        data.beCanOpen = volume ? volume->IsPermitted() : 0;
        if (GetVolumeDataByStorage(volume, data))
            list.push_back(data);
    }
}

int ZRUIDeviceData::GetDiskDataByStorage(IStorageDevice* disk, _DiskVolumeData& data)
{
    CCollectDiskDeviceInfoStruct* info = DiskInfoOf(disk);
    if (!info)
        return 0;
    const int filled = GetDiskDataByDiskInfo(info, data);
    data.beCanOpen = disk->IsPermitted();
    data.diskIndex = GetDiskIndexByStorage(disk);
    return filled;
}

int ZRUIDeviceData::GetVolumeDataByStorage(IStorageDevice* volume, _DiskVolumeData& data)
{
    CCollectedVolumeDeviceInfoStruct* info = GetVolumeInfo(volume);
    if (!info || !GetVolumeDataByVolumeInfo(info, data))
        return 0;
    IStorageDevice* disk = GetDiskStorageByVolumeStorage(volume);
    data.diskIndex = disk ? GetDiskIndexByStorage(disk) : -1;
    data.volumeIndex = disk ? GetVolumeIndexByStorage(disk, volume) : -1;
    return 1;
}

int ZRUIDeviceData::GetDiskDataByDiskInfo(CCollectDiskDeviceInfoStruct* info, _DiskVolumeData& data)
{
    if (!info || info->iState != 0)
        return 0;
    data.name = info->szRegistryName;
    data.deviceName = info->szBsdName;
    data.capacity = static_cast<unsigned long long>(info->s64SectorSize) *
                    static_cast<unsigned long long>(info->s64TotalSectors);
    data.used = 0;
    data.isDmg = info->iBusType == BUS_TYPE_VIRTUAL ? 1 : 0;
    data.isUsb = info->iBusType == BUS_TYPE_USB ? 1 : 0;
    return 1;
}

int ZRUIDeviceData::GetVolumeDataByVolumeInfo(CCollectedVolumeDeviceInfoStruct* info, _DiskVolumeData& data)
{
    if (!info || info->iState != 0 || !IsSupportVolume(info))
        return 0;
    data.name = info->szVolumeName;
    data.capacity = static_cast<unsigned long long>(info->s64SectorSize) *
                    static_cast<unsigned long long>(info->s64TotalSectors);
    data.used = 0;
    data.fileSystem = info->eFileSystemType;
    return 1;
}

IStorageDevice* ZRUIDeviceData::GetStorageByDiskVolumeIndex(int disk, int volume)
{
    if (disk == -1)
        return nullptr;
    IStorageDevice* device = GetDiskStorageByIndex(disk);
    if (volume == -1)
        return device;
    return GetVolumeStorageByIndex(device, volume);
}

IStorageDevice* ZRUIDeviceData::GetDiskStorageByIndex(int index)
{
    if (index < 0)
        return nullptr;
    auto it = m_mapDisks.find(static_cast<unsigned int>(index));
    return it == m_mapDisks.end() ? nullptr : it->second;
}

IStorageDevice* ZRUIDeviceData::GetVolumeStorageByIndex(IStorageDevice* disk, int index)
{
    auto it = m_mapVolumes.find(disk);
    if (!disk || index < 0 || it == m_mapVolumes.end() || index >= static_cast<int>(it->second.size()))
        return nullptr;
    auto volume = it->second.begin();
    std::advance(volume, index);
    return *volume;
}

bool ZRUIDeviceData::GetDiskVolumeIndexByStorage(IStorageDevice* device, int& disk, int& volume)
{
    disk = -1;
    volume = -1;
    if (!device)
        return false;
    const int diskIndex = GetDiskIndexByStorage(device);
    if (diskIndex != -1) {
        disk = diskIndex;
        return true;
    }
    IStorageDevice* parent = GetDiskStorageByVolumeStorage(device);
    if (!parent)
        return false;
    disk = GetDiskIndexByStorage(parent);
    volume = GetVolumeIndexByStorage(parent, device);
    return true;
}

int ZRUIDeviceData::GetDiskIndexByStorage(IStorageDevice* disk)
{
    for (auto& [index, device] : m_mapDisks)
        if (device == disk)
            return static_cast<int>(index);
    return -1;
}

IStorageDevice* ZRUIDeviceData::GetDiskStorageByVolumeStorage(IStorageDevice* volume)
{
    if (!volume)
        return nullptr;
    for (auto& [disk, volumes] : m_mapVolumes)
        for (IStorageDevice* v : volumes)
            if (v == volume)
                return disk;
    return nullptr;
}

int ZRUIDeviceData::GetVolumeIndexByStorage(IStorageDevice* disk, IStorageDevice* volume)
{
    auto it = m_mapVolumes.find(disk);
    if (it == m_mapVolumes.end())
        return -1;
    int index = 0;
    for (IStorageDevice* v : it->second) {
        if (v == volume)
            return index;
        ++index;
    }
    return -1;
}

bool ZRUIDeviceData::IsDiskStorage(IStorageDevice* device)
{
    return device && m_mapVolumes.count(device) != 0;
}

void ZRUIDeviceData::GetDiskVolumeStorage(IStorageDevice* disk, std::list<IStorageDevice*>& list)
{
    auto it = m_mapVolumes.find(disk);
    if (it != m_mapVolumes.end())
        list = it->second;
}

CCollectedVolumeDeviceInfoStruct* ZRUIDeviceData::GetVolumeInfo(IStorageDevice* device)
{
    if (!device || IsDiskStorage(device))
        return nullptr;
    auto* holder = dynamic_cast<IVolumeDeviceData*>(device->GetPrivateData());
    return holder ? holder->GetVolumeInfo() : nullptr;
}

bool ZRUIDeviceData::IsSupportVolume(CCollectedVolumeDeviceInfoStruct* info)
{
    if (!info || !info->pParentDisk)
        return true;
    CCollectDiskDeviceInfoStruct* disk = DiskInfoOf(info->pParentDisk);
    if (!disk)
        return true;
    switch (disk->iPartitionScheme) {
    case PARTITION_SCHEME_APM:
        return std::strncmp(info->szApmType, "Apple_partition_map", sizeof(info->szApmType)) != 0 &&
               std::strncmp(info->szApmType, "Apple_Free", sizeof(info->szApmType)) != 0;
    case PARTITION_SCHEME_GPT:
        return !SameGuid(info->typeGuid, kEfiSystemType) && !SameGuid(info->typeGuid, kAppleBootType);
    default:
        return true;
    }
}

bool ZRUIDeviceData::IsVolumeStorageSupported(IStorageDevice* volume)
{
    return IsSupportVolume(GetVolumeInfo(volume));
}
