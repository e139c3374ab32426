// The pieces behind the enumerator: building the disk, volume and partition
// lists from the platform layer, their order, and partitions offered as
// volumes.
#pragma once

#include <list>
#include <map>
#include <vector>

#include "BlockDevices.h"
#include "DeviceInfo.h"
#include "EnumDevice.h"
#include "PartitionTableAnalyze.h"

// Typed records behind a device's holder; null when the device has none of
// that kind.
CCollectDiskDeviceInfoStruct* EnumDiskInfoOf(IStorageDevice* device);
CCollectedVolumeDeviceInfoStruct* EnumVolumeInfoOf(IStorageDevice* device);
CCollectedPartitionDeviceInfoStruct* EnumPartitionInfoOf(IStorageDevice* device);

// The order of the lists: disks by BSD name (byte order), partitions by
// partition index, volumes by partition number. Lists hold one kind of
// device; devices of different types are ranked by type only so that the
// order stays a strict weak order.
class CDevListSortAlgorithm {
public:
    bool operator()(IStorageDevice* a, IStorageDevice* b) const;
    static void Sort(std::list<IStorageDevice*>& list);
};

// The disk's partition-table entries: none when the table cannot be read,
// one whole-disk entry (index -1) when it is read and lists nothing.
ResultCode GetPartEntryList(IStorageDevice* disk, std::list<PartitionEntry>& entries, ResultCode noReader);

class CEnumDisk {
public:
    // One disk device per listed sysfs entry, sorted; facts receives what
    // sysfs said about each.
    static ResultCode ExecEnum(const CBlockDevices& platform, std::list<IStorageDevice*>& list,
                               std::map<const IStorageDevice*, BlockDiskFacts>& facts);
    // False for optical and memory devices, device-mapper and RAID
    // composites, unattached loop devices and disks below 8 MiB.
    static bool IsListedDisk(const BlockDiskFacts& disk);
};

class CEnumVolume {
public:
    static ResultCode ExecEnum(IStorageDevice* disk, const BlockDiskFacts& facts, const CBlockMountTable& mounts,
                               std::list<IStorageDevice*>& list);
    // An MBR extended container as the kernel shows it: numbered 1-4 and at
    // most two 512-byte units (one logical sector on a 4Kn disk).
    static bool IsExtendedContainer(const BlockPartitionFacts& part, long long sectorSize);
};

class CEnumPartition {
public:
    static ResultCode ExecEnum(IStorageDevice* disk, std::list<IStorageDevice*>& list);
};

class CEnumDevice : public IEnumDevice {
public:
    explicit CEnumDevice(const CBlockDevices& platform);
    ResultCode EnumDiskDevice(std::list<IStorageDevice*>& list) override;
    ResultCode EnumPartitionDevice(const IStorageDevice* disk, std::list<IStorageDevice*>& list) override;
    ResultCode EnumVolumeDevice(const IStorageDevice* disk, std::list<IStorageDevice*>& list) override;

private:
    const CBlockDevices& m_platform;
    std::map<const IStorageDevice*, BlockDiskFacts> m_mapDiskFacts;
};

class CVolumePartitionConverter {
public:
    // A new, opened virtual volume over the partition's place on its disk,
    // with a volume record made from the partition record. The caller owns
    // *volume.
    static ResultCode ConvertPartition2Volume(IStorageDevice* partition, IStorageDevice** volume);
};

class CMergeVolumeAndPartition {
public:
    // out = the volumes in their order, then every partition that no volume
    // matches, converted to a virtual volume (new devices, the caller's).
    // A partition matches a volume of the same sector size whose size is
    // equal or within 10 MiB; starts are not compared. On failure out holds
    // nothing new.
    static ResultCode MergeAsVolume(const std::list<IStorageDevice*>& volumes,
                                    const std::list<IStorageDevice*>& partitions, std::list<IStorageDevice*>& out);
    static bool IsPartitionPresent(const CCollectedPartitionDeviceInfoStruct& partition,
                                   const std::list<IStorageDevice*>& volumes);
};
