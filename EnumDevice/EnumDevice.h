// The device enumerator: the machine's disks and, per disk, its volumes and
// its partitions as sector devices, each with the information record the
// user interface shows.
#pragma once

#include <list>
#include <map>
#include <memory>

#include "BlockDevices.h"
#include "IStorageDevice.h"
#include "ResultCode.h"

// Result codes of the enumerator (module 0x03).
namespace EnumDeviceError {
// Init found no disk.
constexpr ResultCode kInitNoDisk = 0x10300a100000001ULL;
// Not initialised, or an object could not be made.
constexpr ResultCode kDisksNotInitialised = 0x10300f200000002ULL;
constexpr ResultCode kPartitionsNotInitialised = 0x103012500000002ULL;
constexpr ResultCode kVolumesNotInitialised = 0x103014f00000002ULL;
constexpr ResultCode kUninitBeforeInit = 0x10300ce00000002ULL;
constexpr ResultCode kVolumesNoTableReader = 0x103005600000002ULL;
constexpr ResultCode kPartitionsNoTableReader = 0x103040f00000002ULL;
constexpr ResultCode kNoPartitionDevice = 0x10300eb00000002ULL;
constexpr ResultCode kNoPartitionHolder = 0x103010600000002ULL;
constexpr ResultCode kConvertNoVirtualVolume = 0x103005500000002ULL;
constexpr ResultCode kConvertOpenFailed = 0x103006900000002ULL;
constexpr ResultCode kConvertNoHolder = 0x103007100000002ULL;
// The partition record of a partition to convert is not filled.
constexpr ResultCode kConvertRecordNotFresh = 0x10300b400000003ULL;
// A disk the enumerator does not know; not a partition device.
constexpr ResultCode kUnknownDisk = 0x10301e400000005ULL;
constexpr ResultCode kNotPartitionDevice = 0x103004600000005ULL;
// Missing record or argument.
constexpr ResultCode kPartitionsNoDisk = 0x103012c00000007ULL;
constexpr ResultCode kVolumesNoDisk = 0x103015600000007ULL;
constexpr ResultCode kConvertNoPartition = 0x103002400000007ULL;
constexpr ResultCode kConvertNoOutput = 0x103002c00000007ULL;
constexpr ResultCode kConvertNoPartitionRecord = 0x103003400000007ULL;
constexpr ResultCode kConvertNoParentDisk = 0x103003c00000007ULL;
constexpr ResultCode kRecordNoPartitionInfo = 0x103005d00000007ULL;
constexpr ResultCode kRecordNoVolumeInfo = 0x103006500000007ULL;
constexpr ResultCode kMergeNoVolumeRecord = 0x103006d00000007ULL;
// The caller's list is too small.
constexpr ResultCode kDiskListTooSmall = 0x103010400000009ULL;
constexpr ResultCode kVolumeListTooSmall = 0x10301f700000009ULL;
constexpr ResultCode kPartitionListTooSmall = 0x103017300000009ULL;
}  // namespace EnumDeviceError

// The three enumeration operations share one protocol: with a null list,
// count receives the number of devices; with a list, count holds its capacity
// on entry and the number written on return; a capacity below the number of
// devices fails with kind 9, except that for disks and partitions a capacity
// of 0 returns 0 at once with nothing written.
class IEnumDeviceEx {
public:
    virtual ~IEnumDeviceEx() = default;
    // Lists every disk with its volumes and partitions; 0x10300a100000001
    // when there is no disk. Running it again first releases the old lists.
    virtual ResultCode Init() = 0;
    // Releases every disk, volume and partition device. It must not run
    // while a scan or a recovery still uses one of them: the devices it
    // handed out are deleted.
    virtual ResultCode Uninit() = 0;
    virtual ResultCode EnumDiskDevice(IStorageDevice** list, int& count) = 0;
    virtual ResultCode EnumPartitionDevice(const IStorageDevice* disk, IStorageDevice** list, int& count) = 0;
    // The disk's volumes, then its partitions that match no volume as
    // virtual volumes. Those virtual volumes are new on every call and the
    // caller deletes them; the others stay the enumerator's.
    virtual ResultCode EnumVolumeDevice(const IStorageDevice* disk, IStorageDevice** list, int& count) = 0;
};

// The list builder used by Init. Each operation clears the list and fills
// it; the devices are the caller's.
class IEnumDevice {
public:
    virtual ~IEnumDevice() = default;
    virtual ResultCode EnumDiskDevice(std::list<IStorageDevice*>& list) = 0;
    virtual ResultCode EnumPartitionDevice(const IStorageDevice* disk, std::list<IStorageDevice*>& list) = 0;
    virtual ResultCode EnumVolumeDevice(const IStorageDevice* disk, std::list<IStorageDevice*>& list) = 0;
};

class CEnumDeviceEx : public IEnumDeviceEx {
public:
    // Reads the machine's devices through platform (the real /sys, /dev,
    // mount table and udev data by default).
    explicit CEnumDeviceEx(CBlockDevices platform = CBlockDevices());
    ~CEnumDeviceEx() override;
    CEnumDeviceEx(const CEnumDeviceEx&) = delete;
    CEnumDeviceEx& operator=(const CEnumDeviceEx&) = delete;

    ResultCode Init() override;
    ResultCode Uninit() override;
    ResultCode EnumDiskDevice(IStorageDevice** list, int& count) override;
    ResultCode EnumPartitionDevice(const IStorageDevice* disk, IStorageDevice** list, int& count) override;
    ResultCode EnumVolumeDevice(const IStorageDevice* disk, IStorageDevice** list, int& count) override;

private:
    void ReleaseDevices();

    CBlockDevices m_platform;
    int m_iInitialised = 0;
    std::unique_ptr<IEnumDevice> m_pEnumDevice;
    std::list<IStorageDevice*> m_listDisks;
    std::map<const IStorageDevice*, std::list<IStorageDevice*>> m_mapVolumes;
    std::map<const IStorageDevice*, std::list<IStorageDevice*>> m_mapPartitions;
};

// The single process-wide enumerator over the real machine, made on the
// first call and never destroyed: a scan thread may still hold one of its
// devices while the process exits.
IEnumDeviceEx* CreateEnumDeviceEx();
