#include <cstring>
#include <memory>

#include "EnumDeviceList.h"
#include "StorageDevice.h"

namespace {

// Sizes closer than this are taken for the same partition: a volume may be
// a little smaller than its table entry.
constexpr long long kSameSizeBytes = 10LL * 1024 * 1024;

void PartitionInfo2VolumeInfo(const CCollectedPartitionDeviceInfoStruct& p, CCollectedVolumeDeviceInfoStruct& v)
{
    v.iState = p.iState;
    v.iReserved2 = 0;
    v.eFileSystemType = p.eFileSystemType;
    std::memcpy(v.szLabel, p.szLabel, sizeof v.szLabel);
    v.szLabel[sizeof v.szLabel - 1] = '\0';
    v.szVolumeName[0] = '\0';
    v.szBsdName[0] = '\0';
    v.s64SectorSize = p.s64SectorSize;
    v.s64TotalSectors = p.s64TotalSectors;
    v.u64DeviceId = p.u64DeviceId;
    v.pParentDisk = p.pParentDisk;
    v.iPartitionNumber = p.iPartitionIndex;
    v.typeGuid = p.typeGuid;
    v.uniqueGuid = p.uniqueGuid;
    std::memcpy(v.szApmType, p.szApmType, sizeof v.szApmType);
    v.szApmType[sizeof v.szApmType - 1] = '\0';
    v.s64StartSector = p.s64StartSector;
    v.iMounted = 0;
}

}  // namespace

ResultCode CVolumePartitionConverter::ConvertPartition2Volume(IStorageDevice* partition, IStorageDevice** volume)
{
    if (!partition)
        return EnumDeviceError::kConvertNoPartition;
    if (!volume)
        return EnumDeviceError::kConvertNoOutput;
    *volume = nullptr;
    if (partition->GetType() != STORAGE_DEVICE_WINDOW)
        return EnumDeviceError::kNotPartitionDevice;
    const CCollectedPartitionDeviceInfoStruct* record = EnumPartitionInfoOf(partition);
    if (!record)
        return EnumDeviceError::kConvertNoPartitionRecord;
    if (record->iState != 0)
        return EnumDeviceError::kConvertRecordNotFresh;
    if (!record->pParentDisk)
        return EnumDeviceError::kConvertNoParentDisk;

    std::unique_ptr<IStorageDevice> device(CreatePartitionVirtualVolumeDevice(partition));
    if (!device)
        return EnumDeviceError::kConvertNoVirtualVolume;
    if (!device->Open(nullptr))
        return EnumDeviceError::kConvertOpenFailed;
    auto* info = new CCollectedVolumeDeviceInfoStruct;
    PartitionInfo2VolumeInfo(*record, *info);
    IVolumeDeviceData* holder = CreateVolumeDeviceData(info);
    if (!holder) {
        delete info;
        return EnumDeviceError::kConvertNoHolder;
    }
    device->SetPrivateData(holder);
    *volume = device.release();
    return 0;
}

bool CMergeVolumeAndPartition::IsPartitionPresent(const CCollectedPartitionDeviceInfoStruct& partition,
                                                  const std::list<IStorageDevice*>& volumes)
{
    for (IStorageDevice* volume : volumes) {
        const CCollectedVolumeDeviceInfoStruct* v = EnumVolumeInfoOf(volume);
        if (!v || v->s64SectorSize != partition.s64SectorSize)
            continue;
        if (v->s64TotalSectors == partition.s64TotalSectors)
            return true;
        // Sizes come from the disk and sysfs; a difference that overflows is
        // no match.
        long long diff = 0, bytes = 0;
        if (__builtin_sub_overflow(v->s64TotalSectors, partition.s64TotalSectors, &diff) || diff == INT64_MIN)
            continue;
        if (diff < 0)
            diff = -diff;
        if (!__builtin_mul_overflow(diff, partition.s64SectorSize, &bytes) && bytes <= kSameSizeBytes)
            return true;
    }
    return false;
}

ResultCode CMergeVolumeAndPartition::MergeAsVolume(const std::list<IStorageDevice*>& volumes,
                                                   const std::list<IStorageDevice*>& partitions,
                                                   std::list<IStorageDevice*>& out)
{
    out.clear();
    std::list<std::unique_ptr<IStorageDevice>> converted;
    for (IStorageDevice* partition : partitions) {
        const CCollectedPartitionDeviceInfoStruct* p = EnumPartitionInfoOf(partition);
        if (p && IsPartitionPresent(*p, volumes))
            continue;
        IStorageDevice* volume = nullptr;
        if (ResultCode rc = CVolumePartitionConverter::ConvertPartition2Volume(partition, &volume))
            return rc;
        converted.emplace_back(volume);
    }
    out = volumes;
    for (auto& volume : converted)
        out.push_back(volume.release());
    return 0;
}
