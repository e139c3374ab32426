#include "EnumDevice.h"

#include <iterator>


#include "EnumDeviceList.h"

namespace {

// Copies list into out under the shared protocol of the three operations.
ResultCode HandOut(const std::list<IStorageDevice*>& list, IStorageDevice** out, int& count, bool zeroCapacityIsOk,
                   ResultCode tooSmall)
{
    const int n = static_cast<int>(list.size());
    if (!out) {
        count = n;
        return 0;
    }
    if (count == 0 && zeroCapacityIsOk)
        return 0;
    if (count < n)
        return tooSmall;
    int i = 0;
    for (IStorageDevice* device : list)
        out[i++] = device;
    count = n;
    return 0;
}

}  // namespace

CEnumDeviceEx::CEnumDeviceEx(CBlockDevices platform) : m_platform(std::move(platform)) {}

CEnumDeviceEx::~CEnumDeviceEx()
{
    ReleaseDevices();
}

void CEnumDeviceEx::ReleaseDevices()
{
    // Volumes and partitions point at their disk: they go first.
    for (auto& [disk, volumes] : m_mapVolumes)
        for (IStorageDevice* volume : volumes)
            delete volume;
    for (auto& [disk, partitions] : m_mapPartitions)
        for (IStorageDevice* partition : partitions)
            delete partition;
    for (IStorageDevice* disk : m_listDisks)
        delete disk;
    m_mapVolumes.clear();
    m_mapPartitions.clear();
    m_listDisks.clear();
}

ResultCode CEnumDeviceEx::Init()
{
    if (m_iInitialised)
        Uninit();
    m_pEnumDevice = std::make_unique<CEnumDevice>(m_platform);
    m_pEnumDevice->EnumDiskDevice(m_listDisks);
    if (m_listDisks.empty()) {
        m_iInitialised = 1;
        Uninit();
        return EnumDeviceError::kInitNoDisk;
    }
    for (IStorageDevice* disk : m_listDisks) {
        // A failure leaves the devices listed before it; the disk stays.
        m_pEnumDevice->EnumVolumeDevice(disk, m_mapVolumes[disk]);
        m_pEnumDevice->EnumPartitionDevice(disk, m_mapPartitions[disk]);
    }
    m_iInitialised = 1;
    return 0;
}

ResultCode CEnumDeviceEx::Uninit()
{
    if (!m_iInitialised)
        return EnumDeviceError::kUninitBeforeInit;
    ReleaseDevices();
    m_pEnumDevice.reset();
    m_iInitialised = 0;
    return 0;
}

ResultCode CEnumDeviceEx::EnumDiskDevice(IStorageDevice** list, int& count)
{
    if (!m_iInitialised)
        return EnumDeviceError::kDisksNotInitialised;
    return HandOut(m_listDisks, list, count, true, EnumDeviceError::kDiskListTooSmall);
}

ResultCode CEnumDeviceEx::EnumPartitionDevice(const IStorageDevice* disk, IStorageDevice** list, int& count)
{
    if (!m_iInitialised)
        return EnumDeviceError::kPartitionsNotInitialised;
    if (!disk)
        return EnumDeviceError::kPartitionsNoDisk;
    auto it = m_mapPartitions.find(disk);
    if (it == m_mapPartitions.end())
        return EnumDeviceError::kUnknownDisk;
    return HandOut(it->second, list, count, true, EnumDeviceError::kPartitionListTooSmall);
}

ResultCode CEnumDeviceEx::EnumVolumeDevice(const IStorageDevice* disk, IStorageDevice** list, int& count)
{
    if (!m_iInitialised)
        return EnumDeviceError::kVolumesNotInitialised;
    if (!disk)
        return EnumDeviceError::kVolumesNoDisk;
    auto volumes = m_mapVolumes.find(disk);
    auto partitions = m_mapPartitions.find(disk);
    if (volumes == m_mapVolumes.end() || partitions == m_mapPartitions.end())
        return EnumDeviceError::kUnknownDisk;

    std::list<IStorageDevice*> merged;
    if (ResultCode rc = CMergeVolumeAndPartition::MergeAsVolume(volumes->second, partitions->second, merged))
        return rc;
    // Everything after the disk's own volumes was made for this call.
    auto deleteMade = [&] {
        auto it = merged.begin();
        std::advance(it, volumes->second.size());
        for (; it != merged.end(); ++it)
            delete *it;
    };
    ResultCode rc = HandOut(merged, list, count, false, EnumDeviceError::kVolumeListTooSmall);
    if (!list || rc)
        deleteMade();
    return rc;
}

IEnumDeviceEx* CreateEnumDeviceEx()
{
    static CEnumDeviceEx* const s_pEnumDevice = new CEnumDeviceEx();
    return s_pEnumDevice;
}
